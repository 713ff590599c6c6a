// SPDX-License-Identifier: GPL-3.0-or-later
// The listener calls its subscribers back outside its lock: a callback may wait for a lock
// that a subscribing thread holds, leave from its own call and subscribe another; once
// Unsubscribe returns, the subscriber's callback is no longer running.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/pgstore/PgListener.h"
#include "support/Gate.h"
#include "support/PgServer.h"
#include "support/Watchdog.h"

namespace {

using testing_support::Gate;

TEST(PgListenerTest, CallbacksRunOutsideTheLockAndEndWithUnsubscribe) {
  std::string why;
  testing_support::PgServer* server = testing_support::PgServer::Shared(&why);
  if (!server) GTEST_SKIP() << "no database server for the tests: " << why;
  testing_support::Watchdog watchdog("listener callbacks");
  rt::PgListener listener(server->Conninfo());
  std::mutex held;  // a lock of the subscribers' own
  Gate aCalled, bCalled, cCalled, cRelease;
  std::atomic<int> aCalls{0}, cCalls{0};
  std::atomic<bool> cRunning{false};
  std::atomic<std::uint64_t> aId{0}, bId{0};
  aId = listener.Subscribe("\"one\"", nullptr, [&] {
    aCalled.Open();
    std::lock_guard lock(held);
    ++aCalls;
    // Leaves from its own call and subscribes another: neither waits for this thread.
    listener.Unsubscribe(aId);
    bId = listener.Subscribe("\"two\"", nullptr, [&] { bCalled.Open(); });
  });
  std::uint64_t cId = 0;
  {
    std::lock_guard lock(held);
    ASSERT_TRUE(server->Exec("NOTIFY \"one\""));
    aCalled.Wait();
    // A's call waits for this lock: subscribing meanwhile does not wait for the call.
    cId = listener.Subscribe("\"one\"", nullptr, [&] {
      cRunning = true;
      ++cCalls;
      cCalled.Open();
      cRelease.Wait();
      cRunning = false;
    });
  }
  // B, subscribed from a callback, is called once its channel is listened on (changes may
  // have gone unheard before).
  bCalled.Wait();
  // The next burst calls C alone (A is gone); unsubscribing during C's call returns once the
  // call has.
  ASSERT_TRUE(server->Exec("NOTIFY \"one\""));
  cCalled.Wait();
  std::atomic<bool> returned{false};
  bool runningAfter = true;
  std::thread leaving([&] {
    listener.Unsubscribe(cId);
    runningAfter = cRunning;
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // lets it reach its wait
  EXPECT_FALSE(returned);
  cRelease.Open();
  leaving.join();
  EXPECT_FALSE(runningAfter);
  EXPECT_EQ(aCalls, 1);
  EXPECT_EQ(cCalls, 1);
  listener.Unsubscribe(bId);
}

}  // namespace
