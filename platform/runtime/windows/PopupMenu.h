// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The runtime's popup syntax, parsed into a tree of items.
//   "|" separates items; "-" alone is a separator; "{" opens a submenu whose text is the
//   item before it ("Sort{By Name|By Date}"); "}" closes it; a leading "~" greys an item;
//   a leading "+" checks it ("-" before the text unchecks: "-Item"); a bracketed block
//   "[...]" before the text carries attributes (icons) and is kept as is.
// Selectable items are numbered from 1 in reading order; separators and submenu headings
// take no number.

#include <string>
#include <string_view>
#include <vector>

namespace rt {

struct PopupItem {
  std::string text;
  std::string attributes;  // the bracketed block, without brackets
  int number = 0;          // 0 for separators and submenu headings
  bool separator = false;
  bool disabled = false;
  bool checked = false;
  std::vector<PopupItem> children;  // a submenu
};

class PopupMenu {
 public:
  static PopupMenu Parse(std::string_view text);
  const std::vector<PopupItem>& Items() const { return items_; }
  int Count() const { return count_; }
  // The item with that number, or nullptr.
  const PopupItem* Find(int number) const;

 private:
  std::vector<PopupItem> items_;
  int count_ = 0;
};

}  // namespace rt
