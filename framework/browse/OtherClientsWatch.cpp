// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/OtherClientsWatch.h"

#include <utility>

#include "platform/runtime/files/File.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Window.h"

OtherClientsWatch::~OtherClientsWatch() {
  Stop();
}

bool OtherClientsWatch::Start(rt::File& file, const rt::Window& window, int event, int control) {
  if (tried_) return Active();
  tried_ = true;
  if (!file.IsOpen() || !window.IsOpen()) return false;
  auto pending = std::make_shared<Pending>();
  // The message is made here, on the window's thread: the driver's thread reads nothing of
  // the window, which belongs to this thread and may close at any time.
  rt::EventMessage message;
  message.event = event;
  message.control = control;
  message.windowId = window.Id();
  const int thread = window.Thread();
  watch_ = file.WatchOtherClients([pending, message, thread] {
    if (pending->posted.exchange(true)) return;
    // A closed window's thread drops the message unread.
    static_cast<void>(rt::PostMessage(thread, message));
  });
  if (watch_) pending_ = std::move(pending);
  return Active();
}

void OtherClientsWatch::Stop() {
  watch_.reset();
  pending_.reset();
  tried_ = false;
}

void OtherClientsWatch::Rearm() {
  if (pending_) pending_->posted.store(false);
}
