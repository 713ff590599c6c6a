// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtDialogs.h"

#include <QAbstractButton>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <map>
#include <memory>

#include "gui/qt/QtFileIconProvider.h"
#include "gui/qt/QtIcons.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/Properties.h"

namespace gui {

namespace {

constexpr int kButtonOrder[] = {rt::kButtonOk,     rt::kButtonYes,   rt::kButtonNo,
                                rt::kButtonAbort,  rt::kButtonRetry, rt::kButtonIgnore,
                                rt::kButtonCancel, rt::kButtonHelp};

QMessageBox::Icon IconOf(int icon) {
  switch (static_cast<rt::MessageIcon>(icon)) {
    case rt::MessageIcon::Information:
      return QMessageBox::Information;
    case rt::MessageIcon::Question:
      return QMessageBox::Question;
    case rt::MessageIcon::Exclamation:
      return QMessageBox::Warning;
    case rt::MessageIcon::Hand:
      return QMessageBox::Critical;
    default:
      return QMessageBox::NoIcon;
  }
}

// Calls a completion once; later calls are ignored.
template <typename T>
std::function<void(T)> Once(std::function<void(T)> done) {
  auto pending = std::make_shared<std::function<void(T)>>(std::move(done));
  return [pending](T value) {
    if (!*pending) return;
    auto f = std::move(*pending);
    *pending = nullptr;
    f(std::move(value));
  };
}

}  // namespace

QMessageBox::StandardButton QtDialogs::StandardButton(int bit) {
  switch (bit) {
    case rt::kButtonOk:
      return QMessageBox::Ok;
    case rt::kButtonYes:
      return QMessageBox::Yes;
    case rt::kButtonNo:
      return QMessageBox::No;
    case rt::kButtonAbort:
      return QMessageBox::Abort;
    case rt::kButtonRetry:
      return QMessageBox::Retry;
    case rt::kButtonIgnore:
      return QMessageBox::Ignore;
    case rt::kButtonCancel:
      return QMessageBox::Cancel;
    case rt::kButtonHelp:
      return QMessageBox::Help;
    default:
      return QMessageBox::NoButton;
  }
}

int QtDialogs::ButtonBit(QMessageBox::StandardButton button) {
  for (int bit : kButtonOrder)
    if (StandardButton(bit) == button) return bit;
  return 0;
}

int QtDialogs::ClosedAnswer(int buttons, int defaultButton) {
  if (buttons == 0) buttons = rt::kButtonOk;
  for (int bit : {rt::kButtonCancel, rt::kButtonNo, rt::kButtonOk})
    if (buttons & bit) return bit;
  if (defaultButton & buttons) return defaultButton;
  for (int bit : kButtonOrder)
    if (buttons & bit) return bit;
  return rt::kButtonOk;
}

QWidget* QtDialogs::ShowMessage(QWidget* parent, const std::string& text,
                                const std::string& caption, int icon, int buttons,
                                int defaultButton, std::function<void(int)> done) {
  if (buttons == 0) buttons = rt::kButtonOk;
  auto* box = new QMessageBox(parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowTitle(QString::fromStdString(caption));
  box->setText(QString::fromStdString(text));
  box->setIcon(IconOf(icon));
  QAbstractButton* defaultWidget = nullptr;
  for (int bit : kButtonOrder) {
    if (!(buttons & bit)) continue;
    QAbstractButton* b = box->addButton(StandardButton(bit));
    // The default button, else the first one.
    if (!defaultWidget || bit == defaultButton) defaultWidget = b;
  }
  if (auto* push = qobject_cast<QPushButton*>(defaultWidget)) box->setDefaultButton(push);
  const int closed = ClosedAnswer(buttons, defaultButton);
  auto finish = Once(std::move(done));
  QObject::connect(box, &QMessageBox::finished, box, [box, finish, closed] {
    QAbstractButton* clicked = box->clickedButton();
    const int bit = clicked ? ButtonBit(box->standardButton(clicked)) : 0;
    finish(bit != 0 ? bit : closed);
  });
  QObject::connect(box, &QObject::destroyed, [finish, closed] { finish(closed); });
  box->setWindowModality(Qt::NonModal);  // only the asking thread's windows wait
  box->show();
  return box;
}

void QtDialogs::BuildPopup(QMenu& menu, const std::vector<rt::PopupItem>& items) {
  for (const rt::PopupItem& item : items) {
    const QString text = QString::fromStdString(item.text);
    if (item.separator) {
      menu.addSeparator();
    } else if (!item.children.empty()) {
      QMenu* sub = menu.addMenu(text);
      sub->setEnabled(!item.disabled);
      BuildPopup(*sub, item.children);
    } else {
      QAction* a = menu.addAction(text);
      a->setData(item.number);
      // The attribute block may name the entry's icon: "31848(~NAME.ICO),...".
      const std::string iconKey = std::to_string(rt::prop::kIconAttribute) + "(";
      if (const auto at = item.attributes.find(iconKey); at != std::string::npos) {
        const auto from = at + iconKey.size();
        const auto end = item.attributes.find(')', from);
        if (end != std::string::npos)
          a->setIcon(QtIcons::ForName(item.attributes.substr(from, end - from)));
      }
      a->setEnabled(!item.disabled);
      if (item.checked) {
        a->setCheckable(true);
        a->setChecked(true);
      }
    }
  }
}

QWidget* QtDialogs::ShowPopup(QWidget* parent, const std::string& text, const QPoint& at,
                              std::function<void(int)> done) {
  auto* menu = new QMenu(parent);
  BuildPopup(*menu, rt::PopupMenu::Parse(text).Items());
  auto finish = Once(std::move(done));
  QObject::connect(menu, &QMenu::triggered, menu,
                   [finish](QAction* a) { finish(a->data().isValid() ? a->data().toInt() : 0); });
  // A chosen item is reported after the menu hides; give it the chance before answering 0.
  QObject::connect(menu, &QMenu::aboutToHide, menu, [menu, finish] {
    QTimer::singleShot(0, menu, [menu, finish] {
      finish(0);
      menu->deleteLater();
    });
  });
  QObject::connect(menu, &QObject::destroyed, [finish] { finish(0); });
  menu->popup(at);
  return menu;
}

QStringList QtDialogs::NameFilters(const std::string& masks) {
  const QStringList parts = QString::fromStdString(masks).split('|');
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    QString patterns = parts[i + 1].trimmed();
    patterns.replace(';', ' ');
    if (patterns.isEmpty()) continue;
    filters << (description.isEmpty() ? patterns : description + " (" + patterns + ")");
  }
  if (parts.size() % 2 == 1 && !parts.back().trimmed().isEmpty() && parts.size() > 1) {
    // A pattern without a description.
    QString patterns = parts.back().trimmed();
    patterns.replace(';', ' ');
    filters << patterns;
  }
  return filters;
}

QWidget* QtDialogs::ShowFileDialog(QWidget* parent, const std::string& title,
                                   const std::string& fileName, const std::string& masks, int flags,
                                   std::function<void(std::string)> done) {
  auto* dialog = new QFileDialog(parent, QString::fromStdString(title));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setOption(QFileDialog::DontUseNativeDialog);
  // Shared by every dialog and used on the dialog's file-information thread too.
  static QtFileIconProvider icons;
  dialog->setIconProvider(&icons);
  const QStringList filters = NameFilters(masks);
  if (!filters.isEmpty()) dialog->setNameFilters(filters);
  if (flags & rt::kFileDirectory) {
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
  } else if (flags & rt::kFileSave) {
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
  } else {
    dialog->setFileMode((flags & rt::kFileMulti) ? QFileDialog::ExistingFiles
                                                 : QFileDialog::ExistingFile);
  }
  if (!fileName.empty()) {
    QString start = QString::fromStdString(fileName);
    start.replace('\\', '/');
    const QFileInfo info(start);
    if (info.isDir())
      dialog->setDirectory(info.absoluteFilePath());
    else {
      dialog->setDirectory(info.absolutePath());
      dialog->selectFile(info.fileName());
    }
  } else {
    // Start in the program's current folder, not in the one the last dialog visited.
    dialog->setDirectory(QDir::currentPath());
  }
  auto finish = Once(std::move(done));
  QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, finish](int result) {
    if (result != QDialog::Accepted) {
      finish(std::string());
      return;
    }
    finish(dialog->selectedFiles().join('|').toStdString());
  });
  QObject::connect(dialog, &QObject::destroyed, [finish] { finish(std::string()); });
  dialog->setWindowModality(Qt::NonModal);
  dialog->show();
  return dialog;
}

}  // namespace gui
