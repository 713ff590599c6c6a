// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <algorithm>

#include "gui/qt/MdiLayout.h"
#include "gui/qt/QtIcons.h"
#include "gui/qt/QtMenuSet.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Progress.h"

namespace gui {

namespace {
// A frame smaller than this has no room for its windows.
constexpr int kMinimumWidth = 800;
constexpr int kMinimumHeight = 600;
// How long an operation runs before its progress is shown.
constexpr int kProgressDelayMs = 300;
}  // namespace

QtFrame::QtFrame(const rt::WindowView& view)
    : QtSurface(view.id, view.thread),
      units_(view.font, view.fontSize),
      area_(new QMdiArea(this)),
      menus_(nullptr),
      progressLabel_(new QLabel(this)),
      progressBar_(new QProgressBar(this)),
      progressCancel_(new QPushButton(tr("Cancel"), this)),
      progressDelay_(new QTimer(this)) {
  setFont(units_.Font());
  setWindowTitle(QString::fromStdString(view.caption));
  setWindowIcon(QtIcons::ForName(view.icon));
  area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(area_);
  statusBar()->show();
  progressBar_->setMaximumWidth(200);
  progressCancel_->setAutoDefault(false);
  progressCancel_->setFocusPolicy(Qt::NoFocus);
  for (QWidget* w : {static_cast<QWidget*>(progressLabel_), static_cast<QWidget*>(progressBar_),
                     static_cast<QWidget*>(progressCancel_)}) {
    statusBar()->addPermanentWidget(w);
    w->hide();
  }
  connect(progressCancel_, &QPushButton::clicked, this, [this] {
    // Only asks: the operation stops after the step it is on, and says so itself.
    if (progressId_ != 0 && rt::CancelProgress(progressId_)) progressCancel_->setEnabled(false);
  });
  progressDelay_->setSingleShot(true);
  connect(progressDelay_, &QTimer::timeout, this, [this] {
    if (progressId_ == 0) return;
    progressLabel_->show();
    progressBar_->show();
    progressCancel_->show();
  });
  menus_ = new QtMenuSet(
      menuBar(),
      [this](int item) {
        if (TakesInput()) Send(rt::event::kAccepted, item);
      },
      this);
  for (const rt::ControlView& c : view.controls)
    ApplyControl(c);
  const QSize size = units_.ToPixels(view.pos.width, view.pos.height);
  resize(std::max(size.width(), kMinimumWidth), std::max(size.height(), kMinimumHeight));
  if (view.pos.x != 0 || view.pos.y != 0) move(units_.X(view.pos.x), units_.Y(view.pos.y));
  enabled_ = view.enabled;
  UpdateInputState();
}

QtFrame::~QtFrame() = default;

void QtFrame::ApplyWindow(const std::string& caption, const rt::Rect&, bool enabled) {
  // The frame keeps the size the user gave it; only its caption and input state follow.
  setWindowTitle(QString::fromStdString(caption));
  enabled_ = enabled;
  UpdateInputState();
}

void QtFrame::UpdateInputState() {
  menuBar()->setEnabled(TakesInput());
}

void QtFrame::ApplyControl(const rt::ControlView& c) {
  types_[c.number] = c.type;
  if (!rt::IsMenuType(c.type)) return;  // the frame shows only its menu
  menus_->Apply(c);
  if (!windowMenuHooked_) {
    if (QMenu* menu = menus_->FindMenu("Window")) {
      windowMenuHooked_ = true;
      connect(menu, &QMenu::aboutToShow, this, [this] { FillWindowMenu(); });
    }
  }
}

void QtFrame::FillWindowMenu() {
  QMenu* menu = menus_->FindMenu("Window");
  if (!menu) return;
  for (QAction* a : windowActions_) {
    menu->removeAction(a);
    delete a;
  }
  windowActions_.clear();
  const auto windows = area_->subWindowList(QMdiArea::CreationOrder);
  if (windows.isEmpty()) return;
  windowActions_.append(menu->addSeparator());
  int n = 1;
  for (QMdiSubWindow* sub : windows) {
    const QString text = QString("&%1 %2").arg(n++).arg(sub->windowTitle());
    QAction* a = menu->addAction(text);
    a->setCheckable(true);
    a->setChecked(sub == area_->activeSubWindow());
    QPointer<QMdiSubWindow> target(sub);
    connect(a, &QAction::triggered, this, [this, target] {
      if (target) area_->setActiveSubWindow(target);
    });
    windowActions_.append(a);
  }
}

void QtFrame::ArrangeIcons() {
  int x = 0;
  for (QMdiSubWindow* sub : area_->subWindowList(QMdiArea::CreationOrder)) {
    if (!sub->isMinimized()) continue;
    const QSize s = sub->size();
    sub->move(x, area_->viewport()->height() - s.height());
    x += s.width();
  }
}

QList<QMdiSubWindow*> QtFrame::Arrangeable(int order) {
  QList<QMdiSubWindow*> windows;
  for (QMdiSubWindow* sub : area_->subWindowList(static_cast<QMdiArea::WindowOrder>(order))) {
    if (sub->isHidden() || sub->isMinimized()) continue;
    if (sub->isMaximized()) sub->showNormal();
    windows.append(sub);
  }
  return windows;
}

namespace {

std::vector<MdiLayout::Item> ItemsOf(const QList<QMdiSubWindow*>& windows) {
  std::vector<MdiLayout::Item> items;
  for (QMdiSubWindow* sub : windows)
    items.push_back(
        {sub->size(), sub->minimumSize().expandedTo(sub->minimumSizeHint()), sub->maximumSize()});
  return items;
}

}  // namespace

void QtFrame::Tile() {
  const QList<QMdiSubWindow*> windows = Arrangeable(QMdiArea::CreationOrder);
  const std::vector<QRect> places = MdiLayout::Tile(area_->viewport()->rect(), ItemsOf(windows));
  for (qsizetype i = 0; i < windows.size(); ++i)
    windows[i]->setGeometry(places[static_cast<std::size_t>(i)]);
}

void QtFrame::Cascade() {
  // From the bottom of the stack up: the window in front stays in front, last on the
  // diagonal.
  const QList<QMdiSubWindow*> windows = Arrangeable(QMdiArea::StackingOrder);
  if (windows.isEmpty()) return;
  const int step =
      windows.front()->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, windows.front());
  const std::vector<QRect> places =
      MdiLayout::Cascade(area_->viewport()->rect(), ItemsOf(windows), step);
  for (qsizetype i = 0; i < windows.size(); ++i) {
    windows[i]->setGeometry(places[static_cast<std::size_t>(i)]);
    windows[i]->raise();
  }
}

