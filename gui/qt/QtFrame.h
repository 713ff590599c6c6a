// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application frame: a main window whose central widget is the MDI area holding the
// windows that have no owner, its menu in the menu bar ("&Window" also lists the open
// windows) and a status bar showing the tips of menu items and controls and, while a long
// operation runs, its progress with a cancel button. The close box asks the runtime.

#include <QMainWindow>
#include <map>

#include "gui/qt/DialogUnits.h"
#include "gui/qt/QtSurface.h"

class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QProgressBar;
class QPushButton;
class QTimer;

namespace gui {

class QtMenuSet;

class QtFrame : public QMainWindow, public QtSurface {
  Q_OBJECT

 public:
  explicit QtFrame(const rt::WindowView& view);
  ~QtFrame() override;

  QWidget* Widget() override { return this; }
  void ApplyWindow(const std::string& caption, const rt::Rect& pos, bool enabled) override;
  void ApplyControl(const rt::ControlView& control) override;
  void DestroyControl(int number) override;
  void FocusControl(int number) override;
  QWidget* ControlWidget(int number) const override;
  int ControlType(int number) const override;
  void Activated() override {}

  QMdiArea* Area() const { return area_; }
  QtMenuSet* Menus() const { return menus_; }
  // Lines the minimised windows up along the bottom of the area.
  void ArrangeIcons();
  // Share the area among the windows that are not minimised, or stack them from its top
  // left corner; either way every window that fits the area is put wholly inside it.
  void Tile();
  void Cascade();
  // Shows the long operation running (id 0: none). The bar appears once an operation has
  // run for a moment, so that short ones do not flash; Cancel asks the operation to stop.
  void ShowProgress(const rt::ProgressState& state);
  QProgressBar* ProgressBar() const { return progressBar_; }
  QPushButton* ProgressCancel() const { return progressCancel_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void FillWindowMenu();
  // The windows Tile and Cascade arrange, in the given order, shown at their normal size.
  QList<QMdiSubWindow*> Arrangeable(int order);
  void UpdateInputState() override;

  DialogUnits units_;
  QMdiArea* area_;
  QtMenuSet* menus_;
  std::map<int, int> types_;
  QList<QAction*> windowActions_;
  bool windowMenuHooked_ = false;
  QLabel* progressLabel_;
  QProgressBar* progressBar_;
  QPushButton* progressCancel_;
  QTimer* progressDelay_;
  int progressId_ = 0;  // the operation shown or about to be
};

}  // namespace gui
