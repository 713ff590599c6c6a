// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The interface through which the runtime talks to the screen. The runtime threads describe
// their windows and controls to the backend (copies, never references into runtime state)
// and ask it to carry out blocking requests. Two implementations: the headless backend
// (tests, scripted runs) and the Qt desktop.

#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/windows/ListFormat.h"
#include "platform/runtime/windows/WindowDef.h"

namespace rt {

// What the screen shows of one control.
struct ControlView {
  int number = 0;
  int type = 0;
  int parent = 0;
  std::string text;        // caption of prompts, buttons, checks, tabs, menu entries
  std::string screenText;  // the entry's text as shown
  int value = 0;           // check box state, sheet's current tab
  Rect pos;
  std::string icon;
  std::string tip;
  std::string picture;
  bool hidden = false;
  bool disabled = false;
  bool readOnly = false;
  bool isDefault = false;
  bool immediate = false;
  bool takesFiles = false;  // files dragged from the desktop may be dropped on it
  StandardAction action = StandardAction::None;
  std::vector<int> alerts;
  // Lists: parsed columns, formatted rows, the selected row (1-based, 0 none), and the
  // vertical scroll bar: shown or not, thumb position 0..100.
  std::vector<ListColumn> columns;
  std::vector<std::vector<std::string>> rows;
  int choice = 0;
  bool vscroll = false;
  int thumb = 0;
  // A control placed over a list cell: the list, the 1-based column and row (0: none).
  int cellList = 0;
  int cellColumn = 0;
  int cellRow = 0;
};

struct WindowView {
  int id = 0;
  int thread = 0;
  int ownerId = 0;  // owner window (0: none)
  std::string module;
  std::string name;
  std::string caption;
  std::string icon;
  std::string font;
  int fontSize = 8;
  WindowKind kind = WindowKind::Window;
  Rect pos;
  bool resizable = true;
  // Client size limits in dialog units (0: none).
  int minWidth = 0;
  int minHeight = 0;
  int maxWidth = 0;
  int maxHeight = 0;
  bool enabled = true;      // false while a window above it on its thread is open
  std::vector<int> alerts;  // keys alerted on the window itself
  std::vector<ControlView> controls;
};

struct PrintJob {
  std::string documents;  // names or descriptions of what is printed
  int firstPage = 0;
  int lastPage = 0;
  std::string options;
};

// Where a window stands on the desktop, in the desktop's pixels: its normal (not maximised)
// frame geometry, and whether it is maximised.
struct Placement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool maximized = false;
  bool operator==(const Placement&) const = default;
};

// The long operation a progress indicator shows (see Progress.h); id 0: none runs.
struct ProgressState {
  int id = 0;
  std::string label;
  int total = 0;
  int done = 0;
  bool cancelRequested = false;
};

class UiBackend {
 public:
  virtual ~UiBackend() = default;

  // Window model changes, called on the owning runtime thread.
  virtual void WindowOpened(const WindowView& window) = 0;
  virtual void WindowClosed(int windowId) = 0;
  virtual void WindowChanged(int windowId, const std::string& caption, const Rect& pos,
                             bool enabled) = 0;
  virtual void ControlChanged(int windowId, const ControlView& control) = 0;
  virtual void ControlDestroyed(int windowId, int control) = 0;
  virtual void FocusControl(int windowId, int control) = 0;
  virtual void StandardActionRequested(int windowId, StandardAction action) = 0;
  // The window's client size limits changed (dialog units, 0: none). A screen that cannot
  // limit sizes ignores it.
  virtual void WindowSizeLimits(int /*windowId*/, int /*minWidth*/, int /*minHeight*/,
                                int /*maxWidth*/, int /*maxHeight*/) {}
  // The long operation to show changed (any thread). A screen without an indicator ignores it.
  virtual void ProgressChanged(const ProgressState& /*state*/) {}

  // Window placement on the desktop. The available area of each screen (empty: unknown),
  // a window's placement (false when it has none on screen), and moving a window there.
  virtual std::vector<Rect> ScreenAreas() { return {}; }
  virtual bool WindowPlacement(int /*windowId*/, Placement& /*placement*/) { return false; }
  virtual void PlaceWindow(int /*windowId*/, const Placement& /*placement*/) {}

  // Blocking requests.
  virtual int Message(const std::string& text, const std::string& caption, int icon, int buttons,
                      int defaultButton, int style) = 0;
  virtual int Popup(const std::string& menu, int x, int y) = 0;
  virtual bool FileDialog(const std::string& title, std::string& fileName, const std::string& masks,
                          int flags) = 0;
  virtual void Stop(const std::string& text) = 0;
  virtual void Halt(int code, const std::string& text) = 0;
  virtual void Print(const PrintJob& job) = 0;

  virtual void SetWaitCursor(bool on) = 0;
  virtual void Beep() = 0;
};

// The exit code of a program that asks for its backend when none is installed.
inline constexpr int kNoBackendExitCode = 70;

// The backend in use, shared with the caller: a blocking request keeps it alive even when
// another backend is installed meanwhile. The program (or test) installs one before any
// window opens; asked for a backend when none is installed, the process says so on standard
// error and ends with kNoBackendExitCode rather than run on without a window.
std::shared_ptr<UiBackend> Backend();
// Replaces the backend. Install one only while no runtime thread runs (at start-up, between
// tests): the backend replaced is released when its last owner lets go of it.
void InstallBackend(std::shared_ptr<UiBackend> backend);

}  // namespace rt
