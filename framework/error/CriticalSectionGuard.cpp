// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/error/CriticalSectionGuard.h"

void CriticalSectionGuard::Wait(rt::CriticalSection* section) {
  Release();
  if (section == nullptr) return;
  section->Enter();
  Sync = section;
}

void CriticalSectionGuard::Release() {
  if (Sync == nullptr) return;
  Sync->Leave();
  Sync = nullptr;
}
