// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A gate that threads wait at until the test opens it; it stays open once opened.

#include <condition_variable>
#include <mutex>

namespace testing_support {

class Gate {
 public:
  void Wait() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return open_; });
    --waiting_;
  }
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // Waits until at least `count` threads wait at the gate.
  void AwaitWaiting(int count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return open_ || waiting_ >= count; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
  int waiting_ = 0;
};

}  // namespace testing_support
