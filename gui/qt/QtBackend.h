// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Qt desktop presentation of the runtime. The Qt event loop runs on the process main
// thread (the GUI thread); runtime threads never touch widgets: each call copies its
// arguments and queues the work to the GUI thread. Blocking requests (message box, popup
// menu, file dialog, stop, print) are shown on the GUI thread while the calling runtime
// thread waits for the answer and its windows take no input; the GUI thread itself never
// waits for a runtime thread (a request made on the GUI thread runs there directly).

#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/runtime/windows/UiBackend.h"

class QMainWindow;
class QObject;
class QPrinter;
class QTimer;
class QWidget;

namespace gui {

class QtFrame;
class QtSurface;

class QtBackend : public rt::UiBackend {
 public:
  // Made on the GUI thread once the QApplication exists.
  QtBackend();
  ~QtBackend() override;
  QtBackend(const QtBackend&) = delete;
  QtBackend& operator=(const QtBackend&) = delete;

  // Saves the frame as a PNG image to `path` once it has been shown and has stayed
  // unchanged for a moment. Call before the frame opens.
  void SaveFrameWhenIdle(const QString& path) { screenshotPath_ = path; }

  // Closes every window and stops taking requests (waiting runtime threads get the answer
  // of a cancelled dialog). Call on the GUI thread before the application object goes.
  void Shutdown();

  // GUI thread only: the widgets of a window, a control, a region (the place a page view is
  // put into), and the frame. nullptr when there is none.
  QWidget* WindowWidget(int windowId) const;
  QWidget* ControlWidget(int windowId, int control) const;
  QWidget* RegionWidget(int windowId, int control) const;
  QMainWindow* Frame() const;
  int WaitCursorDepth() const { return waitCursor_; }
  // GUI thread only: how many changes from the runtime the desktop has carried out so far
  // (with QtSurface::Sent, lets a caller tell when the two sides have settled).
  std::uint64_t Applied() const { return applied_; }
  // Renders a print job on the printer the user confirmed in the print dialog.
  using PrintHandler = std::function<void(const rt::PrintJob&, QPrinter&)>;
  void SetPrintHandler(PrintHandler handler);

  void WindowOpened(const rt::WindowView& window) override;
  void WindowClosed(int windowId) override;
  void WindowChanged(int windowId, const std::string& caption, const rt::Rect& pos,
                     bool enabled) override;
  void ControlChanged(int windowId, const rt::ControlView& control) override;
  void ControlDestroyed(int windowId, int control) override;
  void FocusControl(int windowId, int control) override;
  void StandardActionRequested(int windowId, rt::StandardAction action) override;
  void WindowSizeLimits(int windowId, int minWidth, int minHeight, int maxWidth,
                        int maxHeight) override;
  int Message(const std::string& text, const std::string& caption, int icon, int buttons,
              int defaultButton, int style) override;
  int Popup(const std::string& menu, int x, int y) override;
  bool FileDialog(const std::string& title, std::string& fileName, const std::string& masks,
                  int flags) override;
  void Stop(const std::string& text) override;
  void Halt(int code, const std::string& text) override;
  void Print(const rt::PrintJob& job) override;
  void SetWaitCursor(bool on) override;
  void Beep() override;
  void ProgressChanged(const rt::ProgressState& state) override;
  std::vector<rt::Rect> ScreenAreas() override;
  bool WindowPlacement(int windowId, rt::Placement& placement) override;
  void PlaceWindow(int windowId, const rt::Placement& placement) override;

 private:
  template <typename T>
  using Completion = std::function<void(T)>;

  bool OnGuiThread() const;
  bool Queue(std::function<void()> work);
  void Run(std::function<void()> work);
  template <typename T>
  T Ask(std::function<void(int thread, Completion<T>)> start, T fallback);
  // Reads something of the screen on the GUI thread, the caller waiting for it without
  // blocking its windows' input (nothing is shown to the user).
  template <typename T>
  T Query(std::function<T()> read, T fallback);

  QtSurface* Surface(int windowId) const;
  QWidget* DialogParent(int thread) const;
  // The active window when it is a runtime window of its own over the frame, else nullptr.
  QWidget* ActiveDialog() const;
  void Block(int thread, bool blocked);
  // Keeps a request's dialog so that Shutdown can cancel it.
  void Track(QWidget* dialog);
  void Open(const rt::WindowView& view);
  void Close(int windowId);
  void DoAction(rt::StandardAction action);
  void FocusChanged(QWidget* old, QWidget* now);
  void Touch();
  void TakeScreenshot();

  mutable std::mutex mutex_;
  std::unique_ptr<QObject> context_;  // lives on the GUI thread; queued work runs on it
  std::map<int, QPointer<QWidget>> windows_;
  std::vector<QPointer<QWidget>> requests_;
  std::map<int, int> owners_;  // dialog -> the owner window it keeps from input
  QPointer<QtFrame> frame_;
  std::unique_ptr<QPrinter> printer_;
  PrintHandler printHandler_;
  int waitCursor_ = 0;
  QString screenshotPath_;
  QTimer* screenshotTimer_ = nullptr;  // child of the context
  int screenshotRestarts_ = 0;
  std::uint64_t applied_ = 0;
};

// Runs a program on the desktop: makes the QApplication (named `programName`; it takes no
// command-line options), installs a QtBackend, runs rt::RunProgram(programMain) on a thread
// of its own and the Qt event loop on the calling thread until program main has returned.
// With a screenshot path the frame is saved there as in SaveFrameWhenIdle. Returns the
// program's exit code.
int RunDesktop(const char* programName, std::function<void()> programMain,
               const std::string& screenshotPath = {});

}  // namespace gui
