// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The interface through which the error manager writes its log. Each operation returns 0 on
// success and LevelNotify (5) on failure.

#include <cstdint>
#include <string_view>

class ErrorLogInterface {
 public:
  virtual ~ErrorLogInterface() = default;
  // Drops one open; closes the file when the last open goes or when forced.
  virtual std::uint8_t Close(std::uint8_t force) = 0;
  // Counts one open; opens (creating when missing) the file on the first open or when forced.
  virtual std::uint8_t Open(std::uint8_t force) = 0;
  // Appends one line; fails when the log is not open.
  virtual std::uint8_t Take(std::string_view line) = 0;
};
