// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Converts between the runtime's dialog units and pixels of a window font: one horizontal
// unit is a quarter of the font's average character width, one vertical unit an eighth of
// its height.

#include <QFont>
#include <QRect>
#include <QSize>
#include <string>

#include "platform/runtime/windows/WindowDef.h"

namespace gui {

class DialogUnits {
 public:
  // The desktop's default font at 8 points.
  DialogUnits();
  DialogUnits(const std::string& family, int pointSize);

  // The font for a window's font name: the classic dialog fonts map to the desktop's sans.
  static QFont FontFor(const std::string& family, int pointSize);

  const QFont& Font() const { return font_; }
  int CharWidth() const { return charWidth_; }
  int LineHeight() const { return lineHeight_; }

  int X(int units) const;
  int Y(int units) const;
  QRect ToPixels(const rt::Rect& rect) const;
  QSize ToPixels(int width, int height) const;
  // Rounds to the nearest unit.
  int UnitsX(int pixels) const;
  int UnitsY(int pixels) const;

 private:
  QFont font_;
  int charWidth_ = 6;
  int lineHeight_ = 13;
};

}  // namespace gui
