// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Translates the texts of a window (captions, prompts, tips) when the window is first shown.

namespace rt {
class Window;
}

class WindowTranslator {
 public:
  virtual ~WindowTranslator() = default;
  virtual void TranslateWindow(rt::Window& window) = 0;
};
