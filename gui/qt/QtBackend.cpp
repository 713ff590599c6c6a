// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtBackend.h"

#include <QApplication>
#include <QCursor>
#include <QEventLoop>
#include <QIcon>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <future>
#include <optional>
#include <thread>

#include "gui/qt/DialogUnits.h"
#include "gui/qt/QtDialogs.h"
#include "gui/qt/QtFileDialogGuard.h"
#include "gui/qt/QtFrame.h"
#include "gui/qt/QtIcons.h"
#include "gui/qt/QtWindow.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/HeadlessBackend.h"

namespace gui {

namespace {
// How long the frame must stay unchanged before the screenshot, and how often a change may
// put it off.
constexpr int kScreenshotQuietMs = 1500;
constexpr int kScreenshotMaxRestarts = 40;

QtSurface* SurfaceOf(QWidget* widget) {
  for (QWidget* w = widget; w; w = w->parentWidget())
    if (auto* s = dynamic_cast<QtSurface*>(w)) return s;
  return nullptr;
}
}  // namespace

QtBackend::QtBackend()
    : context_(std::make_unique<QObject>()), printer_(std::make_unique<QPrinter>()) {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) {
    QObject::connect(app, &QApplication::focusChanged, context_.get(),
                     [this](QWidget* old, QWidget* now) { FocusChanged(old, now); });
  }
}

QtBackend::~QtBackend() {
  if (QCoreApplication::instance() && OnGuiThread()) {
    Shutdown();
    return;
  }
  // Without the application (or off its thread) widgets cannot be deleted safely.
  std::lock_guard lock(mutex_);
  (void)context_.release();
  (void)printer_.release();
}

bool QtBackend::OnGuiThread() const {
  auto* app = QCoreApplication::instance();
  return app && QThread::currentThread() == app->thread();
}

void QtBackend::Shutdown() {
  {
    std::lock_guard lock(mutex_);
    // Queued work that has not run is dropped with its context; waiting threads see their
    // request cancelled.
    context_.reset();
    screenshotTimer_ = nullptr;
  }
  // Deleting an unanswered dialog answers its request as cancelled.
  auto requests = std::move(requests_);
  requests_.clear();
  for (QPointer<QWidget>& dialog : requests)
    if (dialog) delete dialog.data();
  auto windows = std::move(windows_);
  windows_.clear();
  owners_.clear();
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    QPointer<QWidget> w = it->second;
    if (!w) continue;
    if (auto* s = dynamic_cast<QtSurface*>(w.data())) s->MarkClosing();
    if (auto* window = qobject_cast<QtWindow*>(w.data()))
      delete window->Container();
    else
      delete w.data();
  }
  while (waitCursor_ > 0) {
    QApplication::restoreOverrideCursor();
    --waitCursor_;
  }
}

bool QtBackend::Queue(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  if (!context_) return false;
  return QMetaObject::invokeMethod(context_.get(), std::move(work), Qt::QueuedConnection);
}

void QtBackend::Run(std::function<void()> work) {
  auto wrapped = [this, work = std::move(work)] {
    work();
    ++applied_;
    Touch();
  };
  if (OnGuiThread())
    wrapped();
  else
    Queue(std::move(wrapped));
}

template <typename T>
T QtBackend::Ask(std::function<void(int thread, Completion<T>)> start, T fallback) {
  if (OnGuiThread()) {
    if (!context_) return fallback;
    std::optional<T> result;
    QEventLoop loop;
    start(0, [&result, &loop](T value) {
      result = std::move(value);
      loop.quit();
    });
    if (!result) loop.exec();
    return result ? *result : fallback;
  }
  const int thread = rt::ThreadNumber();
  auto promise = std::make_shared<std::promise<T>>();
  std::future<T> future = promise->get_future();
  const bool queued = Queue([this, start, promise, thread] {
    Block(thread, true);
    start(thread, [this, promise, thread](T value) {
      Block(thread, false);
      promise->set_value(std::move(value));
    });
  });
  if (!queued) return fallback;
  try {
    return future.get();
  } catch (const std::future_error&) {
    return fallback;  // the request was dropped at shutdown
  }
}

