// SPDX-License-Identifier: GPL-3.0-or-later
// The UI backend's hand-out: a caller keeps the backend it was given for as long as it uses
// it, and a program without a backend stops at once with a clear message.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/HeadlessBackend.h"

namespace rt {
namespace {

// A backend whose message box stays open until Close() and that notes its destruction.
class BlockingBackend : public HeadlessBackend {
 public:
  explicit BlockingBackend(std::atomic<bool>& destroyed) : destroyed_(destroyed) {}
  ~BlockingBackend() override { destroyed_ = true; }

  int Message(const std::string&, const std::string&, int, int, int, int) override {
    std::unique_lock lock(mutex_);
    open_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return closed_; });
    // Still alive while the box was open, whatever was installed meanwhile.
    return destroyed_ ? -1 : kButtonOk;
  }
  void WaitUntilOpen() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return open_; });
  }
  void Close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
  }

 private:
  std::atomic<bool>& destroyed_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  bool closed_ = false;
};

TEST(BackendTest, ReplacingTheBackendDuringAMessageBoxKeepsTheOldOneUntilTheBoxCloses) {
  std::atomic<bool> destroyed{false};
  auto blocking = std::make_shared<BlockingBackend>(destroyed);
  BlockingBackend& box = *blocking;
  InstallBackend(std::move(blocking));
  int answer = 0;
  std::thread asker([&] { answer = Message("Still there?"); });
  box.WaitUntilOpen();

  InstallHeadlessBackend();  // the installer's reference to the old backend is gone
  EXPECT_FALSE(destroyed);
  box.Close();
  asker.join();
  EXPECT_EQ(answer, kButtonOk);
  EXPECT_TRUE(destroyed);  // released by the last user
}

TEST(BackendTest, NoBackendInstalledEndsTheProgramWithAClearMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        InstallBackend(nullptr);
        Message("Anyone?");
      },
      ::testing::ExitedWithCode(kNoBackendExitCode), "No user interface is installed");
}

}  // namespace
}  // namespace rt
