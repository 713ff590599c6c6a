// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/windows/HeadlessBackend.h"

#include <algorithm>
#include <chrono>

#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/EventQueue.h"

namespace rt {

namespace {
// The first button of a set, in the order the buttons are shown.
int FirstButton(int buttons) {
  for (int b = 1; b <= kButtonHelp; b <<= 1)
    if (buttons & b) return b;
  return kButtonOk;
}
}  // namespace

void HeadlessBackend::PushAnswer(int answer) {
  std::lock_guard lock(mutex_);
  answers_.push_back(answer);
}

void HeadlessBackend::PushFile(std::string fileName) {
  std::lock_guard lock(mutex_);
  files_.push_back(std::move(fileName));
}

std::vector<UiRequest> HeadlessBackend::Transcript() const {
  std::lock_guard lock(mutex_);
  return transcript_;
}

void HeadlessBackend::ClearTranscript() {
  std::lock_guard lock(mutex_);
  transcript_.clear();
}

bool HeadlessBackend::WaitForTranscript(std::size_t count, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return transcript_.size() > count; });
}

std::vector<WindowView> HeadlessBackend::Windows() const {
  std::lock_guard lock(mutex_);
  std::vector<WindowView> out;
  for (auto& [id, w] : windows_)
    out.push_back(w);
  return out;
}

std::optional<WindowView> HeadlessBackend::FindWindow(int id) const {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(id);
  if (it == windows_.end()) return std::nullopt;
  return it->second;
}

int HeadlessBackend::WaitCursorDepth() const {
  std::lock_guard lock(mutex_);
  return waitCursor_;
}

void HeadlessBackend::WindowOpened(const WindowView& window) {
  {
    std::lock_guard lock(mutex_);
    windows_[window.id] = window;
  }
  changed_.notify_all();
}

void HeadlessBackend::WindowClosed(int windowId) {
  {
    std::lock_guard lock(mutex_);
    windows_.erase(windowId);
    focus_.erase(windowId);
    placements_.erase(windowId);
  }
  changed_.notify_all();
}

void HeadlessBackend::WindowChanged(int windowId, const std::string& caption, const Rect& pos,
                                    bool enabled) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(windowId);
  if (it == windows_.end()) return;
  it->second.caption = caption;
  it->second.pos = pos;
  it->second.enabled = enabled;
}

void HeadlessBackend::ControlChanged(int windowId, const ControlView& control) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(windowId);
  if (it == windows_.end()) return;
  auto& controls = it->second.controls;
  auto c = std::find_if(controls.begin(), controls.end(),
                        [&](const ControlView& v) { return v.number == control.number; });
  if (c == controls.end())
    controls.push_back(control);
  else
    *c = control;
}

void HeadlessBackend::ControlDestroyed(int windowId, int control) {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(windowId);
  if (it == windows_.end()) return;
  std::erase_if(it->second.controls, [&](const ControlView& v) { return v.number == control; });
}

void HeadlessBackend::FocusControl(int windowId, int control) {
  std::lock_guard lock(mutex_);
  focus_[windowId] = control;
}

int HeadlessBackend::Focus(int windowId) const {
  std::lock_guard lock(mutex_);
  auto it = focus_.find(windowId);
  return it == focus_.end() ? 0 : it->second;
}

void HeadlessBackend::StandardActionRequested(int, StandardAction action) {
  UiRequest r;
  r.kind = "action";
  r.answer = static_cast<int>(action);
  Record(std::move(r));
}

void HeadlessBackend::Record(UiRequest request) {
  request.thread = ThreadNumber();
  {
    std::lock_guard lock(mutex_);
    transcript_.push_back(std::move(request));
  }
  changed_.notify_all();
}

int HeadlessBackend::Message(const std::string& text, const std::string& caption, int, int buttons,
                             int defaultButton, int) {
  if (buttons == 0) buttons = kButtonOk;
  int answer = defaultButton != 0 ? defaultButton : FirstButton(buttons);
  {
    std::lock_guard lock(mutex_);
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    }
  }
  Record({"message", text, caption, buttons, defaultButton, answer, {}, 0});
  return answer;
}

