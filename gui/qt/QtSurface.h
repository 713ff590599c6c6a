// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the backend needs of every widget that shows a runtime window (the frame and the
// ordinary windows): apply the runtime's changes, find controls, and send user input to the
// window's thread.

#include <cstdint>
#include <string>

#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/UiBackend.h"

class QCloseEvent;
class QWidget;

namespace gui {

class QtSurface {
 public:
  QtSurface(int id, int thread) : id_(id), thread_(thread) {}
  virtual ~QtSurface() = default;
  QtSurface(const QtSurface&) = delete;
  QtSurface& operator=(const QtSurface&) = delete;

  int Id() const { return id_; }
  int Thread() const { return thread_; }

  virtual QWidget* Widget() = 0;
  virtual void ApplyWindow(const std::string& caption, const rt::Rect& pos, bool enabled) = 0;
  virtual void ApplyControl(const rt::ControlView& control) = 0;
  virtual void DestroyControl(int number) = 0;
  virtual void FocusControl(int number) = 0;
  virtual QWidget* ControlWidget(int number) const = 0;
  virtual int ControlType(int number) const = 0;
  // The window's thread is busy with a blocking request (a message box...): no input. Calls
  // nest.
  virtual void SetBlocked(bool blocked);
  // The window now has the focus: a focus request made while it was inactive applies now.
  virtual void Activated() = 0;
  // The runtime has closed the window: the close box no longer asks the runtime.
  void MarkClosing() { closing_ = true; }
  bool Closing() const { return closing_; }
  // True while the runtime lets the window take input.
  bool TakesInput() const { return enabled_ && blocked_ == 0; }

  // Sends an event for this window to its thread.
  void Send(rt::EventMessage message) const;
  void Send(int event, int control = 0) const;
  // How many events the desktop's windows have sent so far.
  static std::uint64_t Sent();

 protected:
  // Shows on screen whether the window takes input, after a change of either.
  virtual void UpdateInputState() = 0;
  // The close box: the runtime decides whether the window closes, while it takes input; a
  // window the runtime has closed goes at once.
  void AskToClose(QCloseEvent* event) const;

  bool enabled_ = true;
  int blocked_ = 0;

 private:
  int id_;
  int thread_;
  bool closing_ = false;
};

}  // namespace gui
