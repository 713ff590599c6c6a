// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Thread priorities for background work that must not slow the user's own threads down.

namespace rt {

// Gives the calling thread the weakest nice level (19). Not the idle scheduling class: a
// thread of that class can wait for the processor for seconds on a busy machine, and a
// background thread holding a table's write lock meanwhile would make the user's writes wait
// as long. False when the level could not be set; the thread then runs at its usual priority.
bool SetLowestPriority();

}  // namespace rt