template <typename T>
T QtBackend::Query(std::function<T()> read, T fallback) {
  if (OnGuiThread()) return context_ ? read() : fallback;
  auto promise = std::make_shared<std::promise<T>>();
  std::future<T> future = promise->get_future();
  if (!Queue([read, promise] { promise->set_value(read()); })) return fallback;
  try {
    return future.get();
  } catch (const std::future_error&) {
    return fallback;  // dropped at shutdown
  }
}

QtSurface* QtBackend::Surface(int windowId) const {
  auto it = windows_.find(windowId);
  if (it == windows_.end() || !it->second) return nullptr;
  return dynamic_cast<QtSurface*>(it->second.data());
}

QWidget* QtBackend::ActiveDialog() const {
  QWidget* active = QApplication::activeWindow();
  if (!frame_ || !active || active == frame_) return nullptr;
  for (const auto& [id, widget] : windows_)
    if (widget == active) return active;
  return nullptr;
}

QWidget* QtBackend::DialogParent(int thread) const {
  // The newest window of the asking thread, else the frame.
  for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
    QtSurface* s = it->second ? dynamic_cast<QtSurface*>(it->second.data()) : nullptr;
    if (s && s->Thread() == thread && !s->Closing()) return it->second->window();
  }
  return frame_.data();
}

void QtBackend::Block(int thread, bool blocked) {
  if (thread == 0) return;
  for (auto& [id, w] : windows_) {
    QtSurface* s = w ? dynamic_cast<QtSurface*>(w.data()) : nullptr;
    if (s && s->Thread() == thread) s->SetBlocked(blocked);
  }
}

void QtBackend::Track(QWidget* dialog) {
  std::erase_if(requests_, [](const QPointer<QWidget>& d) { return d.isNull(); });
  requests_.emplace_back(dialog);
}

QWidget* QtBackend::WindowWidget(int windowId) const {
  QtSurface* s = Surface(windowId);
  return s ? s->Widget() : nullptr;
}

QWidget* QtBackend::ControlWidget(int windowId, int control) const {
  QtSurface* s = Surface(windowId);
  return s ? s->ControlWidget(control) : nullptr;
}

QWidget* QtBackend::RegionWidget(int windowId, int control) const {
  QtSurface* s = Surface(windowId);
  if (!s || s->ControlType(control) != rt::ctl::kRegion) return nullptr;
  return s->ControlWidget(control);
}

QMainWindow* QtBackend::Frame() const {
  return frame_.data();
}

void QtBackend::SetPrintHandler(PrintHandler handler) {
  printHandler_ = std::move(handler);
}

void QtBackend::WindowOpened(const rt::WindowView& window) {
  Run([this, window] { Open(window); });
}

