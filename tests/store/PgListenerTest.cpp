// SPDX-License-Identifier: GPL-3.0-or-later
// The listener calls its subscribers back outside its lock: a callback may wait for a lock
// that a subscribing thread holds, leave from its own call and subscribe another; once
// Unsubscribe returns, the subscriber's callback is neither running nor called again.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/pgstore/PgListener.h"
#include "support/Gate.h"
#include "support/PgServer.h"
#include "support/Watchdog.h"

namespace {

using testing_support::Gate;

// A subscriber's calls, counted, for the test to wait on.
class Calls {
 public:
  int Add() {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
    return ++count_;
  }
  bool AwaitAtLeast(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return count_ >= count; });
  }
  int Count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

TEST(PgListenerTest, CallbacksRunOutsideTheLockAndEndWithUnsubscribe) {
  std::string why;
  testing_support::PgServer* server = testing_support::PgServer::Shared(&why);
  if (!server) GTEST_SKIP() << "no database server for the tests: " << why;
  testing_support::Watchdog watchdog("listener callbacks");
  rt::PgListener listener(server->Conninfo());
  std::mutex held;  // a lock of the subscribers' own
  Gate aEntered, cEntered, cRelease;
  Calls a, b, c;
  std::atomic<bool> cRunning{false};
  std::atomic<std::uint64_t> aId{0}, bId{0};
  aId = listener.Subscribe("\"one\"", nullptr, [&] {
    aEntered.Open();
    std::lock_guard lock(held);
    a.Add();
    // Leaves from its own call and subscribes another: neither waits for this thread.
    listener.Unsubscribe(aId);
    bId = listener.Subscribe("\"two\"", nullptr, [&] { b.Add(); });
  });
  std::uint64_t cId = 0;
  {
    std::lock_guard lock(held);
    ASSERT_TRUE(server->Exec("NOTIFY \"one\""));
    aEntered.Wait();
    // A's call waits for this lock: subscribing meanwhile does not wait for the call.
    cId = listener.Subscribe("\"one\"", nullptr, [&] {
      if (c.Add() != 2) return;
      cRunning = true;
      cEntered.Open();
      cRelease.Wait();
      cRunning = false;
    });
  }
  // B, subscribed from a callback, is called once its channel is listened on (changes may
  // have gone unheard before), then for each burst on it; A, gone, is not called again.
  ASSERT_TRUE(b.AwaitAtLeast(1));
  ASSERT_TRUE(server->Exec("NOTIFY \"one\"; NOTIFY \"two\""));
  ASSERT_TRUE(b.AwaitAtLeast(2));
  ASSERT_TRUE(c.AwaitAtLeast(1));
  EXPECT_EQ(a.Count(), 1);

  // Unsubscribing while C's call runs returns once the call has.
  ASSERT_TRUE(server->Exec("NOTIFY \"one\""));
  cEntered.Wait();
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
  ASSERT_TRUE(server->Exec("NOTIFY \"one\"; NOTIFY \"two\""));
  ASSERT_TRUE(b.AwaitAtLeast(3));
  EXPECT_EQ(c.Count(), 2);
  EXPECT_EQ(a.Count(), 1);
  listener.Unsubscribe(bId);
}

}  // namespace
