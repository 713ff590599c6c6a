// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/threads/Threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"

namespace rt {
namespace {

class ThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearHooks(); }
  void TearDown() override { ClearHooks(); }
};

// Records hook calls as "<hook>:<name>@<thread>".
struct HookLog {
  std::mutex mutex;
  std::vector<std::string> lines;
  void Add(const std::string& s) {
    std::lock_guard lock(mutex);
    lines.push_back(s + "@" + std::to_string(ThreadNumber()));
  }
};

void RegisterLogged(HookLog& log, const std::string& name) {
  RegisterHooks({name, [&log, name] { log.Add("ps:" + name); },
                 [&log, name] { log.Add("ts:" + name); }, [&log, name] { log.Add("te:" + name); },
                 [&log, name] { log.Add("pe:" + name); }});
}

TEST_F(ThreadsTest, HooksRunInOrderForMainAndStartedThreads) {
  HookLog log;
  RegisterLogged(log, "a");
  RegisterLogged(log, "b");
  RunProgram([&] {
    log.Add("main");
    const int n = Start(
        [&](const std::vector<std::string>& args) {
          log.Add("proc:" + args.at(0) + "," + args.at(1));
        },
        25000, {"x", "y"});
    EXPECT_GT(n, 1);
    JoinAllThreads();
  });
  ASSERT_GE(log.lines.size(), 13u);
  const std::vector<std::string> startup = {"ps:a@1", "ps:b@1", "ts:a@1", "ts:b@1", "main@1"};
  EXPECT_EQ(std::vector<std::string>(log.lines.begin(), log.lines.begin() + 5), startup);
  // The started thread: its start hooks, the procedure, its end hooks in reverse order.
  std::vector<std::string> started(log.lines.begin() + 5, log.lines.begin() + 9);
  ASSERT_EQ(started[0].substr(0, 5), "ts:a@");
  const std::string t = started[0].substr(5);
  EXPECT_EQ(started,
            (std::vector<std::string>{"ts:a@" + t, "ts:b@" + t, "proc:x,y@" + t, "te:b@" + t}));
  EXPECT_EQ(log.lines[9], "te:a@" + t);
  const std::vector<std::string> shutdown = {"te:b@1", "te:a@1", "pe:b@1", "pe:a@1"};
  EXPECT_EQ(std::vector<std::string>(log.lines.end() - 4, log.lines.end()), shutdown);
}

TEST_F(ThreadsTest, ThreadLocalCopiesStayApart) {
  ThreadLocal<int> value;
  value.Get() = 7;
  std::atomic<int> seenInOther{-1};
  std::thread other([&] {
    seenInOther = value.Get();  // a fresh copy
    value.Get() = 99;
  });
  other.join();
  EXPECT_EQ(seenInOther.load(), 0);
  EXPECT_EQ(value.Get(), 7);
  EXPECT_TRUE(value.Exists());
  value.Destroy();
  EXPECT_FALSE(value.Exists());
  EXPECT_EQ(value.Get(), 0);
}

TEST_F(ThreadsTest, CriticalSectionIsReentrantAndExcludesOthers) {
  CriticalSection cs;
  cs.Enter();
  cs.Enter();  // the same thread may enter again
  std::atomic<bool> otherGotIn{false};
  std::thread other([&] { otherGotIn = cs.TryEnter(); });
  other.join();
  EXPECT_FALSE(otherGotIn.load());
  cs.Leave();
  cs.Leave();
  std::thread again([&] {
    otherGotIn = cs.TryEnter();
    if (otherGotIn) cs.Leave();
  });
  again.join();
  EXPECT_TRUE(otherGotIn.load());
}

TEST_F(ThreadsTest, EventsPostedFromAnotherThreadArriveInOrder) {
  std::vector<int> received;
  RunProgram([&] {
    std::atomic<int> target{0};
    std::atomic<bool> done{false};
    const int b = Start([&](const std::vector<std::string>&) {
      EventQueue& q = MyEvents();
      target = ThreadNumber();
      while (received.size() < 100) {
        auto m = q.Wait(std::chrono::milliseconds(2000));
        if (!m) break;
        received.push_back(m->control);
      }
      done = true;
    });
    ASSERT_NE(b, 0);
    for (int i = 1; i <= 100; ++i)
      ASSERT_TRUE(Post(event::kUser, i, b));
    JoinAllThreads();
    EXPECT_TRUE(done.load());
  });
  ASSERT_EQ(received.size(), 100u);
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(received[i], i + 1);
}

TEST_F(ThreadsTest, PostToAnUnknownThreadFails) {
  EXPECT_FALSE(Post(event::kUser, 1, 987654));
}

// Waits up to two seconds for the calling thread's close-down request.
bool AwaitCloseDown() {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!MyEvents().CloseDownRequested()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

TEST_F(ThreadsTest, ThreadStartedDuringCloseDownIsClosedDownAndTheProgramEnds) {
  std::atomic<bool> starterClosed{false};
  std::atomic<bool> lateClosed{false};
  std::atomic<int> late{0};
  RunProgram([&] {
    // Like a viewer that opens its find dialog on a new thread as the frame closes.
    Start([&](const std::vector<std::string>&) {
      starterClosed = AwaitCloseDown();
      late = Start([&](const std::vector<std::string>&) { lateClosed = AwaitCloseDown(); });
    });
  });
  EXPECT_TRUE(starterClosed.load());
  EXPECT_GT(late.load(), 0);
  EXPECT_TRUE(lateClosed.load());
  EXPECT_TRUE(RunningThreads().empty());
}

TEST_F(ThreadsTest, AnEndedThreadsQueueStaysGone) {
  int ended = 0;
  RunProgram([&] {
    ended = Start([](const std::vector<std::string>&) {});
    JoinAllThreads();
    EXPECT_FALSE(PostCloseDown(ended));
    EXPECT_FALSE(Post(event::kUser, 1, ended));  // so it cannot keep the program busy
  });
  ASSERT_GT(ended, 1);
  EXPECT_FALSE(Post(event::kUser, 1, ended));
}

TEST_F(ThreadsTest, ErrorsReportedAfterTheThreadsStateIsGoneStayTheThreadsOwn) {
  // Destroyed after the thread's error state (made later, destroyed first): it sets and reads
  // back an error while the other threads do the same.
  struct LateReporter {
    std::atomic<int>* mixedUp = nullptr;
    int code = 0;
    ~LateReporter() {
      for (int i = 0; i < 2000; ++i) {
        SetError(code, "thread " + std::to_string(code));
        std::this_thread::yield();
        if (ErrorCode() != code || ErrorText() != "thread " + std::to_string(code)) ++*mixedUp;
      }
    }
  };
  std::atomic<int> mixedUp{0};
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 1; t <= 4; ++t) {
    threads.emplace_back([&, t] {
      thread_local LateReporter reporter;
      reporter.mixedUp = &mixedUp;
      reporter.code = 1000 + t;
      ClearError();  // makes the thread's own state after the reporter
      ++ready;
      while (ready < 4)
        std::this_thread::yield();
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(mixedUp.load(), 0);
}

}  // namespace
}  // namespace rt