void QtBackend::Open(const rt::WindowView& view) {
  if (windows_.count(view.id)) return;
  if (view.kind == rt::WindowKind::Frame) {
    auto* frame = new QtFrame(view);
    frame_ = frame;
    windows_[view.id] = frame;
    frame->show();
    if (!screenshotPath_.isEmpty() && context_ && !screenshotTimer_) {
      screenshotTimer_ = new QTimer(context_.get());
      screenshotTimer_->setSingleShot(true);
      QObject::connect(screenshotTimer_, &QTimer::timeout, context_.get(),
                       [this] { TakeScreenshot(); });
      screenshotTimer_->start(kScreenshotQuietMs);
    }
    return;
  }
  QtSurface* owner = view.ownerId != 0 ? Surface(view.ownerId) : nullptr;
  QtWindow* window = nullptr;
  const DialogUnits units(view.font, view.fontSize);
  if (owner && view.kind == rt::WindowKind::Tool) {
    // A tool window floats over its owner, which goes on taking input.
    window = new QtWindow(view, owner->Widget(), Qt::Tool);
    windows_[view.id] = window;
    const QRect area = owner->Widget()->window()->geometry();
    window->move(area.topRight() - QPoint(window->width(), 0));
    window->show();
  } else if (owner) {
    // A dialog over its owner: the owner takes no input until the dialog closes.
    window = new QtWindow(view, owner->Widget(), Qt::Dialog);
    windows_[view.id] = window;
    owners_[view.id] = view.ownerId;
    owner->SetBlocked(true);
    const QRect area = owner->Widget()->window()->geometry();
    window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
    window->show();
  } else if (QWidget* over = ActiveDialog()) {
    // Started from a window that floats over the frame (the document viewer starting its
    // find dialog): inside the frame it would open underneath that window, out of reach.
    window = new QtWindow(view, frame_, Qt::Dialog);
    windows_[view.id] = window;
    const QRect area = over->geometry();
    window->move(area.topRight() - QPoint(window->width(), 0));
    window->show();
  } else if (frame_) {
    window = new QtWindow(view);
    windows_[view.id] = window;
    QMdiSubWindow* sub = frame_->Area()->addSubWindow(window);
    sub->setWindowIcon(window->windowIcon());
    sub->resize(sub->sizeHint());
    if (view.pos.x != 0 || view.pos.y != 0) sub->move(units.X(view.pos.x), units.Y(view.pos.y));
    sub->show();
  } else {
    window = new QtWindow(view, nullptr, Qt::Window);
    windows_[view.id] = window;
    if (view.pos.x != 0 || view.pos.y != 0) window->move(units.X(view.pos.x), units.Y(view.pos.y));
    window->show();
  }
  window->activateWindow();
}

void QtBackend::WindowClosed(int windowId) {
  Run([this, windowId] { Close(windowId); });
}

void QtBackend::Close(int windowId) {
  auto it = windows_.find(windowId);
  if (it == windows_.end()) return;
  QPointer<QWidget> widget = it->second;
  windows_.erase(it);
  if (auto owner = owners_.find(windowId); owner != owners_.end()) {
    if (QtSurface* s = Surface(owner->second)) s->SetBlocked(false);
    owners_.erase(owner);
  }
  if (!widget) return;
  if (widget == frame_) frame_ = nullptr;
  if (auto* s = dynamic_cast<QtSurface*>(widget.data())) s->MarkClosing();
  QWidget* container = widget;
  if (auto* window = qobject_cast<QtWindow*>(widget.data())) container = window->Container();
  container->hide();
  container->deleteLater();
}

void QtBackend::WindowChanged(int windowId, const std::string& caption, const rt::Rect& pos,
                              bool enabled) {
  Run([this, windowId, caption, pos, enabled] {
    if (QtSurface* s = Surface(windowId)) s->ApplyWindow(caption, pos, enabled);
  });
}

void QtBackend::WindowSizeLimits(int windowId, int minWidth, int minHeight, int maxWidth,
                                 int maxHeight) {
  Run([this, windowId, minWidth, minHeight, maxWidth, maxHeight] {
    if (auto* w = dynamic_cast<QtWindow*>(Surface(windowId)))
      w->SetSizeLimits(minWidth, minHeight, maxWidth, maxHeight);
  });
}

void QtBackend::ControlChanged(int windowId, const rt::ControlView& control) {
  Run([this, windowId, control] {
    if (QtSurface* s = Surface(windowId)) s->ApplyControl(control);
  });
}

void QtBackend::ControlDestroyed(int windowId, int control) {
  Run([this, windowId, control] {
    if (QtSurface* s = Surface(windowId)) s->DestroyControl(control);
  });
}

void QtBackend::FocusControl(int windowId, int control) {
  Run([this, windowId, control] {
    if (QtSurface* s = Surface(windowId)) s->FocusControl(control);
  });
}

void QtBackend::StandardActionRequested(int, rt::StandardAction action) {
  Run([this, action] { DoAction(action); });
}

