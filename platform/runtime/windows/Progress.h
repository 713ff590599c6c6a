// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Progress of a long operation, shown by the desktop (a bar with a cancel button in the
// frame's status bar) instead of a wait cursor alone. The runtime thread doing the work owns
// a Progress: Start, Step per unit done, Cancelled between units, End (or destruction).
// Every change is handed to the UI backend at once; the screen never waits for the worker.
// Cancelling only asks: the worker stops when it next looks, after the unit it is on.
// Several operations may run at once (on several threads); the newest one is shown.

#include <functional>
#include <optional>
#include <string>

#include "platform/runtime/windows/UiBackend.h"

namespace rt {

class Progress {
 public:
  Progress() = default;
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Starts (or restarts) the operation: `total` units (0: unknown), none done.
  void Start(std::string label, int total);
  void Step(int units = 1);
  // True once the user asked to cancel.
  bool Cancelled() const;
  // Ends the operation; a second call does nothing.
  void End();
  int Id() const { return id_; }

 private:
  int id_ = 0;
};

// The operation shown: the newest one running, or nothing. Any thread.
std::optional<ProgressState> ShownProgress();
// Asks the operation to stop; false when it has ended. Any thread; never waits for it.
bool CancelProgress(int id);
// Tests: called on the worker's thread after each Step with the units done so far, so a test
// can hold an operation at a known point. Empty (the default) calls nothing.
void SetProgressStepHook(std::function<void(int done)> hook);

}  // namespace rt
