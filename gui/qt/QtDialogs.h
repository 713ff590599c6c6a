// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The blocking requests shown on the GUI thread: message boxes, popup menus, the file
// dialog. Each is shown without a nested event loop and returned; `done` receives the answer
// when the user has given it (exactly once, also when the dialog is deleted unanswered).

#include <QMessageBox>
#include <functional>
#include <string>
#include <vector>

#include "platform/runtime/windows/PopupMenu.h"

class QMenu;
class QWidget;

namespace gui {

class QtDialogs {
 public:
  // Message box: `buttons` is the runtime's bit set (0: OK), the answer the pressed bit.
  static QWidget* ShowMessage(QWidget* parent, const std::string& text, const std::string& caption,
                              int icon, int buttons, int defaultButton,
                              std::function<void(int)> done);
  // Popup menu in the runtime's popup syntax at a screen position; the answer is the chosen
  // item's number, 0 when nothing was chosen.
  static QWidget* ShowPopup(QWidget* parent, const std::string& menu, const QPoint& at,
                            std::function<void(int)> done);
  // File dialog: the answer is the chosen name, empty when cancelled. Several chosen files
  // are joined with "|".
  static QWidget* ShowFileDialog(QWidget* parent, const std::string& title,
                                 const std::string& fileName, const std::string& masks, int flags,
                                 std::function<void(std::string)> done);

  // "PDF Files|*.pdf|All Files|*.*" -> "PDF Files (*.pdf)", "All Files (*.*)".
  static QStringList NameFilters(const std::string& masks);
  static QMessageBox::StandardButton StandardButton(int bit);
  static int ButtonBit(QMessageBox::StandardButton button);
  // Adds the popup items to a menu; each selectable action carries its number as data.
  static void BuildPopup(QMenu& menu, const std::vector<rt::PopupItem>& items);
  // The answer of a box closed without pressing a button: Cancel, else No, else OK when
  // offered, else the default button.
  static int ClosedAnswer(int buttons, int defaultButton);
};

}  // namespace gui
