// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The headless UI backend: it keeps the window model only. Blocking requests are answered
// by a responder (a queue of scripted answers, falling back to the default) and recorded in
// a transcript that tests read.

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

#include "platform/runtime/windows/UiBackend.h"

namespace rt {

struct UiRequest {
  std::string kind;  // "message", "popup", "file", "stop", "halt", "print", "action", "beep"
  std::string text;
  std::string caption;
  int buttons = 0;
  int defaultButton = 0;
  int answer = 0;        // pressed button, chosen item, 1/0 for a file chosen/cancelled
  std::string fileName;  // file dialog result
  int thread = 0;
};

class HeadlessBackend : public UiBackend {
 public:
  // Scripted answers, used in order: a button value for a message box, an item number for a
  // popup menu. A file dialog takes the next file answer; "" means cancel.
  void PushAnswer(int answer);
  void PushFile(std::string fileName);
  std::vector<UiRequest> Transcript() const;
  void ClearTranscript();
  // Waits until the transcript holds more than `count` entries.
  bool WaitForTranscript(std::size_t count, int timeoutMs = 5000) const;

  // The current model.
  std::vector<WindowView> Windows() const;
  std::optional<WindowView> FindWindow(int id) const;
  int WaitCursorDepth() const;
  // The control last focused in the window (0: none yet).
  int Focus(int windowId) const;

  // Drops files from the desktop on a control, as a user dragging them from the file
  // manager: the DroppedFiles event goes to the window's thread. False (nothing sent) when
  // the window takes no input, or the control takes no files or is disabled or hidden.
  bool DropFiles(int windowId, int control, std::vector<std::string> files);
  // The long operation shown now (id 0: none), and every state shown so far.
  ProgressState Progress() const;
  std::vector<ProgressState> ProgressHistory() const;
  // Called on the thread that changed the progress, after it is recorded.
  void OnProgress(std::function<void(const ProgressState&)> observer);
  // The desktop's screens (default: one of 1920 x 1080 pixels).
  void SetScreens(std::vector<Rect> screens);

  void WindowOpened(const WindowView& window) override;
  void WindowClosed(int windowId) override;
  void WindowChanged(int windowId, const std::string& caption, const Rect& pos,
                     bool enabled) override;
  void ControlChanged(int windowId, const ControlView& control) override;
  void ControlDestroyed(int windowId, int control) override;
  void FocusControl(int windowId, int control) override;
  void StandardActionRequested(int windowId, StandardAction action) override;
  int Message(const std::string& text, const std::string& caption, int icon, int buttons,
              int defaultButton, int style) override;
  int Popup(const std::string& menu, int x, int y) override;
  bool FileDialog(const std::string& title, std::string& fileName, const std::string& masks,
                  int flags) override;
  void Stop(const std::string& text) override;
  void Halt(int code, const std::string& text) override;
  void Print(const PrintJob& job) override;
  void SetWaitCursor(bool on) override;
  void Beep() override;
  void ProgressChanged(const ProgressState& state) override;
  std::vector<Rect> ScreenAreas() override;
  bool WindowPlacement(int windowId, Placement& placement) override;
  void PlaceWindow(int windowId, const Placement& placement) override;

 private:
  void Record(UiRequest request);

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<int, WindowView> windows_;
  std::map<int, int> focus_;  // window -> focused control
  std::deque<int> answers_;
  std::deque<std::string> files_;
  std::vector<UiRequest> transcript_;
  int waitCursor_ = 0;
  std::vector<ProgressState> progress_;
  std::function<void(const ProgressState&)> progressObserver_;
  std::vector<Rect> screens_{{0, 0, 1920, 1080}};
  std::map<int, Placement> placements_;
};

// Installs a fresh headless backend (replacing any other) and returns it.
std::shared_ptr<HeadlessBackend> InstallHeadlessBackend();

}  // namespace rt
