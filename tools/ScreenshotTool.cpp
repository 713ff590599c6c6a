// SPDX-License-Identifier: GPL-3.0-or-later
// pagelet-screenshot: the program as it starts, saving a picture of its frame once the frame
// has been shown and idle for a moment (scripts/screenshot runs it under a virtual display and
// ends it afterwards). Not part of the shipped program.
//
//   pagelet-screenshot OUT.png                    the frame as it opens
//   pagelet-screenshot OUT.png --viewer DOC.pdf   DOC.pdf stored in a new record and the
//                                                 document viewer opened on that record
//   pagelet-screenshot OUT.png --browse FILE...   each file stored in a new record and the
//                                                 document browse opened over them
//   pagelet-screenshot OUT.png --search QUERY FILE...  each file stored in a new record,
//                                                 indexed, and the search window opened on
//                                                 QUERY

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/BrowseData.h"
#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/LoadBlobFromFile.h"
#include "app/SearchDocuments.h"
#include "app/Startup.h"
#include "app/TextIndexer.h"
#include "app/ViewBlob.h"
#include "gui/qt/QtBackend.h"
#include "gui/qt/QtPdfSurface.h"
#include "platform/runtime/threads/Threads.h"

namespace {

// Stores each file in a new record of the table; false when the table would not open.
bool StoreSample(const std::vector<std::string>& files) {
  DemoDataRelationManager* relations = DemoDataRelationManagerRef();
  if (relations == nullptr || relations->Open() != LevelQuiet) return false;
  for (const std::string& file : files) {
    // The managers show their own failures; a sample that is not stored is simply missing.
    static_cast<void>(DemoDataFileManagerRef()->PrepareRecord());
    SetDemoDataFileName(file);
    if (LoadBlobFromFile(DemoData(), kDemoDataBlob, file) == 0)
      static_cast<void>(relations->Insert());
  }
  return true;
}

// The viewer on the last record stored, opened inside the frame once the frame is up.
void ViewStoredCopy(const std::string& file) {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  if (!StoreSample({file})) return;
  ViewBlob(DemoData(), kDemoDataBlob);
  static_cast<void>(DemoDataRelationManagerRef()->Close());  // never fails
}

void BrowseSample(const std::vector<std::string>& files) {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  if (!StoreSample(files)) return;
  static_cast<void>(DemoDataRelationManagerRef()->Close());  // never fails
  BrowseData();
}

// The search window on the query once the files are stored and indexed.
void SearchSample(const std::string& query, const std::vector<std::string>& files) {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  if (!StoreSample(files)) return;
  static_cast<void>(DemoDataRelationManagerRef()->Close());  // never fails
  // Indexed here rather than waiting for the indexer's next look at the table.
  std::unique_ptr<rt::TextIndex> index;
  if (TextIndexer::OpenIndex(index) == 0)
    static_cast<void>(TextIndexer::IndexPending(*index, [] { return false; }));
  index.reset();
  SearchDocuments(query);
}

int Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s OUT.png [--viewer DOC.pdf | --browse FILE... | --search QUERY FILE...]\n",
               program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(argv[0]);
  const std::string out = argv[1];
  const std::string mode = argc > 2 ? argv[2] : "";
  const std::vector<std::string> files(argv + std::min(argc, 3), argv + argc);
  if (!mode.empty() && mode != "--viewer" && mode != "--browse" && mode != "--search")
    return Usage(argv[0]);
  if (mode == "--viewer" && files.size() != 1) return Usage(argv[0]);
  if (mode == "--search" && files.size() < 2) return Usage(argv[0]);
  return RunApplication([&](const std::function<void()>& programMain) {
    gui::InstallPdfSurfaces();
    return gui::RunDesktop(
        argv[0],
        [&] {
          if (mode == "--viewer")
            rt::Start([&](const std::vector<std::string>&) { ViewStoredCopy(files.front()); });
          if (mode == "--browse")
            rt::Start([&](const std::vector<std::string>&) { BrowseSample(files); }, 25000);
          if (mode == "--search") {
            rt::Start(
                [&](const std::vector<std::string>&) {
                  SearchSample(files.front(), {files.begin() + 1, files.end()});
                },
                25000);
          }
          programMain();
        },
        out);
  });
}
