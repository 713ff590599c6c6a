// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An object the procedure's toolbar can act on (a browse list, a form): the toolbar's
// buttons are enabled for it and its presses are handed to it while it is the active target.

#include <cstdint>

class WindowController;

class ToolbarTarget {
 public:
  virtual ~ToolbarTarget() = default;

  // Enables and disables the toolbar buttons for the target's current state.
  virtual void DisplayButtons() = 0;
  // Handles the current event of the window; the target may set the pending navigation
  // request (null when the procedure keeps none).
  virtual void TakeEvent(std::int32_t* navigationRequest, WindowController& controller) = 0;
  // Becomes the toolbar's active target.
  virtual void Activate() = 0;
  // True when the target can take the toolbar now (for example, it is on the shown tab).
  virtual bool Applies() = 0;
};
