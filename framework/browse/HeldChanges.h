// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/runtime/windows/Window.h"

// Holds a window's changes while in scope: they reach the screen once, together.
class HeldChanges {
 public:
  explicit HeldChanges(rt::Window* w) : w_(w) {
    if (w_) w_->HoldChanges(true);
  }
  ~HeldChanges() {
    if (w_) w_->HoldChanges(false);
  }
  HeldChanges(const HeldChanges&) = delete;
  HeldChanges& operator=(const HeldChanges&) = delete;

 private:
  rt::Window* w_;
};
