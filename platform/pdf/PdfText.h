// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Copying UTF-8 text into fixed buffers without writing past them or splitting a character.

#include <cstddef>
#include <string_view>

namespace rt {

class PdfText {
 public:
  // The length of the longest prefix of `text` of at most `limit` bytes that ends on a
  // character boundary.
  static std::size_t PrefixLength(std::string_view text, std::size_t limit);

  // Copies as much of `text` as fits in `capacity` bytes of `buffer`, whole characters only,
  // and writes a terminating zero after it when a byte is left over. Returns the number of
  // text bytes copied. A null buffer or zero capacity copies nothing.
  static std::size_t CopyTo(std::string_view text, char* buffer, std::size_t capacity);
};

}  // namespace rt
