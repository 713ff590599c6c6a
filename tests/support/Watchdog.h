// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Bounds a test that could deadlock: when the scope is still running after the limit, the
// test program stops at once with the scope's name, instead of hanging until the test
// runner's own limit. A deadlock cannot be undone, so there is nothing else to do.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace testing_support {

class Watchdog {
 public:
  // The limit is generous: sanitizer builds run many times slower.
  explicit Watchdog(std::string what, std::chrono::seconds limit = std::chrono::seconds(60));
  // Disarms the watchdog.
  ~Watchdog();
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::string what_;
  std::mutex mutex_;
  std::condition_variable finished_;
  bool done_ = false;
  std::thread thread_;
};

}  // namespace testing_support
