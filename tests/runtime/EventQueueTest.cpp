// SPDX-License-Identifier: GPL-3.0-or-later
// The event queue drops work that a newer event makes stale while the owner is behind.

#include "platform/runtime/windows/EventQueue.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/runtime/windows/Events.h"

namespace {

namespace ev = rt::event;

rt::EventMessage Message(int event, int control, int window = 7, int choice = -1) {
  rt::EventMessage m;
  m.event = event;
  m.control = control;
  m.windowId = window;
  if (choice >= 0) m.screenChoice = choice;
  return m;
}

// The queued messages as (event, control, screen choice or -1).
std::vector<std::vector<int>> Drain(rt::EventQueue& q) {
  std::vector<std::vector<int>> out;
  while (auto m = q.Wait(std::chrono::milliseconds(0)))
    out.push_back({m->event, m->control, m->screenChoice.value_or(-1)});
  return out;
}

TEST(EventQueueTest, NewerThumbMoveReplacesAQueuedOneOfTheSameListOnly) {
  rt::EventQueue q;
  q.Post(Message(ev::kScrollDrag, 1, 7, 10));
  q.Post(Message(ev::kScrollDrag, 2, 7, 20));  // another list
  q.Post(Message(ev::kScrollDrag, 1, 8, 30));  // the same number in another window
  q.Post(Message(ev::kScrollDown, 1));
  q.Post(Message(ev::kScrollTop, 1));
  q.Post(Message(ev::kScrollDrag, 1, 7, 40));
  EXPECT_EQ(Drain(q), (std::vector<std::vector<int>>{{ev::kScrollDrag, 2, 20},
                                                     {ev::kScrollDrag, 1, 30},
                                                     {ev::kScrollDown, 1, -1},
                                                     {ev::kScrollDrag, 1, 40}}));
}

TEST(EventQueueTest, NewSelectionWithoutInputReplacesAQueuedOneButAPickedRowStays) {
  rt::EventQueue q;
  q.Post(Message(ev::kNewSelection, 1));
  q.Post(Message(ev::kNewSelection, 1, 7, 3));  // a row the user picked
  q.Post(Message(ev::kScrollDown, 1));
  q.Post(Message(ev::kNewSelection, 2));
  q.Post(Message(ev::kNewSelection, 1));
  rt::EventMessage key = Message(ev::kNewSelection, 1);
  key.keyCode = 5;
  q.Post(key);
  EXPECT_EQ(Drain(q), (std::vector<std::vector<int>>{{ev::kNewSelection, 1, 3},
                                                     {ev::kScrollDown, 1, -1},
                                                     {ev::kNewSelection, 2, -1},
                                                     {ev::kNewSelection, 1, -1},
                                                     {ev::kNewSelection, 1, -1}}));
}

}  // namespace
