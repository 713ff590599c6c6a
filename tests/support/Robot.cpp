// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Robot.h"

#include <thread>

#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"

namespace testing_support {

namespace {
bool Matches(const rt::WindowView& w, std::string_view key) {
  if (w.caption == key || w.name == key) return true;
  return w.module + "$" + w.name == key;
}

template <typename Pred>
bool PollUntil(std::chrono::milliseconds timeout, Pred pred) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}
}  // namespace

Robot::Robot(std::shared_ptr<rt::HeadlessBackend> backend, std::chrono::milliseconds timeout)
    : backend_(std::move(backend)), timeout_(timeout) {}

int Robot::WaitForWindow(std::string_view key) {
  int found = 0;
  PollUntil(timeout_, [&] {
    for (const auto& w : backend_->Windows())
      if (Matches(w, key)) found = std::max(found, w.id);
    return found != 0;
  });
  return found;
}

int Robot::CountWindows(std::string_view key) const {
  int n = 0;
  for (const auto& w : backend_->Windows())
    if (Matches(w, key)) ++n;
  return n;
}

bool Robot::WaitClosed(int windowId) {
  return PollUntil(timeout_, [&] { return !backend_->FindWindow(windowId).has_value(); });
}

bool Robot::WaitUntil(const std::function<bool()>& condition) {
  return PollUntil(timeout_, condition);
}

bool Robot::WaitIdle() {
  // Idle must hold twice in a row: a thread may be between two events.
  return PollUntil(timeout_, [&] {
    if (!rt::AllThreadsIdle()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return rt::AllThreadsIdle();
  });
}

std::optional<rt::WindowView> Robot::Window(int windowId) const {
  return backend_->FindWindow(windowId);
}

std::optional<rt::ControlView> Robot::Control(int windowId, int control) const {
  auto w = Window(windowId);
  if (!w) return std::nullopt;
  for (const auto& c : w->controls)
    if (c.number == control) return c;
  return std::nullopt;
}

bool Robot::Accepts(int windowId, int control) const {
  auto w = Window(windowId);
  if (!w || !w->enabled) return false;
  if (control == 0) return true;
  auto c = Control(windowId, control);
  return c && !c->disabled && !c->hidden;
}

bool Robot::Send(int windowId, rt::EventMessage message) {
  auto w = Window(windowId);
  if (!w) return false;
  message.windowId = windowId;
  return rt::PostMessage(w->thread, std::move(message));
}

bool Robot::Post(int windowId, int event, int control) {
  rt::EventMessage m;
  m.event = event;
  m.control = control;
  return Send(windowId, std::move(m));
}

bool Robot::Press(int windowId, int control) {
  if (!Accepts(windowId, control)) return false;
  return Post(windowId, rt::event::kAccepted, control);
}

bool Robot::Type(int windowId, int control, std::string_view text) {
  if (!Accepts(windowId, control)) return false;
  auto c = Control(windowId, control);
  if (c->readOnly) return false;
  backend_->FocusControl(windowId, control);  // typing into a control puts the focus there
  rt::EventMessage m;
  m.event = rt::event::kAccepted;
  m.control = control;
  m.screenText = std::string(text);
  return Send(windowId, std::move(m));
}

bool Robot::SetCheck(int windowId, int control, bool on) {
  return Type(windowId, control, on ? "1" : "0");
}

bool Robot::PickRow(int windowId, int control, int row) {
  if (!Accepts(windowId, control)) return false;
  rt::EventMessage m;
  m.event = rt::event::kNewSelection;
  m.control = control;
  m.screenChoice = row;
  return Send(windowId, std::move(m));
}

bool Robot::DoubleClickRow(int windowId, int control, int row) {
  if (!PickRow(windowId, control, row)) return false;
  return SendKey(windowId, control, rt::key::kMouseLeft2);
}

bool Robot::ClickCell(int windowId, int control, int row, int column) {
  if (!Accepts(windowId, control)) return false;
  rt::EventMessage m;
  m.event = rt::event::kNewSelection;
  m.control = control;
  m.screenChoice = row;
  m.mouseColumn = column;
  m.mouseRow = row;
  m.mouseZone = rt::listzone::kRow;
  return Send(windowId, std::move(m));
}

bool Robot::DoubleClickCell(int windowId, int control, int row, int column) {
  if (!ClickCell(windowId, control, row, column)) return false;
  return SendDoubleClick(windowId, control, column, row, rt::listzone::kRow);
}

bool Robot::DoubleClickOutsideRows(int windowId, int control, int zone) {
  if (!Accepts(windowId, control)) return false;
  return SendDoubleClick(windowId, control, 0, 0, zone);
}

bool Robot::SendDoubleClick(int windowId, int control, int column, int row, int zone) {
  rt::EventMessage m;
  m.event = rt::event::kAlertKey;
  m.control = control;
  m.keyCode = rt::key::kMouseLeft2;
  m.mouseColumn = column;
  m.mouseRow = row;
  m.mouseZone = zone;
  return Send(windowId, std::move(m));
}

bool Robot::DragThumb(int windowId, int control, int position) {
  if (!Accepts(windowId, control)) return false;
  rt::EventMessage m;
  m.event = rt::event::kScrollDrag;
  m.control = control;
  m.screenChoice = position;
  return Send(windowId, std::move(m));
}

bool Robot::ChooseMenu(int windowId, std::string_view itemText) {
  auto w = Window(windowId);
  if (!w) return false;
  for (const auto& c : w->controls)
    if (c.type == rt::ctl::kItem && c.text == itemText) return ChooseMenu(windowId, c.number);
  return false;
}

bool Robot::ChooseMenu(int windowId, int item) {
  return Press(windowId, item);
}

bool Robot::SendKey(int windowId, int control, int keyCode) {
  if (!Accepts(windowId, control)) return false;
  rt::EventMessage m;
  m.event = rt::event::kAlertKey;
  m.control = control;
  m.keyCode = keyCode;
  return Send(windowId, std::move(m));
}

bool Robot::CloseWindow(int windowId) {
  auto w = Window(windowId);
  if (!w || !w->enabled) return false;
  return Post(windowId, rt::event::kCloseWindow);
}

bool Robot::ResizeWindow(int windowId, int width, int height) {
  rt::EventMessage m;
  m.event = rt::event::kSized;
  m.screenText = std::to_string(width) + "," + std::to_string(height);
  return Send(windowId, std::move(m));
}

std::string Robot::Text(int windowId, int control) const {
  auto c = Control(windowId, control);
  return c ? c->text : std::string();
}

std::string Robot::ScreenText(int windowId, int control) const {
  auto c = Control(windowId, control);
  return c ? c->screenText : std::string();
}

bool Robot::Enabled(int windowId, int control) const {
  return Accepts(windowId, control);
}

}  // namespace testing_support
