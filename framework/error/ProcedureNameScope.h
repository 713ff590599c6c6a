// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Names the running procedure in an error manager's messages from Enter until Leave, or
// until the scope ends, whichever comes first: no return path leaves the name pushed.

#include <string_view>

class ErrorManager;

class ProcedureNameScope {
 public:
  ProcedureNameScope() = default;
  ~ProcedureNameScope();
  ProcedureNameScope(const ProcedureNameScope&) = delete;
  ProcedureNameScope& operator=(const ProcedureNameScope&) = delete;

  // Pushes the calling thread's procedure name (after leaving a name this scope still holds).
  void Enter(ErrorManager& errors, std::string_view name);
  // Pops the name Enter pushed; nothing when none is held.
  void Leave();

 private:
  ErrorManager* errors_ = nullptr;
};
