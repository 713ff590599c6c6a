// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Stores files dropped on the browse as new DemoData records, one after another on the
// browse's thread: each file is checked and stored as the document form stores a picked file
// at OK (a name the record keeps exactly and not one of the table's own files, its bytes
// copied by LoadBlobFromFile, a PDF the view can open) and inserted as a record of its own
// with the next number. Each insert stands alone, so a file that is refused or fails to be
// stored loses none of the others, and a cancel keeps what was stored before it. Progress
// is shown while it runs; one message at the end names the files refused and why.

#include <cstdint>
#include <string>
#include <vector>

namespace rt {
class Progress;
}

inline constexpr int kMsgDroppedFilesRefused = 1630;

class DocumentImport {
 public:
  struct Refusal {
    std::string name;
    std::string reason;
  };

  // Stores the files in order until all are done or the progress is cancelled. The calling
  // thread's DemoData file manager must be open; its record buffer then holds the last
  // record stored (or what it held before, when none was).
  void Run(const std::vector<std::string>& files, rt::Progress& progress);
  // One message for what was not stored (refused files, a cancel); none when all were.
  void Report() const;

  int Stored = 0;
  std::int32_t LastId = 0;  // DEM:ID of the last record stored
  std::vector<Refusal> Refused;
  int NotTried = 0;  // files left when the import was cancelled
  bool Cancelled = false;

 private:
  // Stores one file; "" when stored, else why it was refused.
  std::string StoreOne(const std::string& name);
};
