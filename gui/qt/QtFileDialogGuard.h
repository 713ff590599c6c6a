// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Gives every file dialog of the application the icon provider that tells files apart by
// their names alone (QtFileIconProvider), before the dialog is first shown and lists a
// folder. Dialogs that Qt opens itself, such as the print dialog's chooser for an output
// file, would otherwise read the start of every file they list, and closing those files
// drops this process's locks on the table.

#include <QObject>

#include "gui/qt/QtFileIconProvider.h"

namespace gui {

class QtFileDialogGuard : public QObject {
 public:
  // Watches the application's widgets while it lives.
  QtFileDialogGuard();
  ~QtFileDialogGuard() override;
  QtFileDialogGuard(const QtFileDialogGuard&) = delete;
  QtFileDialogGuard& operator=(const QtFileDialogGuard&) = delete;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QtFileIconProvider icons_;
};

}  // namespace gui
