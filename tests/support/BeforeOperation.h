// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A file callback that runs an action before each operation of one kind, on whichever thread
// runs the operation.

#include <functional>
#include <utility>

#include "platform/runtime/files/FileCallback.h"

namespace testing_support {

class BeforeOperation : public rt::FileCallback {
 public:
  BeforeOperation(int code, std::function<void()> action)
      : code_(code), action_(std::move(action)) {}
  int OnOperationStart(int code, rt::FileCallbackParams&) override {
    if (code == code_) action_();
    return 1;
  }
  int OnOperationEnd(int, rt::FileCallbackParams&) override { return 1; }

 private:
  int code_;
  std::function<void()> action_;
};

}  // namespace testing_support
