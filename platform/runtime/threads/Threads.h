// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// platform/runtime/threads: the runtime's threads (numbering, start, close-down, join), the
// start-up and shutdown hooks of every subsystem, thread-instanced data, and each thread's
// error state with the runtime's error codes. Everything else in the runtime builds on it.
//
// Runtime threads: numbered from 1 (the thread that runs program main), started with up to
// two string arguments, with process and thread start/end hooks and thread-instanced data.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace rt {

// A procedure started on a thread; receives the start arguments (0, 1 or 2 strings).
using Procedure = std::function<void(const std::vector<std::string>& args)>;

// The calling thread's runtime number: 1 for program main, 2, 3, ... for started threads,
// 0 for a thread the runtime did not start (such as the GUI thread).
int ThreadNumber();

// Starts a procedure on a new thread. The stack size is a request; the runtime never gives
// less than its own minimum (the libraries below need more than a few kilobytes).
// Returns the new thread's number, or 0 when the thread could not be started.
int Start(Procedure procedure, std::size_t stackSize = 25000, std::vector<std::string> args = {});

// Start-up hooks. Each subsystem registers one set; process-start and thread-start hooks run
// in registration order, thread-end and process-end hooks in reverse registration order.
struct StartupHooks {
  std::string name;
  std::function<void()> processStart;
  std::function<void()> threadStart;
  std::function<void()> threadEnd;
  std::function<void()> processEnd;
};
void RegisterHooks(StartupHooks hooks);
// Removes every registered hook (tests start from a clean registry).
void ClearHooks();

// Runs a whole program on the calling thread, which becomes runtime thread 1: the
// process-start hooks, the thread-start hooks, program main, then (when main returns) asks
// every other runtime thread to close its windows and waits for it, runs the thread-end hooks
// of thread 1 and the process-end hooks. Returns the exit code set by main (0 by default).
int RunProgram(const std::function<void()>& programMain);

// Waits until every started runtime thread has ended.
void JoinAllThreads();
// Numbers of the runtime threads still running (thread 1 included while it runs).
std::vector<int> RunningThreads();

// A re-entrant critical section.
class CriticalSection {
 public:
  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }
  bool TryEnter() { return mutex_.try_lock(); }

 private:
  std::recursive_mutex mutex_;
};

std::uint64_t NextThreadLocalId();

// A thread-instanced variable: each thread gets its own copy, made on first use with the
// factory (default construction when none is given). A copy lives until Destroy() on its
// thread or until the thread ends.
template <typename T>
class ThreadLocal {
 public:
  ThreadLocal() : factory_([] { return std::make_unique<T>(); }) {}
  explicit ThreadLocal(std::function<std::unique_ptr<T>()> factory)
      : factory_(std::move(factory)) {}
  ThreadLocal(const ThreadLocal&) = delete;
  ThreadLocal& operator=(const ThreadLocal&) = delete;
  ~ThreadLocal() = default;

  T& Get() {
    auto& slot = Slots()[id_];
    if (!slot) slot = factory_();
    return *slot;
  }
  T& operator*() { return Get(); }
  T* operator->() { return &Get(); }
  // True when the calling thread has made its copy.
  bool Exists() const {
    auto& copies = Slots();
    auto it = copies.find(id_);
    return it != copies.end() && it->second;
  }
  // Destroys the calling thread's copy (the next use makes a new one).
  void Destroy() { Slots().erase(id_); }

 private:
  // Copies are keyed by a number never reused, so a variable made later at the same address
  // does not find an old copy.
  using SlotMap = std::unordered_map<std::uint64_t, std::unique_ptr<T>>;
  static SlotMap& Slots() {
    thread_local SlotMap copies;
    return copies;
  }
  std::function<std::unique_ptr<T>()> factory_;
  std::uint64_t id_ = NextThreadLocalId();
};

}  // namespace rt
