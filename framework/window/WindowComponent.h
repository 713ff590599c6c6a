// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An object a window controller drives alongside its own handlers: the controller resets,
// updates and feeds events to every registered component (a browse list, the error history
// list).

#include <cstdint>

#include "framework/error/ErrorLevel.h"

class WindowComponent {
 public:
  virtual ~WindowComponent() = default;

  // Releases the component; called once, after the controller took it out of its list.
  virtual void Kill() = 0;
  // Refreshes the component; a non-zero force refreshes even when nothing seems changed.
  virtual void Reset(std::uint8_t force) = 0;
  // True when the window should be reset after the current event.
  virtual bool ResetRequired() = 0;
  virtual void SetAlerts() = 0;
  // Handles the current event; a non-zero level ends the event's dispatch with that level.
  virtual ErrorLevel TakeEvent() = 0;
  // Writes the data the component shows back to its variables.
  virtual void Update() = 0;
  // Redraws what the component shows; called after every component was reset.
  virtual void UpdateWindow() = 0;
};