void QtBackend::DoAction(rt::StandardAction action) {
  using rt::StandardAction;
  auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
  switch (action) {
    case StandardAction::Cut:
      if (edit) edit->cut();
      break;
    case StandardAction::Copy:
      if (edit) edit->copy();
      break;
    case StandardAction::Paste:
      if (edit) edit->paste();
      break;
    case StandardAction::Tile:
      if (frame_) frame_->Tile();
      break;
    case StandardAction::Cascade:
      if (frame_) frame_->Cascade();
      break;
    case StandardAction::ArrangeIcons:
      if (frame_) frame_->ArrangeIcons();
      break;
    case StandardAction::PrintSetup: {
      auto* dialog = new QPageSetupDialog(printer_.get(), frame_.data());
      dialog->setAttribute(Qt::WA_DeleteOnClose);
      dialog->show();
      break;
    }
    default:
      break;
  }
}

int QtBackend::Message(const std::string& text, const std::string& caption, int icon, int buttons,
                       int defaultButton, int) {
  if (buttons == 0) buttons = rt::kButtonOk;
  return Ask<int>(
      [this, text, caption, icon, buttons, defaultButton](int thread, Completion<int> done) {
        Track(QtDialogs::ShowMessage(DialogParent(thread), text, caption, icon, buttons,
                                     defaultButton, std::move(done)));
      },
      QtDialogs::ClosedAnswer(buttons, defaultButton));
}

int QtBackend::Popup(const std::string& menu, int x, int y) {
  return Ask<int>(
      [this, menu, x, y](int thread, Completion<int> done) {
        const DialogUnits units;
        const QPoint at = x < 0 || y < 0 ? QCursor::pos() : QPoint(units.X(x), units.Y(y));
        Track(QtDialogs::ShowPopup(DialogParent(thread), menu, at, std::move(done)));
      },
      0);
}

bool QtBackend::FileDialog(const std::string& title, std::string& fileName,
                           const std::string& masks, int flags) {
  const std::string start = fileName;
  const std::string chosen = Ask<std::string>(
      [this, title, start, masks, flags](int thread, Completion<std::string> done) {
        Track(QtDialogs::ShowFileDialog(DialogParent(thread), title, start, masks, flags,
                                        std::move(done)));
      },
      std::string());
  if (chosen.empty()) return false;
  fileName = chosen;
  return true;
}

void QtBackend::Stop(const std::string& text) {
  Message(text, "Stop", static_cast<int>(rt::MessageIcon::Hand), rt::kButtonOk, 0, 0);
}

void QtBackend::Halt(int, const std::string& text) {
  if (!text.empty())
    Message(text, "Halt", static_cast<int>(rt::MessageIcon::Hand), rt::kButtonOk, 0, 0);
}

void QtBackend::Print(const rt::PrintJob& job) {
  Ask<int>(
      [this, job](int thread, Completion<int> done) {
        auto* dialog = new QPrintDialog(printer_.get(), DialogParent(thread));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        if (job.firstPage > 0 && job.lastPage >= job.firstPage) {
          dialog->setMinMax(job.firstPage, job.lastPage);
          dialog->setFromTo(job.firstPage, job.lastPage);
        }
        auto shared = std::make_shared<Completion<int>>(std::move(done));
        QObject::connect(dialog, &QDialog::finished, dialog, [this, job, shared](int result) {
          if (result == QDialog::Accepted && printHandler_) printHandler_(job, *printer_);
          if (*shared) std::exchange(*shared, nullptr)(result == QDialog::Accepted ? 1 : 0);
        });
        QObject::connect(dialog, &QObject::destroyed, [shared] {
          if (*shared) std::exchange(*shared, nullptr)(0);
        });
        dialog->show();
        Track(dialog);
      },
      0);
}

