#pragma once
// A fresh folder that is the working directory while the object lives: the tables, INI files
// and logs a test makes stay apart from every other test's.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/windows/HeadlessBackend.h"

namespace testing_support {

class WorkDir {
 public:
  explicit WorkDir(std::string_view prefix);
  // Goes back to the previous working directory and removes the folder.
  ~WorkDir();
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;

  bool Ok() const { return !path_.empty(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path path_;
};

std::vector<std::string> ReadLines(const std::filesystem::path& path);
// The message boxes of a transcript.
std::vector<rt::UiRequest> MessagesOf(const rt::HeadlessBackend& backend);

}  // namespace testing_support
