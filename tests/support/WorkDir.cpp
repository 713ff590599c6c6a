// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/WorkDir.h"

#include <fstream>

#include "support/TestDriver.h"

namespace testing_support {

namespace fs = std::filesystem;

WorkDir::WorkDir(std::string_view prefix) : previous_(fs::current_path()), dir_(prefix) {
  if (dir_.Ok()) fs::current_path(dir_.Path());
  FreshTables();
}

WorkDir::~WorkDir() {
  // Leave the folder before it is removed (with dir_, after this body).
  std::error_code ec;
  fs::current_path(previous_, ec);
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

std::vector<std::string> CaptionsOf(const rt::HeadlessBackend& backend) {
  std::vector<std::string> captions;
  for (auto& message : MessagesOf(backend))
    captions.push_back(message.caption);
  return captions;
}

}  // namespace testing_support
