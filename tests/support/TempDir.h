// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes away.

#include <filesystem>
#include <string>
#include <string_view>

namespace testing_support {

class TempDir {
 public:
  explicit TempDir(std::string_view prefix = "test");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // False when the folder could not be made.
  bool Ok() const { return !path_.empty(); }
  const std::filesystem::path& Path() const { return path_; }
  // The full name of a file in the folder.
  std::string File(std::string_view name) const;
  // Writes bytes to a file in the folder; returns its full name.
  std::string Write(std::string_view name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

}  // namespace testing_support
