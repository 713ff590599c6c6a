// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small text helpers shared by the runtime and the drivers: trimming, cutting and ASCII case.
// Case changes touch only A-Z and a-z, so texts of any encoding keep their other bytes.

#include <algorithm>
#include <string>
#include <string_view>

namespace rt {

inline constexpr std::string_view kBlanks = " \t";
inline constexpr std::string_view kWhitespace = " \t\n\v\f\r";

// The text without the given characters at its end (by default, trailing spaces).
// A plain loop: the library's search looks each character up in `chars` with a call of its
// own, which costs more than the padding of a wide field is worth.
inline std::string_view TrimRight(std::string_view text, std::string_view chars = " ") {
  std::size_t end = text.size();
  if (chars.size() == 1) {
    while (end > 0 && text[end - 1] == chars[0])
      --end;
    return text.substr(0, end);
  }
  while (end > 0) {
    const char c = text[end - 1];
    bool trimmed = false;
    for (char t : chars)
      trimmed = trimmed || t == c;
    if (!trimmed) break;
    --end;
  }
  return text.substr(0, end);
}

// The text without the given characters at either end.
inline std::string_view Trim(std::string_view text, std::string_view chars = " ") {
  const std::size_t start = text.find_first_not_of(chars);
  return start == std::string_view::npos ? std::string_view()
                                         : TrimRight(text.substr(start), chars);
}

// How much of the text fits in `limit` bytes when it is cut there: never part of a UTF-8
// character, whose bytes all go when the cut would fall inside it. Bytes that are not
// UTF-8 are cut where the limit falls.
inline std::size_t Utf8CutLength(std::string_view text, std::size_t limit) {
  auto continuation = [&](std::size_t i) {
    return (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
  };
  if (text.size() <= limit || !continuation(limit)) return std::min(text.size(), limit);
  // A character is at most four bytes: its lead byte is at most three before the cut.
  std::size_t start = limit;
  while (start > 0 && limit - start < 3 && continuation(start - 1))
    --start;
  if (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0xC0) return start - 1;
  return limit;
}

inline char UpperChar(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
inline char LowerChar(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline std::string Upper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = UpperChar(c);
  return out;
}
inline std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = LowerChar(c);
  return out;
}

// Whether two names are the same when ASCII case is ignored (labels, keys, file names).
inline bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (UpperChar(a[i]) != UpperChar(b[i])) return false;
  return true;
}

}  // namespace rt
