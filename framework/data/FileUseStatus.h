// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How one procedure on one thread uses one table (an entry of a thread file map's status list).

#include <cstdint>
#include <string>

struct FileUseStatus {
  std::int32_t Thread = 0;       // runtime thread number
  std::string Proc;              // the procedure's name
  std::intptr_t ID = 0;          // the table's file label
  std::uint8_t UStat = 0;        // highest use level the procedure asked for
  std::uint16_t Hold = 0;        // id of the table state saved for the procedure; 0 none
  std::uint16_t ScopeLevel = 0;  // 1 for the first procedure on this thread, +1 for each later
  std::uint16_t NestedOpen = 0;  // opens by the same procedure beyond the first
};
