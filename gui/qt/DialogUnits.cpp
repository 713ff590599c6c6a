// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/DialogUnits.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QString>
#include <algorithm>

namespace gui {

namespace {
bool IsClassicDialogFont(const std::string& family) {
  const QString f = QString::fromStdString(family).trimmed().toLower();
  return f.isEmpty() || f == "ms sans serif" || f == "microsoft sans serif" ||
         f == "ms shell dlg" || f == "ms shell dlg 2" || f == "system";
}
}  // namespace

DialogUnits::DialogUnits() : DialogUnits(std::string(), 8) {}

DialogUnits::DialogUnits(const std::string& family, int pointSize)
    : font_(FontFor(family, pointSize)) {
  const QFontMetrics metrics(font_);
  // The classic average: the width of both alphabets over 52, rounded.
  const int alphabet =
      metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  charWidth_ = std::max(1, (alphabet / 26 + 1) / 2);
  lineHeight_ = std::max(1, metrics.height());
}

QFont DialogUnits::FontFor(const std::string& family, int pointSize) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  if (!IsClassicDialogFont(family)) font.setFamily(QString::fromStdString(family));
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(pointSize > 0 ? pointSize : 8);
  return font;
}

int DialogUnits::X(int units) const {
  return units * charWidth_ / 4;
}
int DialogUnits::Y(int units) const {
  return units * lineHeight_ / 8;
}

QRect DialogUnits::ToPixels(const rt::Rect& rect) const {
  return QRect(X(rect.x), Y(rect.y), X(rect.width), Y(rect.height));
}

QSize DialogUnits::ToPixels(int width, int height) const {
  return QSize(X(width), Y(height));
}

int DialogUnits::UnitsX(int pixels) const {
  return (pixels * 4 + charWidth_ / 2) / charWidth_;
}
int DialogUnits::UnitsY(int pixels) const {
  return (pixels * 8 + lineHeight_ / 2) / lineHeight_;
}

}  // namespace gui
