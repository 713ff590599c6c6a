// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Acts as a user on the headless backend: finds windows, presses controls, types, picks
// rows, chooses menu items, sends keys, answers dialogs, and reads what the screen shows.
// Input to a disabled control or to a window that takes no input is refused (false).

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/HeadlessBackend.h"

namespace testing_support {

class Robot {
 public:
  explicit Robot(std::shared_ptr<rt::HeadlessBackend> backend,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10));

  rt::HeadlessBackend& Backend() { return *backend_; }

  // Waits for an open window whose caption or definition name ("module$name" or the name
  // alone) matches; when several match, the newest. Returns its id, or 0 on timeout.
  int WaitForWindow(std::string_view captionOrName);
  // Waits until the window is closed.
  bool WaitClosed(int windowId);
  // Waits until every runtime thread waits for events with nothing queued.
  bool WaitIdle();
  // Waits until `condition` holds (asked every few milliseconds); false on timeout.
  bool WaitUntil(const std::function<bool()>& condition);
  std::optional<rt::WindowView> Window(int windowId) const;
  std::optional<rt::ControlView> Control(int windowId, int control) const;
  int CountWindows(std::string_view captionOrName) const;

  bool Press(int windowId, int control);
  bool Type(int windowId, int control, std::string_view text);
  bool SetCheck(int windowId, int control, bool on);
  bool PickRow(int windowId, int control, int row);
  bool DoubleClickRow(int windowId, int control, int row);
  // A left click (or double click) on a list cell: the row is selected and the list's
  // mouse-down column and row name the cell.
  bool ClickCell(int windowId, int control, int row, int column);
  bool DoubleClickCell(int windowId, int control, int row, int column);
  // A left double click on a list's header or below its last row (a listzone value).
  bool DoubleClickOutsideRows(int windowId, int control, int zone);
  // Drags the list's scroll-bar thumb to `position` (0-100) and lets it go.
  bool DragThumb(int windowId, int control, int position);
  // Chooses a menu item by its text ("&Browse Data") or, with a number, by item number.
  bool ChooseMenu(int windowId, std::string_view itemText);
  bool ChooseMenu(int windowId, int item);
  bool SendKey(int windowId, int control, int keyCode);
  bool CloseWindow(int windowId);
  // Drops files from the file manager on a control (see HeadlessBackend::DropFiles).
  bool DropFiles(int windowId, int control, std::vector<std::string> files) {
    return backend_->DropFiles(windowId, control, std::move(files));
  }
  // Resizes the window's client area as a user dragging its border would (dialog units).
  bool ResizeWindow(int windowId, int width, int height);
  bool Post(int windowId, int event, int control = 0);

  // Answers for the next dialogs.
  void Answer(int button) { backend_->PushAnswer(button); }
  void AnswerFile(std::string fileName) { backend_->PushFile(std::move(fileName)); }

  std::string Text(int windowId, int control) const;
  std::string ScreenText(int windowId, int control) const;
  bool Enabled(int windowId, int control) const;
  // The control that has the keyboard focus in the window (0: none).
  int Focused(int windowId) const { return backend_->Focus(windowId); }

 private:
  bool Accepts(int windowId, int control) const;
  bool Send(int windowId, rt::EventMessage message);
  bool SendDoubleClick(int windowId, int control, int column, int row, int zone);

  std::shared_ptr<rt::HeadlessBackend> backend_;
  std::chrono::milliseconds timeout_;
};

}  // namespace testing_support
