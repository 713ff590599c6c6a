// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtFileDialogGuard.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>

namespace gui {

QtFileDialogGuard::QtFileDialogGuard() {
  if (qApp) qApp->installEventFilter(this);
}

QtFileDialogGuard::~QtFileDialogGuard() {
  if (qApp) qApp->removeEventFilter(this);
}

bool QtFileDialogGuard::eventFilter(QObject* watched, QEvent* event) {
  // A widget is polished once, before it is first shown: the dialog has not listed its
  // folder's icons yet.
  if (event->type() == QEvent::Polish) {
    auto* dialog = qobject_cast<QFileDialog*>(watched);
    if (dialog && !dynamic_cast<const QtFileIconProvider*>(dialog->iconProvider()))
      dialog->setIconProvider(&icons_);
  }
  return false;
}

}  // namespace gui
