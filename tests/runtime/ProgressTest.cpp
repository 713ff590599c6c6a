// SPDX-License-Identifier: GPL-3.0-or-later
// Progress of long operations: the newest running one is shown, an ended one hands the
// screen back to the one before, a cancel reaches only its own operation and only while it
// runs, and every change reaches the backend.

#include "platform/runtime/windows/Progress.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/runtime/windows/HeadlessBackend.h"

namespace {

TEST(ProgressTest, TheNewestRunsOnScreenAndCancelReachesOnlyItsOwn) {
  const auto backend = rt::InstallHeadlessBackend();
  rt::Progress outer;
  outer.Start("Storing 4 files", 4);
  outer.Step();
  int innerId = 0;
  std::thread([&] {
    rt::Progress inner;  // another thread's operation, ended by its destructor
    inner.Start("Searching", 0);
    innerId = inner.Id();
    const auto shown = rt::ShownProgress();
    ASSERT_TRUE(shown.has_value());
    EXPECT_EQ(shown->label, "Searching");
    EXPECT_TRUE(rt::CancelProgress(inner.Id()));
    EXPECT_TRUE(inner.Cancelled());
  }).join();
  EXPECT_FALSE(rt::CancelProgress(innerId));  // ended
  EXPECT_FALSE(outer.Cancelled());
  auto shown = rt::ShownProgress();
  ASSERT_TRUE(shown.has_value());
  EXPECT_EQ(shown->id, outer.Id());
  EXPECT_EQ(shown->done, 1);
  outer.Step(10);  // never past the total
  EXPECT_EQ(backend->Progress().done, 4);
  outer.End();
  outer.End();
  EXPECT_FALSE(rt::ShownProgress().has_value());
  EXPECT_EQ(backend->Progress().id, 0);
}

}  // namespace
