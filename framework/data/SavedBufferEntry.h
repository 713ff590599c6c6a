// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A saved copy of a record, of one of its BLOBs or of its null flags.

#include <cstdint>
#include <string>

struct SavedBufferEntry {
  std::int32_t Id = 0;
  std::string Buffer;
};
