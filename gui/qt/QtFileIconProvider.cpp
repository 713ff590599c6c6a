// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtFileIconProvider.h"

#include <QFileInfo>
#include <QMimeDatabase>

namespace gui {

QIcon QtFileIconProvider::icon(IconType type) const {
  return generic_.icon(type);
}

QIcon QtFileIconProvider::icon(const QFileInfo& info) const {
  if (info.isRoot()) return generic_.icon(Drive);
  return generic_.icon(info.isDir() ? Folder : File);
}

QString QtFileIconProvider::type(const QFileInfo& info) const {
  if (!info.isFile()) return QAbstractFileIconProvider::type(info);  // folders: no file is read
  const QMimeType mime =
      QMimeDatabase().mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension);
  return mime.comment().isEmpty() ? mime.name() : mime.comment();
}

}  // namespace gui
