// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The registry: string values by root key, key path and value name, kept in a per-user INI
// file ($XDG_CONFIG_HOME/pagelet-demo/registry.ini, with ~/.config when XDG_CONFIG_HOME is
// unset, empty or not absolute). Each key path is one section, named by the root key in hex
// and the path: "80000000\Software\Demo". Key paths use "\" (a "/" is taken as "\"), match
// without regard to case, and ignore leading, trailing and doubled separators.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/settings/IniFile.h"

namespace rt {

class RegistryStore {
 public:
  // The root used when a caller gives 0.
  static constexpr std::uint32_t kDefaultRoot = 0x80000000u;

  // The per-user file, its path taken from the environment now.
  RegistryStore();
  // A store kept in the given file (tests, or a caller with its own location).
  explicit RegistryStore(std::string_view filePath);

  const std::string& FilePath() const { return file_.Path(); }

  // The value, or `defaultValue` when the key or the value is missing.
  std::string Get(std::uint32_t root, std::string_view keyPath, std::string_view name,
                  std::string_view defaultValue = {}) const;
  bool Has(std::uint32_t root, std::string_view keyPath, std::string_view name) const;
  // Writes a string value, creating the key and the file's folder as needed. Returns kNoError
  // or the error code (the thread's runtime error is set): kBadNameError for an empty value
  // name or a value with a line break, or the file's own failure.
  int Put(std::uint32_t root, std::string_view keyPath, std::string_view name,
          std::string_view value);
  // Removes a value; removing a missing one succeeds.
  int Delete(std::uint32_t root, std::string_view keyPath, std::string_view name);
  // Removes a key with all its values (not its subkeys).
  int DeleteKey(std::uint32_t root, std::string_view keyPath);

  // The per-user file's path from the environment.
  static std::string DefaultFilePath();
  // The section that holds a key's values.
  static std::string SectionName(std::uint32_t root, std::string_view keyPath);

 private:
  IniFile file_;
};

}  // namespace rt
