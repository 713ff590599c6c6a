// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The part of a popup menu the query manager uses to offer saved queries: entries by name,
// a submenu, separators, enabling, and the name of the entry last chosen. The browse's popup
// manager provides it through a small adapter.

#include <cstdint>
#include <string>
#include <string_view>

class QueryPopup {
 public:
  virtual ~QueryPopup() = default;
  // Number of entries in the menu.
  virtual std::int32_t GetItems() = 0;
  // Adds an entry (text "-" is a separator) at the end of the menu or, with `menu`, at the
  // end of that submenu; returns the name it was given.
  virtual std::string AddItem(std::string_view text, std::string_view name,
                              std::string_view menu = {}) = 0;
  virtual void AddSubMenu(std::string_view text, std::string_view name) = 0;
  // The entry posts `event` to `control` of the menu's window when chosen.
  virtual void SetItemEvent(std::string_view name, std::int32_t event, std::int32_t control) = 0;
  virtual void SetItemEnable(std::string_view name, bool enabled) = 0;
  virtual void DeleteItem(std::string_view name) = 0;
  virtual std::string GetLastSelection() = 0;
};
