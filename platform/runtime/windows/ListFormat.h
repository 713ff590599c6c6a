// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// List format strings, parsed into columns. A column is written as
//   width alignment[(indent)] modifiers [~header~[alignment[(indent)]]] [@picture@]
// e.g. "64R(2)|M~ID~C(0)@n-14@80L(2)|M~File Name~L(2)@s80@": two columns, the first 64
// dialog units wide, right-aligned with indent 2, a right border ("|"), resizable ("M"),
// header "ID" centred, picture "n-14".

#include <string>
#include <string_view>
#include <vector>

namespace rt {

// Height in dialog units of a list row and of the list's header: the runtime counts the rows
// a list shows (its items) from them, and the screen draws rows that high.
inline constexpr int kListRowHeight = 10;
inline constexpr int kListHeaderHeight = 10;

// Colours: 0xBBGGRR, a system colour (kSystemColor plus its index) or kColorNone (the
// control's default).
inline constexpr long kColorNone = -1;
inline constexpr long kSystemColor = 0x80000000L;
inline constexpr long kColorGrayText = kSystemColor + 17;  // the system's grey (disabled) text

struct ListColumn {
  int width = 0;
  char align = 'L';  // L, R, C or D (decimal)
  int indent = 0;
  bool rightBorder = false;
  bool resizable = false;
  bool underline = false;
  bool fixed = false;
  std::string header;
  char headerAlign = 'L';
  int headerIndent = 0;
  std::string picture;
  long textColor = kColorNone;
};

class ListFormat {
 public:
  // Parses a format string. A malformed column ends the parse; the columns read so far stay.
  static ListFormat Parse(std::string_view format);
  const std::vector<ListColumn>& Columns() const { return columns_; }
  bool Complete() const { return complete_; }

 private:
  std::vector<ListColumn> columns_;
  bool complete_ = true;
};

}  // namespace rt
