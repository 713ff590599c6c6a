// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/threads/Threads.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>

#include "platform/runtime/threads/HookNames.h"
#include "platform/runtime/windows/EventQueue.h"

namespace rt {

namespace {

// Stacks smaller than this are raised to it: the PDF engine and the GUI libraries need far
// more than the few kilobytes a procedure may ask for.
constexpr std::size_t kMinimumStack = 8u << 20;

thread_local int tThreadNumber = 0;

struct Registry {
  std::mutex mutex;
  std::condition_variable ended;
  std::vector<StartupHooks> hooks;
  std::map<int, pthread_t> running;  // started threads not yet joined
  std::vector<pthread_t> finished;   // ended threads waiting to be joined
  std::atomic<int> nextNumber{2};
  bool mainRunning = false;
  bool closingDown = false;  // program main has returned: every thread is asked to close
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::vector<StartupHooks> HooksSnapshot() {
  std::lock_guard lock(TheRegistry().mutex);
  return TheRegistry().hooks;
}

void RunThreadStartHooks() {
  for (auto& h : HooksSnapshot())
    if (h.threadStart) h.threadStart();
}

void RunThreadEndHooks() {
  auto hooks = HooksSnapshot();
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it)
    if (it->threadEnd) it->threadEnd();
}

struct StartBlock {
  int number;
  Procedure procedure;
  std::vector<std::string> args;
};

void* ThreadMain(void* raw) {
  std::unique_ptr<StartBlock> block(static_cast<StartBlock*>(raw));
  tThreadNumber = block->number;
  RunThreadStartHooks();
  block->procedure(block->args);
  RunThreadEndHooks();
  ForgetThreadEvents(block->number);
  Registry& r = TheRegistry();
  {
    std::lock_guard lock(r.mutex);
    auto it = r.running.find(block->number);
    if (it != r.running.end()) {
      r.finished.push_back(it->second);
      r.running.erase(it);
    }
  }
  r.ended.notify_all();
  return nullptr;
}

void JoinFinished() {
  std::vector<pthread_t> toJoin;
  {
    std::lock_guard lock(TheRegistry().mutex);
    toJoin.swap(TheRegistry().finished);
  }
  for (pthread_t t : toJoin)
    pthread_join(t, nullptr);
}

}  // namespace

int ThreadNumber() {
  return tThreadNumber;
}

std::uint64_t NextThreadLocalId() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1);
}

int Start(Procedure procedure, std::size_t stackSize, std::vector<std::string> args) {
  JoinFinished();
  Registry& r = TheRegistry();
  if (args.size() > 2) args.resize(2);
  const int number = r.nextNumber.fetch_add(1);
  auto block =
      std::make_unique<StartBlock>(StartBlock{number, std::move(procedure), std::move(args)});
  // The queue exists before the thread runs, so posts never get lost.
  const std::shared_ptr<EventQueue> events = ThreadEvents(number);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, std::max(stackSize, kMinimumStack));
  pthread_t thread;
  std::lock_guard lock(r.mutex);  // held so the thread cannot finish before it is listed
  // Started while the program closes down (after the other threads were asked to close):
  // it closes too, or the program would wait for it for ever.
  if (r.closingDown) events->RequestCloseDown();
  const int rc = pthread_create(&thread, &attr, ThreadMain, block.get());
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    ForgetThreadEvents(number);
    return 0;
  }
  static_cast<void>(block.release());  // the thread owns it now
  r.running.emplace(number, thread);
  return number;
}

void RegisterHooks(StartupHooks hooks) {
  std::lock_guard lock(TheRegistry().mutex);
  TheRegistry().hooks.push_back(std::move(hooks));
}

std::vector<std::string> RegisteredHookNames() {
  std::vector<std::string> names;
  for (const StartupHooks& hooks : HooksSnapshot())
    names.push_back(hooks.name);
  return names;
}

void ClearHooks() {
  std::lock_guard lock(TheRegistry().mutex);
  TheRegistry().hooks.clear();
}

void JoinAllThreads() {
  Registry& r = TheRegistry();
  {
    std::unique_lock lock(r.mutex);
    r.ended.wait(lock, [&] { return r.running.empty(); });
  }
  JoinFinished();
}

std::vector<int> RunningThreads() {
  Registry& r = TheRegistry();
  std::lock_guard lock(r.mutex);
  std::vector<int> numbers;
  if (r.mainRunning) numbers.push_back(1);
  for (auto& [n, t] : r.running)
    numbers.push_back(n);
  return numbers;
}

int RunProgram(const std::function<void()>& programMain) {
  Registry& r = TheRegistry();
  tThreadNumber = 1;
  ThreadEvents(1);
  {
    std::lock_guard lock(r.mutex);
    r.mainRunning = true;
  }
  auto hooks = HooksSnapshot();
  for (auto& h : hooks)
    if (h.processStart) h.processStart();
  RunThreadStartHooks();
  programMain();
  // Ask every other thread to close its windows, then wait for it. Threads started from
  // here on are asked when they start (see Start).
  std::vector<int> others;
  {
    std::lock_guard lock(r.mutex);
    r.closingDown = true;
    for (auto& [n, t] : r.running)
      others.push_back(n);
  }
  for (int n : others)
    PostCloseDown(n);
  JoinAllThreads();
  RunThreadEndHooks();
  ForgetThreadEvents(1);
  hooks = HooksSnapshot();
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it)
    if (it->processEnd) it->processEnd();
  {
    std::lock_guard lock(r.mutex);
    r.mainRunning = false;
    r.closingDown = false;
  }
  tThreadNumber = 0;
  return 0;
}

}  // namespace rt