void QtFrame::ShowProgress(const rt::ProgressState& state) {
  if (state.id == 0) {
    progressId_ = 0;
    progressDelay_->stop();
    progressLabel_->hide();
    progressBar_->hide();
    progressCancel_->hide();
    return;
  }
  if (state.id != progressId_) {
    // Another operation: it shows after its own delay unless the bar is already up.
    progressId_ = state.id;
    if (!progressBar_->isVisible()) progressDelay_->start(kProgressDelayMs);
  }
  progressLabel_->setText(QString::fromStdString(state.label));
  // An unknown total shows a busy bar.
  progressBar_->setRange(0, std::max(0, state.total));
  progressBar_->setValue(std::min(state.done, std::max(0, state.total)));
  progressCancel_->setEnabled(!state.cancelRequested);
  progressCancel_->setText(state.cancelRequested ? tr("Cancelling...") : tr("Cancel"));
}

void QtFrame::DestroyControl(int number) {
  types_.erase(number);
  menus_->Remove(number);
}

void QtFrame::FocusControl(int) {}

QWidget* QtFrame::ControlWidget(int) const {
  return nullptr;
}

int QtFrame::ControlType(int number) const {
  auto it = types_.find(number);
  return it == types_.end() ? 0 : it->second;
}

void QtFrame::closeEvent(QCloseEvent* event) {
  AskToClose(event);
}

}  // namespace gui
