// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Scoped lock over a runtime critical section. A null section makes the guard a no-op.

#include "platform/runtime/threads/Threads.h"

class CriticalSectionGuard {
 public:
  rt::CriticalSection* Sync = nullptr;  // the section currently held, or none

  CriticalSectionGuard() = default;
  explicit CriticalSectionGuard(rt::CriticalSection* section) { Wait(section); }
  CriticalSectionGuard(const CriticalSectionGuard&) = delete;
  CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;
  ~CriticalSectionGuard() { Release(); }

  // Releases what is held, then enters the section (when not null) and holds it.
  void Wait(rt::CriticalSection* section);
  // Leaves the held section, if any.
  void Release();
};
