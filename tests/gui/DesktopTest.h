// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A fixture for tests that drive real widgets: a fresh QtBackend per test, the runtime
// program on a thread of its own, and Qt events pumped on the GUI thread while waiting.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "gui/qt/QtBackend.h"
#include "gui/qt/QtSurface.h"
#include "gui/qt/QtWindow.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/HeadlessBackend.h"

namespace gui_test {

class DesktopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::ClearHooks();
    InstallFreshBackend();
  }

  void TearDown() override {
    FinishProgram();
    backend_->Shutdown();
    rt::InstallBackend(std::make_shared<rt::HeadlessBackend>());
    QApplication::processEvents();
  }

  void InstallFreshBackend() {
    if (backend_) backend_->Shutdown();
    backend_ = std::make_shared<gui::QtBackend>();
    rt::InstallBackend(backend_);
  }

  // Runs program main on a thread of its own (it becomes runtime thread 1).
  void StartProgram(std::function<void()> programMain) {
    done_ = false;
    runner_ = std::thread([this, programMain] {
      rt::RunProgram(programMain);
      done_ = true;
    });
  }

  // Pumps Qt events until the condition holds; false on timeout.
  static bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
      if (timer.elapsed() > timeoutMs) return false;
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  // Pumps Qt events until both sides have settled: every runtime thread waits with nothing
  // queued, and a round of the GUI's events (all that was queued before it included)
  // neither carries out a runtime change nor sends the runtime an event. False on timeout.
  bool Settle(int timeoutMs = 10000) {
    return PumpUntil(
        [this] {
          if (!rt::AllThreadsIdle()) return false;
          const std::uint64_t before = backend_->Applied() + gui::QtSurface::Sent();
          bool reached = false;
          QMetaObject::invokeMethod(
              qApp, [&reached] { reached = true; }, Qt::QueuedConnection);
          while (!reached)
            QApplication::processEvents();
          return rt::AllThreadsIdle() && backend_->Applied() + gui::QtSurface::Sent() == before;
        },
        timeoutMs);
  }

  // Waits for program main to return; on timeout asks every thread to close and waits on.
  bool FinishProgram() {
    if (!runner_.joinable()) return true;
    bool clean = PumpUntil([this] { return done_.load(); });
    if (!clean) {
      // Cancel waiting requests and close every window so that the program can end.
      backend_->Shutdown();
      for (int t : rt::RunningThreads())
        rt::PostCloseDown(t);
      PumpUntil([this] { return done_.load(); }, 60000);
    }
    runner_.join();
    return clean;
  }

  // The open window with that caption, or nullptr.
  static gui::QtWindow* FindWindow(const QString& caption) {
    for (QWidget* w : QApplication::allWidgets()) {
      auto* window = qobject_cast<gui::QtWindow*>(w);
      if (window && !window->Closing() && window->windowTitle() == caption) return window;
    }
    return nullptr;
  }

  // Every open window with that caption, oldest first.
  static std::vector<gui::QtWindow*> FindWindows(const QString& caption) {
    std::vector<gui::QtWindow*> found;
    for (QWidget* w : QApplication::allWidgets()) {
      auto* window = qobject_cast<gui::QtWindow*>(w);
      if (window && !window->Closing() && window->windowTitle() == caption) found.push_back(window);
    }
    std::sort(found.begin(), found.end(),
              [](gui::QtWindow* a, gui::QtWindow* b) { return a->Id() < b->Id(); });
    return found;
  }

  template <typename T>
  static T* Visible() {
    for (QWidget* w : QApplication::topLevelWidgets())
      if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) return t;
    return nullptr;
  }

  std::shared_ptr<gui::QtBackend> backend_;
  std::thread runner_;
  std::atomic<bool> done_{true};
};

}  // namespace gui_test
