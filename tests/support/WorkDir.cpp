#include "support/WorkDir.h"

#include <stdlib.h>

#include <fstream>

namespace testing_support {

namespace fs = std::filesystem;

WorkDir::WorkDir(std::string_view prefix) : previous_(fs::current_path()) {
  std::string pattern = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
  if (!mkdtemp(pattern.data())) return;
  path_ = pattern;
  fs::current_path(path_);
}

WorkDir::~WorkDir() {
  std::error_code ec;
  fs::current_path(previous_, ec);
  if (!path_.empty()) fs::remove_all(path_, ec);
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

std::vector<rt::UiRequest> MessagesOf(const rt::HeadlessBackend& backend) {
  std::vector<rt::UiRequest> messages;
  for (auto& request : backend.Transcript())
    if (request.kind == "message") messages.push_back(request);
  return messages;
}

}  // namespace testing_support
