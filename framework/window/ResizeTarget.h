// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a window controller needs of the object that resizes its window's controls: it is
// released together with the window.

class ResizeTarget {
 public:
  virtual ~ResizeTarget() = default;
  virtual void Kill() = 0;
};