void QtBackend::SetWaitCursor(bool on) {
  Run([this, on] {
    if (on) {
      ++waitCursor_;
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (waitCursor_ > 0) {
      --waitCursor_;
      QApplication::restoreOverrideCursor();
    }
  });
}

void QtBackend::ProgressChanged(const rt::ProgressState& state) {
  Run([this, state] {
    if (frame_) frame_->ShowProgress(state);
  });
}

std::vector<rt::Rect> QtBackend::ScreenAreas() {
  return Query<std::vector<rt::Rect>>(
      [] {
        std::vector<rt::Rect> areas;
        for (const QScreen* screen : QGuiApplication::screens()) {
          const QRect r = screen->availableGeometry();
          areas.push_back({r.x(), r.y(), r.width(), r.height()});
        }
        return areas;
      },
      {});
}

bool QtBackend::WindowPlacement(int windowId, rt::Placement& placement) {
  const std::optional<rt::Placement> found = Query<std::optional<rt::Placement>>(
      [this, windowId]() -> std::optional<rt::Placement> {
        QWidget* w = WindowWidget(windowId);
        if (!w || !w->isWindow() || !w->isVisible()) return std::nullopt;
        // A maximised window keeps the geometry it goes back to.
        const bool maximized = w->isMaximized();
        const QRect r = maximized ? w->normalGeometry() : w->geometry();
        return rt::Placement{r.x(), r.y(), r.width(), r.height(), maximized};
      },
      std::nullopt);
  if (!found) return false;
  placement = *found;
  return true;
}

void QtBackend::PlaceWindow(int windowId, const rt::Placement& placement) {
  Run([this, windowId, placement] {
    QWidget* w = WindowWidget(windowId);
    if (!w || !w->isWindow()) return;
    if (w->isMaximized()) w->showNormal();
    w->setGeometry(placement.x, placement.y, placement.width, placement.height);
    if (placement.maximized) w->showMaximized();
  });
}

void QtBackend::Beep() {
  Run([] { QApplication::beep(); });
}

void QtBackend::FocusChanged(QWidget* old, QWidget* now) {
  QtSurface* from = SurfaceOf(old);
  QtSurface* to = SurfaceOf(now);
  if (from == to) return;
  if (from && !from->Closing()) from->Send(rt::event::kLoseFocus);
  if (to && !to->Closing()) {
    to->Send(rt::event::kGainFocus);
    to->Activated();
  }
}

void QtBackend::Touch() {
  if (!screenshotTimer_ || !screenshotTimer_->isActive()) return;
  if (++screenshotRestarts_ > kScreenshotMaxRestarts) return;
  screenshotTimer_->start(kScreenshotQuietMs);
}

void QtBackend::TakeScreenshot() {
  if (!frame_) return;
  const bool saved = frame_->grab().save(screenshotPath_, "PNG");
  std::fprintf(stderr, "%s %s\n", saved ? "screenshot saved to" : "could not save screenshot to",
               screenshotPath_.toLocal8Bit().constData());
}

int RunDesktop(const char* programName, std::function<void()> programMain,
               const std::string& screenshotPath) {
  int argc = 1;
  char* argv[] = {const_cast<char*>(programName), nullptr};
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  // The desktop matches the windows with the installed menu entry by its name; the icon
  // comes from the installed icon theme (none when run from the build tree).
  QGuiApplication::setDesktopFileName(QString::fromLatin1(QtIcons::kProgramIcon));
  QApplication::setWindowIcon(QIcon::fromTheme(QString::fromLatin1(QtIcons::kProgramIcon)));
  // File dialogs that Qt opens itself (the print dialog's) are its own widgets, not the
  // desktop's, so that the guard reaches them before they list a folder.
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  QtFileDialogGuard fileDialogs;
  auto backend = std::make_shared<QtBackend>();
  if (!screenshotPath.empty()) backend->SaveFrameWhenIdle(QString::fromStdString(screenshotPath));
  rt::InstallBackend(backend);
  std::atomic<int> exitCode{0};
  std::atomic<bool> finished{false};
  std::thread runner([&] {
    exitCode = rt::RunProgram(programMain);
    finished = true;
    QMetaObject::invokeMethod(
        &app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
  });
  QApplication::exec();
  if (!finished) {
    // The event loop ended first (the session closed): ask every runtime thread to close
    // its windows and keep serving their requests until program main has returned.
    for (int thread : rt::RunningThreads())
      rt::PostCloseDown(thread);
    while (!finished)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  runner.join();
  backend->Shutdown();
  rt::InstallBackend(std::make_shared<rt::HeadlessBackend>());
  return exitCode;
}

}  // namespace gui
