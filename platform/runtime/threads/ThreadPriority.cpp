// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/threads/ThreadPriority.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace rt {

bool SetLowestPriority() {
  // On Linux the nice level is a thread's own, set through its thread id.
  const auto self = static_cast<id_t>(::syscall(SYS_gettid));
  return ::setpriority(PRIO_PROCESS, self, 19) == 0;
}

}  // namespace rt