int HeadlessBackend::Popup(const std::string& menu, int, int) {
  int answer = 0;
  {
    std::lock_guard lock(mutex_);
    if (!answers_.empty()) {
      answer = answers_.front();
      answers_.pop_front();
    }
  }
  Record({"popup", menu, {}, 0, 0, answer, {}, 0});
  return answer;
}

bool HeadlessBackend::FileDialog(const std::string& title, std::string& fileName,
                                 const std::string& masks, int) {
  std::optional<std::string> chosen;
  {
    std::lock_guard lock(mutex_);
    if (!files_.empty()) {
      chosen = files_.front();
      files_.pop_front();
    }
  }
  const bool ok = chosen && !chosen->empty();
  if (ok) fileName = *chosen;
  Record({"file", masks, title, 0, 0, ok ? 1 : 0, ok ? *chosen : std::string(), 0});
  return ok;
}

void HeadlessBackend::Stop(const std::string& text) {
  Record({"stop", text, {}, 0, 0, 0, {}, 0});
}

void HeadlessBackend::Halt(int code, const std::string& text) {
  Record({"halt", text, {}, 0, 0, code, {}, 0});
}

void HeadlessBackend::Print(const PrintJob& job) {
  Record({"print", job.documents, job.options, job.firstPage, job.lastPage, 0, {}, 0});
}

void HeadlessBackend::SetWaitCursor(bool on) {
  std::lock_guard lock(mutex_);
  waitCursor_ += on ? 1 : -1;
  if (waitCursor_ < 0) waitCursor_ = 0;
}

bool HeadlessBackend::DropFiles(int windowId, int control, std::vector<std::string> files) {
  int thread = 0;
  {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(windowId);
    if (it == windows_.end() || !it->second.enabled) return false;
    const auto& controls = it->second.controls;
    auto c = std::find_if(controls.begin(), controls.end(),
                          [&](const ControlView& v) { return v.number == control; });
    if (c == controls.end() || !c->takesFiles || c->disabled || c->hidden) return false;
    thread = it->second.thread;
  }
  EventMessage m = DroppedFilesMessage(control, std::move(files));
  if (m.files.empty()) return false;
  m.windowId = windowId;
  return PostMessage(thread, std::move(m));
}

ProgressState HeadlessBackend::Progress() const {
  std::lock_guard lock(mutex_);
  return progress_.empty() ? ProgressState{} : progress_.back();
}

std::vector<ProgressState> HeadlessBackend::ProgressHistory() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

void HeadlessBackend::OnProgress(std::function<void(const ProgressState&)> observer) {
  std::lock_guard lock(mutex_);
  progressObserver_ = std::move(observer);
}

void HeadlessBackend::ProgressChanged(const ProgressState& state) {
  std::function<void(const ProgressState&)> observer;
  {
    std::lock_guard lock(mutex_);
    progress_.push_back(state);
    observer = progressObserver_;
  }
  if (observer) observer(state);
}

void HeadlessBackend::SetScreens(std::vector<Rect> screens) {
  std::lock_guard lock(mutex_);
  screens_ = std::move(screens);
}

std::vector<Rect> HeadlessBackend::ScreenAreas() {
  std::lock_guard lock(mutex_);
  return screens_;
}

bool HeadlessBackend::WindowPlacement(int windowId, Placement& placement) {
  std::lock_guard lock(mutex_);
  auto it = placements_.find(windowId);
  if (it == placements_.end()) return false;
  placement = it->second;
  return true;
}

void HeadlessBackend::PlaceWindow(int windowId, const Placement& placement) {
  std::lock_guard lock(mutex_);
  if (windows_.count(windowId) != 0) placements_[windowId] = placement;
}

void HeadlessBackend::Beep() {
  Record({"beep", {}, {}, 0, 0, 0, {}, 0});
}

}  // namespace rt
