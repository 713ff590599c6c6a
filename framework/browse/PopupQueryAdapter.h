// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Lets the query manager put its saved-query entries into a browse's popup menu: the
// QueryPopup operations carried out on a PopupManager. Submenus are items followed by
// deeper items, as the popup manager keeps them.

#include "framework/browse/QueryPopup.h"

class PopupManager;

class PopupQueryAdapter : public QueryPopup {
 public:
  explicit PopupQueryAdapter(PopupManager& popup) : popup_(popup) {}

  std::int32_t GetItems() override;
  std::string AddItem(std::string_view text, std::string_view name,
                      std::string_view menu = {}) override;
  void AddSubMenu(std::string_view text, std::string_view name) override;
  void SetItemEvent(std::string_view name, std::int32_t event, std::int32_t control) override;
  void SetItemEnable(std::string_view name, bool enabled) override;
  void DeleteItem(std::string_view name) override;
  std::string GetLastSelection() override;

 private:
  PopupManager& popup_;
};
