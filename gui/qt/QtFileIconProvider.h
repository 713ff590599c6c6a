// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Icons and type names for the file dialog, told from each file's name alone.
//
// The desktop's default provider reads the start of every file in a folder to tell its
// type. Opening and closing a file drops every lock this process holds on it (locks belong
// to the process, not to the descriptor), among them the table driver's locks on its
// database and log: another program on the same table would then take it for unused and
// remove its log while this one still writes to it.

#include <QFileIconProvider>

namespace gui {

class QtFileIconProvider : public QAbstractFileIconProvider {
 public:
  QIcon icon(IconType type) const override;
  QIcon icon(const QFileInfo& info) const override;
  QString type(const QFileInfo& info) const override;

 private:
  QFileIconProvider generic_;  // the style's icons for each kind of entry
};

}  // namespace gui
