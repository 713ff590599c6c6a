// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Translates Qt key presses into the runtime's key codes (base code plus modifier bits).

class QKeyEvent;

namespace gui {

class QtKeyMap {
 public:
  // The runtime key code of a key press, or 0 for keys the runtime has no code for.
  static int FromEvent(const QKeyEvent& event);
  // The same from a Qt key and Qt keyboard modifiers.
  static int FromKey(int qtKey, int qtModifiers);
};

}  // namespace gui
