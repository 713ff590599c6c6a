// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The floating toolbox of a popup manager: a small window on a thread of its own with one
// button per item. The owning thread hands it copies of the items to show (Publish) and is
// the only thread that touches its own windows; the toolbox thread posts a pressed button's
// event back to the owning thread and, when its window closes, hands the owning thread a
// task that tidies up there.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/util/PopupItemEntry.h"

namespace rt {
class Window;
}

class PopupToolbox : public std::enable_shared_from_this<PopupToolbox> {
 public:
  // The window definition the toolbox is made from.
  static constexpr const char* kModule = "Framework";
  static constexpr const char* kWindowName = "PopupToolbox";

  PopupToolbox(int ownerThread, int parentWindowId, bool clearKeyCode);

  // Owning thread. Starts the toolbox thread; `closed` runs on the owning thread after the
  // toolbox window has closed, unless Detach was called first. False when no thread started.
  bool Start(std::string caption, std::function<void()> closed, rt::Window** thisWindow);
  // Owning thread. Replaces the items shown and asks the toolbox to refresh its buttons.
  void Publish(std::vector<PopupItemEntry> items);
  // Owning thread. Closes the toolbox window and waits until its thread is done with it.
  void Close();
  // Owning thread. The `closed` task is not run any more.
  void Detach() { detached_ = true; }

  bool Running() const;
  // The toolbox window's id (0 while it is not open).
  int WindowId() const;

 private:
  struct Button {
    int control = 0;
    std::string name;
  };

  void Run(const std::string& caption);
  void Layout(rt::Window& window, std::vector<Button>& buttons);
  void Press(rt::Window& window, const std::vector<Button>& buttons, int control);
  std::vector<PopupItemEntry> Items() const;

  const int ownerThread_;
  const int parentWindowId_;
  const bool clearKeyCode_;
  std::function<void()> closed_;
  bool detached_ = false;  // owning thread only
  rt::Window** thisWindow_ = nullptr;

  mutable std::mutex mutex_;
  std::condition_variable ended_;
  std::vector<PopupItemEntry> items_;
  bool running_ = false;
  int thread_ = 0;
  int windowId_ = 0;
};
