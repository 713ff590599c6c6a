// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/windows/PopupMenu.h"

namespace rt {

namespace {

// Splits one item's raw text into its marks, attribute block and text.
PopupItem ParseItem(std::string_view raw) {
  PopupItem item;
  if (raw == "-") {
    item.separator = true;
    return item;
  }
  std::size_t i = 0;
  for (bool more = true; more && i < raw.size();) {
    switch (raw[i]) {
      case '~':
        item.disabled = true;
        ++i;
        break;
      case '+':
        item.checked = true;
        ++i;
        break;
      case '-':
        item.checked = false;
        ++i;
        break;
      case '[': {
        const std::size_t end = raw.find(']', i);
        if (end == std::string_view::npos) {
          more = false;
          break;
        }
        item.attributes = std::string(raw.substr(i + 1, end - i - 1));
        i = end + 1;
        break;
      }
      default:
        more = false;
        break;
    }
  }
  item.text = std::string(raw.substr(i));
  return item;
}

const PopupItem* FindIn(const std::vector<PopupItem>& items, int number) {
  for (const auto& it : items) {
    if (it.number == number) return &it;
    if (const PopupItem* c = FindIn(it.children, number)) return c;
  }
  return nullptr;
}

}  // namespace

PopupMenu PopupMenu::Parse(std::string_view text) {
  PopupMenu menu;
  std::vector<std::vector<PopupItem>*> stack{&menu.items_};
  std::string raw;
  // Ends the item being read; `opensMenu` when it is followed by "{".
  auto flush = [&](bool opensMenu) {
    if (raw.empty() && !opensMenu) return;
    PopupItem item = ParseItem(raw);
    raw.clear();
    if (!opensMenu && !item.separator) item.number = ++menu.count_;
    stack.back()->push_back(std::move(item));
    if (opensMenu) stack.push_back(&stack.back()->back().children);
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '[') {
      // An attribute block may contain the structural marks; copy it whole.
      const std::size_t end = text.find(']', i);
      if (end == std::string_view::npos) {
        raw.append(text.substr(i));
        break;
      }
      raw.append(text.substr(i, end - i + 1));
      i = end;
    } else if (c == '|') {
      flush(false);
    } else if (c == '{') {
      flush(true);
    } else if (c == '}') {
      flush(false);
      if (stack.size() > 1) stack.pop_back();
    } else {
      raw.push_back(c);
    }
  }
  flush(false);
  return menu;
}

const PopupItem* PopupMenu::Find(int number) const {
  return FindIn(items_, number);
}

}  // namespace rt
