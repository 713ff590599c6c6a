// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One key in a file manager's key list (added with AddKey).

#include <cstdint>
#include <string>
#include <vector>

#include "framework/data/KeyComponentEntry.h"
#include "platform/runtime/files/FileKey.h"

struct KeyEntry {
  const rt::FileKey* Key = nullptr;
  std::string Description;                // at most 80 characters
  std::vector<KeyComponentEntry> Fields;  // the components
  std::uint8_t AutoInc = 0;               // number (from 1) of the auto-numbered component; 0 none
  std::uint8_t Dups = 0;                  // the key allows duplicates
  std::uint8_t NoCase = 0;                // the key ignores letter case
};
