// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A saved state of a table: its saved buffer run, the runtime's file state and the position.

#include <cstdint>
#include <string>

struct SavedStateEntry {
  std::uint16_t Buffer = 0;  // id of the saved buffer run
  std::uint16_t Id = 0;
  std::uint8_t AutoIncDone = 0;
  std::uint8_t BlobChanged = 0;  // the BLOBs had been written since the record was read
  std::int32_t State = 0;        // the runtime's file-state handle
  std::string Pos;               // position in the primary key, or in the file
};
