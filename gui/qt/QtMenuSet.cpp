// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtMenuSet.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

#include "gui/qt/QtIcons.h"
#include "platform/runtime/windows/WindowDef.h"

namespace gui {

QtMenuSet::QtMenuSet(QMenuBar* bar, Trigger trigger, QObject* parent)
    : QObject(parent), bar_(bar), trigger_(std::move(trigger)) {}

QWidget* QtMenuSet::ParentOf(int parent) const {
  auto it = entries_.find(parent);
  if (it != entries_.end() && it->second.menu) return it->second.menu;
  return bar_;
}

void QtMenuSet::Apply(const rt::ControlView& c) {
  if (!bar_ || !rt::IsMenuType(c.type)) return;
  const QString text = QString::fromStdString(c.text);
  if (c.type == rt::ctl::kMenubar) {
    entries_[c.number].type = c.type;
    bar_->setEnabled(!c.disabled);
    return;
  }
  auto it = entries_.find(c.number);
  if (it == entries_.end()) {
    Entry entry;
    entry.type = c.type;
    QWidget* parent = ParentOf(c.parent);
    if (c.type == rt::ctl::kMenu) {
      entry.menu = new QMenu(text, parent);
      if (auto* bar = qobject_cast<QMenuBar*>(parent))
        entry.action = bar->addMenu(entry.menu);
      else if (auto* menu = qobject_cast<QMenu*>(parent))
        entry.action = menu->addMenu(entry.menu);
    } else if (auto* menu = qobject_cast<QMenu*>(parent)) {
      entry.action = c.text.empty() ? menu->addSeparator() : menu->addAction(text);
    } else if (auto* bar = qobject_cast<QMenuBar*>(parent)) {
      entry.action = c.text.empty() ? bar->addSeparator() : bar->addAction(text);
    }
    if (entry.action && c.type == rt::ctl::kItem && !c.text.empty()) {
      const int number = c.number;
      connect(entry.action, &QAction::triggered, this, [this, number] { trigger_(number); });
    }
    it = entries_.emplace(c.number, entry).first;
  }
  QAction* action = it->second.action;
  if (!action) return;
  if (!action->isSeparator()) {
    action->setText(text);
    if (it->second.menu) it->second.menu->setTitle(text);
    action->setToolTip(QString::fromStdString(c.tip));
    action->setStatusTip(QString::fromStdString(c.tip));
    if (!c.icon.empty()) action->setIcon(QtIcons::ForName(c.icon));
  }
  action->setEnabled(!c.disabled);
  action->setVisible(!c.hidden);
}

void QtMenuSet::Remove(int number) {
  auto it = entries_.find(number);
  if (it == entries_.end()) return;
  if (it->second.menu)
    delete it->second.menu.data();
  else if (it->second.action)
    delete it->second.action.data();
  entries_.erase(it);
}

QMenu* QtMenuSet::FindMenu(const QString& plainText) const {
  for (const auto& [number, entry] : entries_) {
    if (!entry.menu) continue;
    QString title = entry.menu->title();
    title.remove('&');
    if (title.compare(plainText, Qt::CaseInsensitive) == 0) return entry.menu;
  }
  return nullptr;
}

QAction* QtMenuSet::Action(int number) const {
  auto it = entries_.find(number);
  return it == entries_.end() ? nullptr : it->second.action.data();
}

}  // namespace gui
