// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Feeds the error window's list from a snapshot of the error history: the list asks for its
// rows when it is drawn (message text in column 1, category in column 2).

#include <cstdint>
#include <string>
#include <vector>

#include "framework/error/HistoryEntry.h"
#include "framework/window/WindowComponent.h"

namespace rt {
class Window;
}
class ErrorManager;

// The list control of the error window.
inline constexpr int kErrorListControl = 200;

class HistoryListHandler : public WindowComponent {
 public:
  ErrorManager* Err = nullptr;
  const std::vector<HistoryEntry>* History = nullptr;  // the records shown, oldest first
  std::int16_t LBColumns = 0;
  rt::Window* Win = nullptr;

  HistoryListHandler(rt::Window& window, ErrorManager& errors,
                     const std::vector<HistoryEntry>& history);

  void Kill() override;
  void Reset(std::uint8_t force) override;
  bool ResetRequired() override;
  void SetAlerts() override;
  ErrorLevel TakeEvent() override;
  void Update() override;
  void UpdateWindow() override;

  // When the window has opened: gives the list its row count and column count and makes it
  // ask this object for its rows. Always 0: the loop goes on.
  virtual ErrorLevel TakeWindowEvent();
  // Row -1: the number of records; -2: the number of columns; -3 (has the data changed?):
  // always "1"; a row from 1: column 1 the text, column 2 the category, others empty.
  virtual std::string GetListData(int row, int column);
};
