// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The widget of an ordinary runtime window: an optional menu bar over a client area whose
// controls are placed at the runtime's positions (dialog units of the window font; no
// layouts: the runtime owns geometry). User input becomes events posted to the window's
// thread; the close box asks the runtime instead of closing.

#include <QPointer>
#include <QWidget>
#include <map>

#include "gui/qt/DialogUnits.h"
#include "gui/qt/QtSurface.h"

class QMenuBar;

namespace gui {

class QtMenuSet;

class QtWindow : public QWidget, public QtSurface {
  Q_OBJECT

 public:
  explicit QtWindow(const rt::WindowView& view, QWidget* parent = nullptr,
                    Qt::WindowFlags flags = {});
  ~QtWindow() override;

  QWidget* Widget() override { return this; }
  void ApplyWindow(const std::string& caption, const rt::Rect& pos, bool enabled) override;
  void ApplyControl(const rt::ControlView& control) override;
  void DestroyControl(int number) override;
  void FocusControl(int number) override;
  QWidget* ControlWidget(int number) const override;
  int ControlType(int number) const override;
  void Activated() override;
  // The client size limits in dialog units (0: none).
  void SetSizeLimits(int minWidth, int minHeight, int maxWidth, int maxHeight);

  QWidget* Client() const { return client_; }
  QMenuBar* MenuBar() const { return menuBar_; }
  const DialogUnits& Units() const { return units_; }
  // The widget that frames the window on screen: an MDI subwindow or the window itself.
  QWidget* Container();
  QSize sizeHint() const override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Slot {
    rt::ControlView view;
    QPointer<QWidget> widget;  // for a tab: its (empty) page
  };
  QWidget* Create(const rt::ControlView& c);
  QWidget* CreateClickable(int type, int number, QWidget* parent);
  // True when the control is visible: not hidden, and on the current tab of every sheet it
  // lies on.
  bool Shown(int number, int depth = 0) const;
  void ShowTabControls();
  void Update(Slot& slot, const rt::ControlView& c);
  void Place(const Slot& slot);
  // Puts a control over its list cell; false when the cell is not shown.
  bool PlaceOverCell(const Slot& slot);
  // Places again the controls that sit over cells of the list.
  void PlaceCellControls(int list);
  // Tells each list whether a shown control sits over one of its cells.
  void MarkEditedLists();
  void SendFrom(int control, rt::EventMessage message);
  bool HandleKey(int control, int keyCode);
  void AcceptEditedEntries();
  void PressDefaultButton();
  void UpdateInputState() override;
  void LayoutChildren();
  void ApplySize(const rt::Rect& pos);
  int MenuBarHeight() const;
  void ApplySizeLimits();

  DialogUnits units_;
  QMenuBar* menuBar_ = nullptr;
  QtMenuSet* menus_ = nullptr;
  QWidget* client_ = nullptr;
  std::map<int, Slot> controls_;
  std::map<const QObject*, int> numbers_;  // control widgets to control numbers
  rt::Rect pos_;
  QSize clientSize_;  // the client size the runtime knows of
  QPointer<QWidget> pendingFocus_;
  QPointer<QWidget> blockedFocus_;  // had the focus when the controls were disabled
  bool applying_ = false;
  int limits_[4] = {0, 0, 0, 0};  // minimum and maximum client width and height (units)
};

}  // namespace gui
