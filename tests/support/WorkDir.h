// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A fresh folder that is the working directory while the object lives: the tables, INI files
// and logs a test makes stay apart from every other test's (on the server driver, the
// process's database is emptied as well).

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/windows/HeadlessBackend.h"
#include "support/TempDir.h"

namespace testing_support {

class WorkDir {
 public:
  explicit WorkDir(std::string_view prefix);
  // Goes back to the previous working directory and removes the folder.
  ~WorkDir();
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  bool Ok() const { return dir_.Ok(); }
  const std::filesystem::path& Path() const { return dir_.Path(); }

 private:
  std::filesystem::path previous_;
  TempDir dir_;
};

std::vector<std::string> ReadLines(const std::filesystem::path& path);
// The message boxes of a transcript.
std::vector<rt::UiRequest> MessagesOf(const rt::HeadlessBackend& backend);
// Their captions, in the order shown.
std::vector<std::string> CaptionsOf(const rt::HeadlessBackend& backend);

}  // namespace testing_support
