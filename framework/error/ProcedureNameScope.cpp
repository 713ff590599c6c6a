// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/error/ProcedureNameScope.h"

#include "framework/error/ErrorManager.h"

ProcedureNameScope::~ProcedureNameScope() {
  Leave();
}

void ProcedureNameScope::Enter(ErrorManager& errors, std::string_view name) {
  Leave();
  errors.SetProcedureName(name);
  errors_ = &errors;
}

void ProcedureNameScope::Leave() {
  if (!errors_) return;
  errors_->SetProcedureName({}, true);
  errors_ = nullptr;
}
