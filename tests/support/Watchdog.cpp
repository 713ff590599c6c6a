// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/Watchdog.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace testing_support {

Watchdog::Watchdog(std::string what, std::chrono::seconds limit) : what_(std::move(what)) {
  thread_ = std::thread([this, limit] {
    std::unique_lock lock(mutex_);
    if (finished_.wait_for(lock, limit, [this] { return done_; })) return;
    std::fprintf(stderr, "%s: still running after %lld s, deadlocked\n", what_.c_str(),
                 static_cast<long long>(limit.count()));
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
  });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  finished_.notify_all();
  thread_.join();
}

}  // namespace testing_support
