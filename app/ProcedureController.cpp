// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/ProcedureController.h"

#include "app/Globals.h"
#include "framework/error/ErrorHooks.h"

ErrorLevel ProcedureController::InitProcedure() {
  procedureName_.Enter(GlobalErrors(), name_);
  Request = GlobalRequest();
  if (ErrorLevel r = WindowController::Init(); r != LevelQuiet) return r;
  VCRRequest = &::VCRRequest();
  Errors = &GlobalErrors();
  GlobalRequest() = 0;
  GlobalResponse() = 0;
  return LevelQuiet;
}

ErrorLevel ProcedureController::KillProcedure(const std::function<void()>& release) {
  const ErrorLevel r = WindowController::Kill();
  if (r != LevelQuiet) return r;
  if (release) release();
  procedureName_.Leave();
  return r;
}
