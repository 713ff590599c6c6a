// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Watchers of a window's controls: code on a window's own thread can ask to hear of every
// change the window makes to one of its controls (text, state, position...), as it is
// described to the UI backend. Watchers belong to the thread that registers them and are
// called on that thread only, so they may read the window freely.

#include <functional>

#include "platform/runtime/windows/UiBackend.h"

namespace rt {

using ControlWatcher = std::function<void(const ControlView& control)>;

// Registers a watcher for the controls of a window of the calling thread; returns a token.
int WatchControls(int windowId, ControlWatcher watcher);
// Removes a watcher registered on the calling thread (an unknown token is ignored).
void UnwatchControls(int token);
// Called by the window after each change of one of its controls.
void NotifyControlWatchers(int windowId, const ControlView& control);

}  // namespace rt
