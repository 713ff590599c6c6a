// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The menus of a window: the runtime's menu bar, menus, submenus and items (an item without
// text is a separator) shown in a QMenuBar. Choosing an item calls the trigger with the
// item's (negative) number.

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>

#include "platform/runtime/windows/UiBackend.h"

class QAction;
class QMenu;
class QMenuBar;

namespace gui {

class QtMenuSet : public QObject {
  Q_OBJECT

 public:
  using Trigger = std::function<void(int item)>;
  QtMenuSet(QMenuBar* bar, Trigger trigger, QObject* parent = nullptr);

  // Creates or updates the menu entry the control describes (menu types only).
  void Apply(const rt::ControlView& control);
  void Remove(int number);
  bool Empty() const { return entries_.empty(); }
  // The menu whose text without "&" is `plainText`, or nullptr.
  QMenu* FindMenu(const QString& plainText) const;
  QAction* Action(int number) const;

 private:
  struct Entry {
    int type = 0;
    QPointer<QMenu> menu;      // menus
    QPointer<QAction> action;  // items, and the action that shows a menu in its parent
  };
  QWidget* ParentOf(int parent) const;

  QPointer<QMenuBar> bar_;
  Trigger trigger_;
  std::map<int, Entry> entries_;
};

}  // namespace gui
