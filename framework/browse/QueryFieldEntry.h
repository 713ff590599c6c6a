// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One queryable column of a query-by-example manager.

#include <cstdint>
#include <string>

struct QueryFieldEntry {
  std::string Name;     // the column's expression in the filter (a label, or UPPER(label))
  std::string Title;    // caption shown in the query window
  std::string Picture;  // display picture without the leading "@"; its first letter is the kind
  std::string Low;      // lower bound of a range (may start with an operator)
  std::string Middle;   // single value or pattern (may start with an operator)
  std::string High;     // upper bound of a range
  std::uint8_t ForceEditPicture = 0;  // keep the value as typed
};
