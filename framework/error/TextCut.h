// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Cutting texts to a bounded buffer size without splitting a multi-byte UTF-8 character.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/runtime/values/Text.h"

// The longest prefix of text that has at most maxBytes bytes and ends on a character boundary.
inline std::string_view CutText(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
    --end;
  return text.substr(0, end);
}

// Stores a value into a C-string buffer of `capacity` (at most capacity - 1 characters kept),
// trailing blanks removed.
inline void AssignCString(std::string& dest, std::string_view value, std::size_t capacity) {
  dest.assign(CutText(rt::TrimRight(value), capacity > 0 ? capacity - 1 : 0));
}
