// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One entry of the error manager's message table.

#include <cstdint>
#include <string>

struct ErrorEntry {
  std::int32_t Id = 0;  // compared on its low 16 bits (identifiers are 16-bit unsigned)
  std::string Message;  // the text, with %-placeholders; "|" starts a new line when shown
  std::string Title;
  std::uint8_t Fatality = 0;  // ErrorLevel
  std::string Category;       // empty unless set with SetCategory
};
