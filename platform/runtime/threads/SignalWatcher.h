// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turns process signals into ordinary work. The signals are blocked in the thread that makes
// the watcher, and so in every thread started after it; a thread of the watcher's own reads
// them and calls the handler there, where any work is safe (a signal handler may do almost
// nothing). Make the watcher first thing in the process, before any other thread starts.

#include <csignal>
#include <functional>
#include <initializer_list>
#include <thread>

namespace rt {

class SignalWatcher {
 public:
  // Blocks the signals in the calling thread.
  explicit SignalWatcher(std::initializer_list<int> signals);
  // Stops watching; the signals stay blocked, so one that comes later does nothing.
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // Calls `handler` with each signal that arrives, on the watcher's thread, one at a time;
  // a signal that arrived since the watcher was made is handled at once. False when
  // watching could not start (the signals then stay blocked).
  bool Start(std::function<void(int)> handler);
  // Stops watching and waits for a handler that is running to return.
  void Stop();

 private:
  void Watch();

  sigset_t signals_{};
  int signalFd_ = -1;
  int stopFd_ = -1;
  std::function<void(int)> handler_;
  std::thread thread_;
};

}  // namespace rt
