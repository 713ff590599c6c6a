// SPDX-License-Identifier: GPL-3.0-or-later
// Writes arbitrary bytes as an INI file, reads every section and entry of it, then changes,
// deletes and re-reads entries, checking that a written value reads back.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/runtime/settings/IniFile.h"
#include "platform/runtime/threads/ErrorCodes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // In memory when possible: every write syncs the file, which is slow on a disk.
  static const std::string path =
      std::string(::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/fuzz-ini-" +
      std::to_string(::getpid()) + ".ini";
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  rt::IniFile ini(path);
  for (const std::string& section : ini.Sections()) {
    for (const std::string& entry : ini.Entries(section))
      ini.Get(section, entry, "?");
  }
  // Names and a value taken from the input itself.
  std::string input(reinterpret_cast<const char*>(data), size);
  std::string section = input.substr(0, input.size() / 3);
  std::string entry = input.substr(input.size() / 3, input.size() / 3);
  std::string value = input.substr(2 * (input.size() / 3));
  if (ini.Put(section, entry, value) == rt::kNoError) {
    if (ini.Get(section, entry, "\n") != value) __builtin_trap();
    ini.DeleteEntry(section, entry);
    if (ini.Has(section, entry)) __builtin_trap();
  }
  ini.Put("Fixed", "k", "v");
  if (ini.Get("fixed", "K") != "v") __builtin_trap();
  ini.DeleteSection("Fixed");
  std::remove(path.c_str());
  return 0;
}
