// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfText.h"

#include <cstring>

namespace rt {

std::size_t PdfText::PrefixLength(std::string_view text, std::size_t limit) {
  if (limit >= text.size()) return text.size();
  std::size_t end = limit;
  // Step back over continuation bytes (10xxxxxx) so the cut lands before a lead byte. A
  // character has at most three of them; more means broken text, cut where asked.
  while (end > 0 && limit - end < 3 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  if ((static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) return limit;
  return end;
}

std::size_t PdfText::CopyTo(std::string_view text, char* buffer, std::size_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  const std::size_t count = PrefixLength(text, capacity);
  std::memcpy(buffer, text.data(), count);
  if (count < capacity) buffer[count] = '\0';
  return count;
}

}  // namespace rt
