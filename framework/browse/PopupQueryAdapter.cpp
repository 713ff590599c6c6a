// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/PopupQueryAdapter.h"

#include <string>

#include "framework/util/PopupManager.h"

std::int32_t PopupQueryAdapter::GetItems() {
  return popup_.GetItems();
}

std::string PopupQueryAdapter::AddItem(std::string_view text, std::string_view name,
                                       std::string_view menu) {
  const std::int32_t head = menu.empty() ? 0 : popup_.FindItem(menu);
  if (head == 0 || !popup_.PopupItems) return popup_.AddItem(text, name);
  // Appended after the submenu's last entry, one level below its heading.
  const auto& items = *popup_.PopupItems;
  const std::size_t headAt = static_cast<std::size_t>(head - 1);
  const std::int32_t depth = items[headAt].Depth + 1;
  std::size_t last = headAt;
  while (last + 1 < items.size() && items[last + 1].Depth >= depth)
    ++last;
  const std::string after(items[last].Name.View());
  return popup_.AddItem(text, name, after, depth);
}

void PopupQueryAdapter::AddSubMenu(std::string_view text, std::string_view name) {
  popup_.AddItem(text, name);
}

void PopupQueryAdapter::SetItemEvent(std::string_view name, std::int32_t event,
                                     std::int32_t control) {
  popup_.AddItemEvent(name, event, control);
}

void PopupQueryAdapter::SetItemEnable(std::string_view name, bool enabled) {
  popup_.SetItemEnable(name, enabled);
}

void PopupQueryAdapter::DeleteItem(std::string_view name) {
  popup_.DeleteItem(name);
}

std::string PopupQueryAdapter::GetLastSelection() {
  return popup_.GetLastSelection();
}
