// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TempDir.h"

#include <stdlib.h>

#include <fstream>

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir(std::string_view prefix) {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return;
  std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

std::string TempDir::File(std::string_view name) const {
  return (path_ / name).string();
}

std::string TempDir::Write(std::string_view name, std::string_view bytes) const {
  const std::string file = File(name);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return file;
}

}  // namespace testing_support
