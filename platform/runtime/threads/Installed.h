// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One process-wide value that start-up installs and any thread reads: a user interface, a
// factory, a presenter. Readers get a copy, so they use it without the lock while another
// thread replaces or withdraws it.

#include <mutex>
#include <utility>

namespace rt {

template <typename T>
class Installed {
 public:
  void Set(T value) {
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
  }
  T Get() const {
    std::lock_guard lock(mutex_);
    return value_;
  }

 private:
  mutable std::mutex mutex_;
  T value_{};
};

}  // namespace rt
