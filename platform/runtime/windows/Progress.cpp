// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/windows/Progress.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace rt {

namespace {

struct Board {
  std::mutex mutex;
  std::vector<ProgressState> running;  // oldest first
  int lastId = 0;
};

Board& TheBoard() {
  static Board board;
  return board;
}

ProgressState* FindLocked(Board& board, int id) {
  auto it = std::find_if(board.running.begin(), board.running.end(),
                         [id](const ProgressState& s) { return s.id == id; });
  return it == board.running.end() ? nullptr : &*it;
}

ProgressState ShownLocked(const Board& board) {
  return board.running.empty() ? ProgressState{} : board.running.back();
}

// Tells the screen what to show now; called without the board's lock, so that a backend
// answering on the calling thread may read the board again.
void Publish(const ProgressState& shown) {
  Backend()->ProgressChanged(shown);
}

}  // namespace

Progress::~Progress() {
  End();
}

void Progress::Start(std::string label, int total) {
  End();
  Board& board = TheBoard();
  ProgressState shown;
  {
    std::lock_guard lock(board.mutex);
    ProgressState state;
    state.id = ++board.lastId;
    state.label = std::move(label);
    state.total = std::max(0, total);
    board.running.push_back(state);
    id_ = state.id;
    shown = ShownLocked(board);
  }
  Publish(shown);
}

namespace {

// The test hook, set by a test's thread and read by the workers': guarded, and called on a
// copy, so that no lock is held while it runs.
struct StepHookSlot {
  std::mutex mutex;
  std::function<void(int)> hook;
};

StepHookSlot& StepHook() {
  static StepHookSlot slot;
  return slot;
}

}  // namespace

void SetProgressStepHook(std::function<void(int done)> hook) {
  StepHookSlot& slot = StepHook();
  std::lock_guard lock(slot.mutex);
  slot.hook = std::move(hook);
}

void Progress::Step(int units) {
  if (id_ == 0) return;
  Board& board = TheBoard();
  ProgressState shown;
  int done = 0;
  {
    std::lock_guard lock(board.mutex);
    ProgressState* state = FindLocked(board, id_);
    if (!state) return;
    state->done += units;
    if (state->total > 0) state->done = std::min(state->done, state->total);
    done = state->done;
    shown = ShownLocked(board);
  }
  Publish(shown);
  std::function<void(int)> hook;
  {
    StepHookSlot& slot = StepHook();
    std::lock_guard lock(slot.mutex);
    hook = slot.hook;
  }
  if (hook) hook(done);
}

bool Progress::Cancelled() const {
  if (id_ == 0) return false;
  Board& board = TheBoard();
  std::lock_guard lock(board.mutex);
  const ProgressState* state = FindLocked(board, id_);
  return state && state->cancelRequested;
}

void Progress::End() {
  if (id_ == 0) return;
  Board& board = TheBoard();
  ProgressState shown;
  {
    std::lock_guard lock(board.mutex);
    std::erase_if(board.running, [this](const ProgressState& s) { return s.id == id_; });
    shown = ShownLocked(board);
  }
  id_ = 0;
  Publish(shown);
}

std::optional<ProgressState> ShownProgress() {
  Board& board = TheBoard();
  std::lock_guard lock(board.mutex);
  if (board.running.empty()) return std::nullopt;
  return board.running.back();
}

bool CancelProgress(int id) {
  Board& board = TheBoard();
  ProgressState shown;
  {
    std::lock_guard lock(board.mutex);
    ProgressState* state = FindLocked(board, id);
    if (!state) return false;
    state->cancelRequested = true;
    shown = ShownLocked(board);
  }
  Publish(shown);
  return true;
}

}  // namespace rt
