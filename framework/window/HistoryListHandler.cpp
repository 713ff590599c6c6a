// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/window/HistoryListHandler.h"

#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"

HistoryListHandler::HistoryListHandler(rt::Window& window, ErrorManager& errors,
                                       const std::vector<HistoryEntry>& history)
    : Err(&errors), History(&history), Win(&window) {}

void HistoryListHandler::Kill() {}

void HistoryListHandler::Reset(std::uint8_t) {}

bool HistoryListHandler::ResetRequired() {
  return false;
}

void HistoryListHandler::SetAlerts() {}

ErrorLevel HistoryListHandler::TakeEvent() {
  return TakeWindowEvent();
}

void HistoryListHandler::Update() {}

void HistoryListHandler::UpdateWindow() {
  if (Win) Win->Display(kErrorListControl);
}

ErrorLevel HistoryListHandler::TakeWindowEvent() {
  if (!Win || Win->Event() != rt::event::kOpenWindow || Win->Field() != 0) return LevelQuiet;
  const long records = History ? static_cast<long>(History->size()) : 0;
  Win->SetProp(kErrorListControl, rt::prop::kListRecords, records);
  LBColumns = static_cast<std::int16_t>(Win->PropNumber(kErrorListControl, rt::prop::kListColumns));
  Win->SetListSource(kErrorListControl,
                     [this](int row, int column) { return GetListData(row, column); });
  // The newest message, the one being presented, is the highlighted row.
  if (records > 0) Win->SetChoice(kErrorListControl, static_cast<int>(records));
  return LevelQuiet;
}

std::string HistoryListHandler::GetListData(int row, int column) {
  const int records = History ? static_cast<int>(History->size()) : 0;
  switch (row) {
    case -1:
      return std::to_string(records);
    case -2:
      return std::to_string(LBColumns);
    case -3:
      return "1";
    default:
      break;
  }
  if (row < 1 || row > records) return {};
  const HistoryEntry& entry = (*History)[static_cast<std::size_t>(row - 1)];
  // The text as recorded: the list takes each cell as a value of its own, so a "|" in it is
  // shown as it is and never read as part of the list's format.
  if (column == 1) return entry.Txt;
  if (column == 2) return entry.Category;
  return {};
}
