// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One named filter of a sort order. The list is kept ordered by ID, highest first, so the ids
// fix the order in which filters are joined ("9 - QBE" before "5 Standard").

#include <memory>
#include <string>

inline constexpr std::size_t kFilterIdLength = 30;

struct FilterEntry {
  std::string ID;                       // at most kFilterIdLength characters
  std::unique_ptr<std::string> Filter;  // the filter expression
};
