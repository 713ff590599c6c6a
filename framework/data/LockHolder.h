// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An object whose one field refers to a runtime critical section; destroying the holder
// destroys the section.

#include <memory>

#include "platform/runtime/threads/Threads.h"

struct LockHolder {
  std::unique_ptr<rt::CriticalSection> CS = std::make_unique<rt::CriticalSection>();
};
