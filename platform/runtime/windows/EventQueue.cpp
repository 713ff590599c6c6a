// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/windows/EventQueue.h"

#include <map>
#include <set>

#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/Events.h"

namespace rt {

namespace {
// A message that carries no screen input, key, task or notification.
bool PlainPost(const EventMessage& m) {
  return !m.task && m.keyCode == 0 && !m.screenText && !m.screenChoice && !m.mouseColumn &&
         !m.mouseRow && !m.mouseZone && m.notifyCode == 0 && !m.acceptAllPass;
}
}  // namespace

void EventQueue::Post(EventMessage message) {
  {
    std::lock_guard lock(mutex_);
    // A thumb drag or a jump to an end makes a still-queued one of the same control stale:
    // when the thread is behind, only the latest is acted on.
    const int e = message.event;
    if (e == event::kScrollDrag || e == event::kScrollTop || e == event::kScrollBottom) {
      std::erase_if(queue_, [&](const EventMessage& q) {
        return !q.task && q.control == message.control && q.windowId == message.windowId &&
               (q.event == event::kScrollDrag || q.event == event::kScrollTop ||
                q.event == event::kScrollBottom);
      });
    }
    // A new selection a procedure posts to a control carries no input: it only asks the
    // owner to act on the control's current choice, so a still-queued one says nothing more.
    // Holding a key that scrolls a list would otherwise queue one behind every step.
    if (e == event::kNewSelection && PlainPost(message)) {
      std::erase_if(queue_, [&](const EventMessage& q) {
        return q.event == event::kNewSelection && q.control == message.control &&
               q.windowId == message.windowId && PlainPost(q);
      });
    }
    queue_.push_back(std::move(message));
  }
  ready_.notify_all();
}

void EventQueue::PostFront(EventMessage message) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_front(std::move(message));
  }
  ready_.notify_all();
}

std::optional<EventMessage> EventQueue::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  waiting_ = true;
  const bool got = ready_.wait_for(lock, timeout, [&] { return !queue_.empty(); });
  waiting_ = false;
  if (!got) return std::nullopt;
  EventMessage m = std::move(queue_.front());
  queue_.pop_front();
  return m;
}

bool EventQueue::Empty() const {
  std::lock_guard lock(mutex_);
  return queue_.empty();
}

bool EventQueue::Holds(int event, int control) const {
  std::lock_guard lock(mutex_);
  for (const EventMessage& m : queue_)
    if (m.event == event && m.control == control) return true;
  return false;
}

void EventQueue::DropAcceptAllPass() {
  std::lock_guard lock(mutex_);
  std::erase_if(queue_, [](const EventMessage& m) { return m.acceptAllPass; });
}

bool EventQueue::Idle() const {
  std::lock_guard lock(mutex_);
  return waiting_ && queue_.empty();
}

void EventQueue::RequestCloseDown() {
  {
    std::lock_guard lock(mutex_);
    closeDown_ = true;
    EventMessage m;
    m.event = event::kCloseDown;
    queue_.push_back(m);
  }
  ready_.notify_all();
}

bool EventQueue::CloseDownRequested() const {
  std::lock_guard lock(mutex_);
  return closeDown_;
}

namespace {
std::mutex gQueuesMutex;
std::map<int, std::shared_ptr<EventQueue>>& Queues() {
  static std::map<int, std::shared_ptr<EventQueue>> queues;
  return queues;
}
// Threads whose queue was dropped when they ended. Their numbers are never given out again
// (thread 1 excepted, which a new program run reopens), so nothing may bring the queue back:
// posts to them fail and they never count as busy.
std::set<int>& Ended() {
  static std::set<int> ended;
  return ended;
}
}  // namespace

std::shared_ptr<EventQueue> ThreadEvents(int thread) {
  std::lock_guard lock(gQueuesMutex);
  Ended().erase(thread);
  auto& q = Queues()[thread];
  if (!q) q = std::make_shared<EventQueue>();
  return q;
}

EventQueue& MyEvents() {
  // Kept alive by this thread even when its entry is dropped while the thread still runs.
  thread_local std::shared_ptr<EventQueue> mine;
  const int me = ThreadNumber();
  std::lock_guard lock(gQueuesMutex);
  auto it = Queues().find(me);
  if (it != Queues().end()) {
    mine = it->second;
  } else if (!Ended().contains(me)) {
    mine = Queues()[me] = std::make_shared<EventQueue>();
  } else if (!mine) {
    // Code run after the thread ended (destructors at exit): a private queue that closes
    // whatever is opened.
    mine = std::make_shared<EventQueue>();
    mine->RequestCloseDown();
  }
  return *mine;
}

void ForgetThreadEvents(int thread) {
  std::lock_guard lock(gQueuesMutex);
  Queues().erase(thread);
  Ended().insert(thread);
}

EventMessage DroppedFilesMessage(int control, std::vector<std::string> files) {
  EventMessage m;
  m.event = event::kDroppedFiles;
  m.control = control;
  std::erase_if(files, [](const std::string& name) { return name.empty(); });
  m.files = std::move(files);
  return m;
}

bool PostMessage(int thread, EventMessage message) {
  if (thread == 0) thread = ThreadNumber();
  std::shared_ptr<EventQueue> q;
  {
    std::lock_guard lock(gQueuesMutex);
    auto it = Queues().find(thread);
    if (it != Queues().end()) q = it->second;
  }
  if (!q) {
    if (thread != ThreadNumber()) return false;
    MyEvents().Post(std::move(message));
    return true;
  }
  q->Post(std::move(message));
  return true;
}

bool Post(int event, int control, int thread) {
  EventMessage m;
  m.event = event;
  m.control = control;
  return PostMessage(thread, std::move(m));
}

bool PostTask(int thread, std::function<void()> task) {
  EventMessage m;
  m.task = std::move(task);
  return PostMessage(thread, std::move(m));
}

bool PostCloseDown(int thread) {
  std::shared_ptr<EventQueue> q;
  {
    std::lock_guard lock(gQueuesMutex);
    auto it = Queues().find(thread);
    if (it != Queues().end()) q = it->second;
  }
  if (!q) return false;
  q->RequestCloseDown();
  return true;
}

bool AllThreadsIdle() {
  const int me = ThreadNumber();
  std::lock_guard lock(gQueuesMutex);
  for (auto& [n, q] : Queues())
    if (n != me && !q->Idle()) return false;
  return true;
}

}  // namespace rt
