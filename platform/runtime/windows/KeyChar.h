// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The characters keys type. Key codes name keys (Events.h), as on a US keyboard: a letter,
// digit or punctuation key types one character, another with Shift. The screen reports a
// typed character as the code of the key that types it there.

#include <vector>

namespace rt {

// The printable character a key code types, or 0 for a key that types none (arrows,
// function keys, Enter, anything with Ctrl or Alt).
char KeyChar(int keyCode);
// The key code that types a printable character (Shift included), or 0 when none does.
int CharKey(char c);
// Every key code that types a printable character, with and without Shift.
const std::vector<int>& CharacterKeys();

}  // namespace rt
