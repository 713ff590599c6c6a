// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One event queue per runtime thread. Any thread may post to any thread; the owner waits
// for the next event in its window's event loop.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace rt {

struct EventMessage {
  int event = 0;
  int control = 0;
  int windowId = 0;  // 0: the thread's active window
  int keyCode = 0;
  // Screen input carried with a user's action: the new text of an entry or the new choice
  // of a list, applied to the control before the event is handled.
  std::optional<std::string> screenText;
  std::optional<int> screenChoice;
  // The list cell under the mouse press behind this event (1-based column and row, 0 when
  // the press hit no cell), kept as the list's mouse-down column and row.
  std::optional<int> mouseColumn;
  std::optional<int> mouseRow;
  // The part of the list the press hit (a listzone value), kept as the mouse-down zone.
  std::optional<int> mouseZone;
  // Notification payload (Notify events).
  int notifyCode = 0;
  int notifyThread = 0;
  long notifyParameter = 0;
  // The local files dropped on the control (DroppedFiles events), absolute names.
  std::vector<std::string> files;
  // Part of an accept-all pass (dropped when the pass is cut short).
  bool acceptAllPass = false;
  // Work handed to the thread by another one: run by the thread's event loop, which then
  // waits for the next message (see PostTask).
  std::function<void()> task;
};

class EventQueue {
 public:
  void Post(EventMessage message);
  // Puts a message before everything queued (used by the accept-all pass).
  void PostFront(EventMessage message);
  // Waits for the next message. Returns nothing when `timeout` passes first.
  std::optional<EventMessage> Wait(std::chrono::milliseconds timeout);
  bool Empty() const;
  // True when a message with this event for this control is queued.
  bool Holds(int event, int control) const;
  // Removes the queued messages of an accept-all pass.
  void DropAcceptAllPass();
  // True while the owner thread waits in Wait() with nothing queued.
  bool Idle() const;
  // A close-down request: every window of the thread closes, including windows opened later.
  void RequestCloseDown();
  bool CloseDownRequested() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<EventMessage> queue_;
  bool waiting_ = false;
  bool closeDown_ = false;
};

// The queue of a runtime thread (made on first use).
std::shared_ptr<EventQueue> ThreadEvents(int thread);
// The calling thread's queue.
EventQueue& MyEvents();
// Drops a thread's queue when the thread ends; it is not made again on a later use.
void ForgetThreadEvents(int thread);
// Posts an event to a control of a thread (0: the calling thread). Returns false when the
// thread does not exist.
bool Post(int event, int control = 0, int thread = 0);
bool PostMessage(int thread, EventMessage message);
// The event the screen sends when files from the desktop are dropped on a control: the
// DroppedFiles event with the names (empty ones left out).
EventMessage DroppedFilesMessage(int control, std::vector<std::string> files);
// Hands work to a thread: its event loop runs the task on that thread, between events,
// whichever of its windows is looping. Returns false when the thread does not exist.
bool PostTask(int thread, std::function<void()> task);
// Asks a thread to close all its windows. False when the thread has no queue (it has ended).
bool PostCloseDown(int thread);
// True when every runtime thread that has a queue, the caller excepted, is waiting for
// events with none queued.
bool AllThreadsIdle();

}  // namespace rt
