// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtIcons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <initializer_list>

namespace gui {

namespace {

constexpr int kSize = 32;

QPixmap Canvas() {
  QPixmap pixmap(kSize, kSize);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

// A sheet of paper with a folded corner, the base of the document icons.
void DrawPage(QPainter& p, const QColor& fill) {
  QPainterPath page;
  page.moveTo(7, 3);
  page.lineTo(20, 3);
  page.lineTo(26, 9);
  page.lineTo(26, 29);
  page.lineTo(7, 29);
  page.closeSubpath();
  p.setPen(QPen(QColor(60, 60, 60), 1.5));
  p.setBrush(fill);
  p.drawPath(page);
  p.drawLine(QPointF(20, 3), QPointF(20, 9));
  p.drawLine(QPointF(20, 9), QPointF(26, 9));
}

// Strokes of a thick round-capped pen: the action's mark drawn over the page.
void DrawMark(QPainter& p, const QColor& color, std::initializer_list<QLine> strokes) {
  p.setPen(QPen(color, 4, Qt::SolidLine, Qt::RoundCap));
  for (const QLine& stroke : strokes)
    p.drawLine(stroke);
}

QIcon Drawn(const QString& which) {
  QPixmap pixmap = Canvas();
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  if (which == "frame") {
    DrawPage(p, QColor(250, 250, 250));
    p.setPen(QPen(QColor(200, 40, 40), 2));
    for (int y = 13; y <= 25; y += 4)
      p.drawLine(10, y, 23, y);
  } else if (which == "insert") {
    DrawPage(p, Qt::white);
    DrawMark(p, QColor(30, 150, 30), {QLine(16, 12, 16, 26), QLine(9, 19, 23, 19)});
  } else if (which == "change") {
    DrawPage(p, Qt::white);
    DrawMark(p, QColor(200, 140, 20), {QLine(11, 26, 24, 13)});
    p.setPen(QPen(QColor(60, 60, 60), 2));
    p.drawLine(9, 28, 11, 26);
  } else if (which == "delete") {
    DrawPage(p, Qt::white);
    DrawMark(p, QColor(200, 30, 30), {QLine(11, 14, 22, 25), QLine(22, 14, 11, 25)});
  } else if (which == "view") {
    DrawPage(p, Qt::white);
    p.setPen(QPen(QColor(30, 70, 170), 3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(14, 17), 5, 5);
    p.drawLine(18, 21, 24, 27);
  }
  p.end();
  return QIcon(pixmap);
}

QIcon Themed(const char* themeName, QStyle::StandardPixmap fallback) {
  QIcon icon = QIcon::fromTheme(themeName);
  if (!icon.isNull()) return icon;
  return QApplication::style()->standardIcon(fallback);
}

QIcon ThemedOrDrawn(const char* themeName, const QString& drawn) {
  QIcon icon = QIcon::fromTheme(themeName);
  return icon.isNull() ? Drawn(drawn) : icon;
}

}  // namespace

QIcon QtIcons::ForName(const std::string& name) {
  QString key = QString::fromStdString(name).trimmed().toUpper();
  if (key.startsWith('~')) key.remove(0, 1);  // "~NAME": an icon linked into the program
  if (key.endsWith(".ICO")) key.chop(4);
  if (key == "WAFRAME") return ThemedOrDrawn(kProgramIcon, "frame");
  if (key == "WAINSERT") return ThemedOrDrawn("list-add", "insert");
  if (key == "WACHANGE") return ThemedOrDrawn("document-edit", "change");
  if (key == "WADELETE") return ThemedOrDrawn("edit-delete", "delete");
  if (key == "WACLOSE") return Themed("window-close", QStyle::SP_DialogCloseButton);
  if (key == "WACANCEL") return Themed("dialog-cancel", QStyle::SP_DialogCancelButton);
  if (key == "WAOK") return Themed("dialog-ok", QStyle::SP_DialogOkButton);
  // The stock message icons, named by number.
  if (key == "1") return QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation);
  if (key == "2") return QApplication::style()->standardIcon(QStyle::SP_MessageBoxQuestion);
  if (key == "3") return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
  if (key == "4") return QApplication::style()->standardIcon(QStyle::SP_MessageBoxCritical);
  if (key == "WIZCNVT") return ThemedOrDrawn("document-preview", "view");
  return QIcon();
}

}  // namespace gui
