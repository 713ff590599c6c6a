// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtSurface.h"

#include <atomic>

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

}  // namespace gui
