// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One presented message kept in the error manager's history.

#include <cstdint>
#include <string>

// Longest history text kept (a C string of 1024).
inline constexpr std::size_t kHistoryTextSize = 1024;

struct HistoryEntry {
  std::string Category;
  std::string Txt;       // the presented text
  std::uint16_t Id = 0;  // the entry identifier (16-bit unsigned like every identifier)
};
