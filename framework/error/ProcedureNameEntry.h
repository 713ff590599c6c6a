// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A procedure name registered by a thread; the newest of a thread is its "%Procedure".

#include <cstdint>
#include <string>

struct ProcedureNameEntry {
  std::int32_t Thread = 0;  // the runtime's thread number
  std::string Name;
};
