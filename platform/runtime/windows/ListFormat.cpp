// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/windows/ListFormat.h"

#include <cctype>

namespace rt {

namespace {

bool ReadNumber(std::string_view s, std::size_t& i, int& out) {
  std::size_t start = i;
  int v = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - start < 6) {
    v = v * 10 + (s[i] - '0');
    ++i;
  }
  if (i == start) return false;
  out = v;
  return true;
}

// Reads "(n)" when present.
bool ReadIndent(std::string_view s, std::size_t& i, int& out) {
  if (i >= s.size() || s[i] != '(') return true;
  ++i;
  bool negative = i < s.size() && s[i] == '-';
  if (negative) ++i;
  if (!ReadNumber(s, i, out) || i >= s.size() || s[i] != ')') return false;
  if (negative) out = -out;
  ++i;
  return true;
}

bool IsAlign(char c) {
  return c == 'L' || c == 'R' || c == 'C' || c == 'D';
}

}  // namespace

ListFormat ListFormat::Parse(std::string_view s) {
  ListFormat result;
  std::size_t i = 0;
  while (i < s.size()) {
    ListColumn col;
    if (!ReadNumber(s, i, col.width) || i >= s.size() || !IsAlign(s[i])) {
      result.complete_ = false;
      break;
    }
    col.align = s[i++];
    if (!ReadIndent(s, i, col.indent)) {
      result.complete_ = false;
      break;
    }
    bool ok = true;
    bool done = false;
    while (ok && !done && i < s.size() && !std::isdigit(static_cast<unsigned char>(s[i]))) {
      const char c = s[i++];
      switch (c) {
        case '|':
          col.rightBorder = true;
          break;
        case 'M':
          col.resizable = true;
          break;
        case '_':
          col.underline = true;
          break;
        case 'F':
          col.fixed = true;
          break;
        case '~': {
          const std::size_t end = s.find('~', i);
          if (end == std::string_view::npos) {
            ok = false;
            break;
          }
          col.header = std::string(s.substr(i, end - i));
          i = end + 1;
          if (i < s.size() && IsAlign(s[i])) {
            col.headerAlign = s[i++];
            ok = ReadIndent(s, i, col.headerIndent);
          }
          break;
        }
        case '@': {
          const std::size_t end = s.find('@', i);
          if (end == std::string_view::npos) {
            ok = false;
            break;
          }
          col.picture = std::string(s.substr(i, end - i));
          i = end + 1;
          done = true;  // the picture closes the column
          break;
        }
        default:
          // Other modifiers (colours, styles, icons) are accepted and ignored, with their
          // bracketed arguments.
          if (i < s.size() && s[i] == '(') {
            const std::size_t end = s.find(')', i);
            if (end == std::string_view::npos)
              ok = false;
            else
              i = end + 1;
          }
          break;
      }
    }
    if (!ok) {
      result.complete_ = false;
      break;
    }
    result.columns_.push_back(std::move(col));
  }
  return result;
}

}  // namespace rt
