// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtKeyMap.h"

#include <QKeyEvent>
#include <cctype>

#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/KeyChar.h"

namespace gui {

namespace {
int BaseCode(int k) {
  namespace key = rt::key;
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return 'A' + (k - Qt::Key_A);
  if (k >= Qt::Key_0 && k <= Qt::Key_9) return '0' + (k - Qt::Key_0);
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return key::kF1 + (k - Qt::Key_F1);
  switch (k) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return key::kEnter;
    case Qt::Key_Escape:
      return key::kEsc;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return key::kTab;
    case Qt::Key_Backspace:
      return key::kBackspace;
    case Qt::Key_Space:
      return key::kSpace;
    case Qt::Key_PageUp:
      return key::kPgUp;
    case Qt::Key_PageDown:
      return key::kPgDn;
    case Qt::Key_End:
      return key::kEnd;
    case Qt::Key_Home:
      return key::kHome;
    case Qt::Key_Left:
      return key::kLeft;
    case Qt::Key_Up:
      return key::kUp;
    case Qt::Key_Right:
      return key::kRight;
    case Qt::Key_Down:
      return key::kDown;
    case Qt::Key_Insert:
      return key::kInsert;
    case Qt::Key_Delete:
      return key::kDelete;
    case Qt::Key_Menu:
      return key::kApps;
    default:
      return 0;
  }
}
}  // namespace

int QtKeyMap::FromKey(int qtKey, int qtModifiers) {
  // A key that types punctuation is reported as the key that types that character in the
  // runtime's codes, Shift included, whatever the keyboard's layout.
  const bool punctuation = qtKey > ' ' && qtKey < 0x7F && !std::isalnum(qtKey);
  const int base = punctuation ? rt::CharKey(static_cast<char>(qtKey)) : BaseCode(qtKey);
  if (base == 0) return 0;
  int code = base;
  if ((qtModifiers & Qt::ShiftModifier) && !punctuation) code += rt::key::kShift;
  if (qtModifiers & Qt::ControlModifier) code += rt::key::kCtrl;
  if (qtModifiers & Qt::AltModifier) code += rt::key::kAlt;
  return code;
}

int QtKeyMap::FromEvent(const QKeyEvent& event) {
  return FromKey(event.key(), static_cast<int>(event.modifiers()));
}

}  // namespace gui
