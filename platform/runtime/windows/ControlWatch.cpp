// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/windows/ControlWatch.h"

#include <map>
#include <utility>
#include <vector>

namespace rt {

namespace {

struct Watch {
  int windowId = 0;
  ControlWatcher watcher;
};

std::map<int, Watch>& ThreadWatches() {
  thread_local std::map<int, Watch> watches;
  return watches;
}

}  // namespace

int WatchControls(int windowId, ControlWatcher watcher) {
  // Tokens only need to be unique per thread; a thread-local counter keeps them so.
  thread_local int next = 0;
  const int token = ++next;
  ThreadWatches()[token] = Watch{windowId, std::move(watcher)};
  return token;
}

void UnwatchControls(int token) {
  ThreadWatches().erase(token);
}

void NotifyControlWatchers(int windowId, const ControlView& control) {
  auto& watches = ThreadWatches();
  if (watches.empty()) return;
  // A watcher may register or remove watchers: call copies of those found now.
  std::vector<ControlWatcher> found;
  for (const auto& [token, w] : watches)
    if (w.windowId == windowId) found.push_back(w.watcher);
  for (const auto& f : found)
    f(control);
}

}  // namespace rt
