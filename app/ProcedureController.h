// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window controller every procedure of the program derives from: from Init until Kill
// the procedure's name stands in the thread's error messages, and Init takes (and clears) the
// thread's pending request.

#include <functional>

#include "framework/error/ProcedureNameScope.h"
#include "framework/window/WindowController.h"

class ProcedureController : public WindowController {
 public:
  explicit ProcedureController(const char* name) : name_(name) {}

  // The default, then the name popped.
  ErrorLevel Kill() override { return KillProcedure({}); }

 protected:
  // The start of a procedure's Init: its name pushed, the request taken, the default, and
  // the thread's error manager and navigation request attached.
  ErrorLevel InitProcedure();
  // A procedure's Kill: the default; when that releases the window, `release` (the
  // procedure's own objects) and then the name popped.
  ErrorLevel KillProcedure(const std::function<void()>& release);

 private:
  const char* name_;
  ProcedureNameScope procedureName_;
};
