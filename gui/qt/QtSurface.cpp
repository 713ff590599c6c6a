// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtSurface.h"

#include <QCloseEvent>
#include <algorithm>
#include <atomic>

#include "platform/runtime/windows/Events.h"

namespace gui {

namespace {
std::atomic<std::uint64_t> gSent{0};
}  // namespace

std::uint64_t QtSurface::Sent() {
  return gSent.load();
}

void QtSurface::Send(rt::EventMessage message) const {
  ++gSent;
  message.windowId = id_;
  rt::PostMessage(thread_, std::move(message));
}

void QtSurface::Send(int event, int control) const {
  rt::EventMessage m;
  m.event = event;
  m.control = control;
  Send(std::move(m));
}

void QtSurface::SetBlocked(bool blocked) {
  blocked_ = std::max(0, blocked_ + (blocked ? 1 : -1));
  UpdateInputState();
}

void QtSurface::AskToClose(QCloseEvent* event) const {
  if (Closing()) {
    event->accept();
    return;
  }
  event->ignore();
  if (TakesInput()) Send(rt::event::kCloseWindow);
}

}  // namespace gui
