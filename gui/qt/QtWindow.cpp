// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>
#include <algorithm>
#include <string>
#include <vector>

#include "gui/qt/QtIcons.h"
#include "gui/qt/QtKeyMap.h"
#include "gui/qt/QtListControl.h"
#include "gui/qt/QtMenuSet.h"
#include "platform/runtime/windows/Events.h"

namespace gui {

namespace {

bool IsTextEntry(int type) {
  return type == rt::ctl::kEntry || type == rt::ctl::kText || type == rt::ctl::kSpin ||
         type == rt::ctl::kCombo || type == rt::ctl::kDropList;
}

bool IsLabel(int type) {
  return type == rt::ctl::kString || type == rt::ctl::kString2 || type == rt::ctl::kPrompt;
}

// The local files a drag carries, as absolute names; none for anything else (text, links
// to the web, items of other programs).
std::vector<std::string> LocalFiles(const QMimeData* data) {
  std::vector<std::string> files;
  if (!data || !data->hasUrls()) return files;
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    const QString name = url.toLocalFile();
    if (!name.isEmpty()) files.push_back(QDir::cleanPath(name).toStdString());
  }
  return files;
}

rt::EventMessage EventOf(int event) {
  rt::EventMessage m;
  m.event = event;
  return m;
}

// Restores a flag when it goes out of scope.
class FlagGuard {
 public:
  explicit FlagGuard(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
  ~FlagGuard() { flag_ = old_; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
  bool old_;
};

}  // namespace

QtWindow::QtWindow(const rt::WindowView& view, QWidget* parent, Qt::WindowFlags flags)
    : QWidget(parent, flags), QtSurface(view.id, view.thread), units_(view.font, view.fontSize) {
  FlagGuard guard(applying_);
  setFont(units_.Font());
  setWindowTitle(QString::fromStdString(view.caption));
  if (!view.icon.empty()) setWindowIcon(QtIcons::ForName(view.icon));
  client_ = new QWidget(this);
  pos_ = view.pos;
  enabled_ = view.enabled;
  for (const rt::ControlView& c : view.controls)
    ApplyControl(c);
  // Sheets and group boxes frame other controls: keep them underneath.
  for (auto& [number, slot] : controls_) {
    const int type = slot.view.type;
    if (slot.widget &&
        (type == rt::ctl::kSheet || type == rt::ctl::kGroup || type == rt::ctl::kOption))
      slot.widget->lower();
  }
  // Prompts take their mnemonic to the control after them.
  for (auto it = controls_.begin(); it != controls_.end(); ++it) {
    if (it->second.view.type != rt::ctl::kPrompt) continue;
    auto next = std::next(it);
    if (next == controls_.end() || !next->second.widget) continue;
    if (auto* label = qobject_cast<QLabel*>(it->second.widget.data()))
      label->setBuddy(next->second.widget);
  }
  clientSize_ = units_.ToPixels(pos_.width, pos_.height);
  resize(sizeHint());
  limits_[0] = view.minWidth;
  limits_[1] = view.minHeight;
  limits_[2] = view.maxWidth;
  limits_[3] = view.maxHeight;
  ApplySizeLimits();
  UpdateInputState();
}

void QtWindow::SetSizeLimits(int minWidth, int minHeight, int maxWidth, int maxHeight) {
  limits_[0] = minWidth;
  limits_[1] = minHeight;
  limits_[2] = maxWidth;
  limits_[3] = maxHeight;
  ApplySizeLimits();
}

void QtWindow::ApplySizeLimits() {
  const int bar = MenuBarHeight();
  QSize least(0, 0);
  QSize most(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  if (limits_[0] > 0) least.setWidth(units_.X(limits_[0]));
  if (limits_[1] > 0) least.setHeight(units_.Y(limits_[1]) + bar);
  if (limits_[2] > 0) most.setWidth(units_.X(limits_[2]));
  if (limits_[3] > 0) most.setHeight(units_.Y(limits_[3]) + bar);
  setMinimumSize(least);
  setMaximumSize(most);
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
    // The subwindow's frame adds to the client's limits.
    const QSize frame = sub->size() - size();
    sub->setMinimumSize(least + frame);
    sub->setMaximumSize(most.boundedTo(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX) - frame) + frame);
  }
}

QtWindow::~QtWindow() = default;

QWidget* QtWindow::Container() {
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) return sub;
  return this;
}

int QtWindow::MenuBarHeight() const {
  return menuBar_ && !menuBar_->isHidden() ? menuBar_->sizeHint().height() : 0;
}

QSize QtWindow::sizeHint() const {
  return QSize(std::max(1, clientSize_.width()),
               std::max(1, clientSize_.height()) + MenuBarHeight());
}

void QtWindow::LayoutChildren() {
  const int bar = MenuBarHeight();
  if (menuBar_) menuBar_->setGeometry(0, 0, width(), bar);
  client_->setGeometry(0, bar, width(), std::max(0, height() - bar));
}

void QtWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  LayoutChildren();
  if (applying_ || client_->size() == clientSize_) return;
  // The user resized the window: the runtime learns the new client size in dialog units.
  clientSize_ = client_->size();
  pos_.width = units_.UnitsX(clientSize_.width());
  pos_.height = units_.UnitsY(clientSize_.height());
  rt::EventMessage m;
  m.event = rt::event::kSized;
  m.screenText = std::to_string(pos_.width) + "," + std::to_string(pos_.height);
  Send(std::move(m));
}

void QtWindow::ApplySize(const rt::Rect& pos) {
  FlagGuard guard(applying_);
  clientSize_ = units_.ToPixels(pos.width, pos.height);
  const QSize wanted = sizeHint();
  if (auto* sub = qobject_cast<QMdiSubWindow*>(parentWidget())) {
    sub->resize(sub->size() - size() + wanted);
  } else {
    resize(wanted);
  }
  LayoutChildren();
}

void QtWindow::ApplyWindow(const std::string& caption, const rt::Rect& pos, bool enabled) {
  setWindowTitle(QString::fromStdString(caption));
  if (pos.width != pos_.width || pos.height != pos_.height) ApplySize(pos);
  if (pos.x != pos_.x || pos.y != pos_.y) Container()->move(units_.X(pos.x), units_.Y(pos.y));
  pos_ = pos;
  enabled_ = enabled;
  UpdateInputState();
}

void QtWindow::UpdateInputState() {
  const bool input = TakesInput();
  if (!input && client_->isEnabled()) {
    // Disabling the controls takes the focus from the one that has it: it goes back there
    // when the window takes input again (a dialog over it closed).
    QWidget* focus = window()->focusWidget();
    if (focus && client_->isAncestorOf(focus)) blockedFocus_ = focus;
  }
  client_->setEnabled(input);
  if (menuBar_) menuBar_->setEnabled(input);
  if (input && blockedFocus_) {
    // In a window that is not active this only names the control to focus on activation.
    QWidget* focus = blockedFocus_;
    blockedFocus_ = nullptr;
    if (!pendingFocus_) focus->setFocus(Qt::OtherFocusReason);
  }
}

void QtWindow::closeEvent(QCloseEvent* event) {
  AskToClose(event);
}

bool QtWindow::Shown(int number, int depth) const {
  auto it = controls_.find(number);
  if (it == controls_.end() || depth > 16) return false;
  const rt::ControlView& v = it->second.view;
  if (v.hidden) return false;
  if (v.type == rt::ctl::kTab) {
    // A tab is shown while it is its sheet's current tab.
    auto sheet = controls_.find(v.parent);
    if (sheet == controls_.end()) return false;
    auto* tabs = qobject_cast<QTabWidget*>(sheet->second.widget.data());
    if (!tabs || tabs->currentWidget() != it->second.widget.data()) return false;
    return Shown(v.parent, depth + 1);
  }
  if (v.parent > 0) return Shown(v.parent, depth + 1);
  return true;
}

void QtWindow::ShowTabControls() {
  for (auto& [number, slot] : controls_) {
    if (slot.view.parent <= 0 || !slot.widget || slot.view.type == rt::ctl::kTab) continue;
    slot.widget->setVisible(Shown(number));
  }
}

void QtWindow::SendFrom(int control, rt::EventMessage message) {
  if (!TakesInput()) return;
  message.control = control;
  Send(std::move(message));
}

// A button, check box or radio button, sending its click as an accept.
QWidget* QtWindow::CreateClickable(int type, int number, QWidget* parent) {
  namespace ctl = rt::ctl;
  switch (type) {
    case ctl::kButton: {
      auto* button = new QPushButton(parent);
      button->setAutoDefault(false);
      connect(button, &QPushButton::clicked, this, [this, number] {
        AcceptEditedEntries();
        SendFrom(number, EventOf(rt::event::kAccepted));
      });
      return button;
    }
    case ctl::kCheck: {
      auto* check = new QCheckBox(parent);
      connect(check, &QCheckBox::clicked, this, [this, number](bool on) {
        AcceptEditedEntries();
        rt::EventMessage m;
        m.event = rt::event::kAccepted;
        m.screenText = on ? "1" : "0";
        SendFrom(number, std::move(m));
      });
      return check;
    }
    default: {
      auto* radio = new QRadioButton(parent);
      radio->setAutoExclusive(false);  // the runtime keeps the values
      connect(radio, &QRadioButton::clicked, this, [this, number] {
        AcceptEditedEntries();
        rt::EventMessage m;
        m.event = rt::event::kAccepted;
        m.screenText = "1";
        SendFrom(number, std::move(m));
      });
      return radio;
    }
  }
}

QWidget* QtWindow::Create(const rt::ControlView& c) {
  namespace ctl = rt::ctl;
  // Controls of a tab are children of the client too (so that the sheet never clips them);
  // they are shown while their tab is the current one.
  QWidget* parent = client_;
  const int number = c.number;
  QWidget* widget = nullptr;
  switch (c.type) {
    case ctl::kString:
    case ctl::kString2:
    case ctl::kPrompt:
    case ctl::kImage: {
      auto* label = new QLabel(parent);
      if (c.type == ctl::kString || c.type == ctl::kString2) label->setTextFormat(Qt::PlainText);
      widget = label;
      break;
    }
    case ctl::kRegion: {
      auto* frame = new QFrame(parent);
      frame->setFrameShape(QFrame::NoFrame);
      frame->setObjectName("region");
      widget = frame;
      break;
    }
    case ctl::kEntry:
    case ctl::kText:
    case ctl::kSpin:
    case ctl::kCombo:
    case ctl::kDropList:
      widget = new QLineEdit(parent);
      break;
    case ctl::kButton:
    case ctl::kCheck:
    case ctl::kRadio:
      widget = CreateClickable(c.type, number, parent);
      break;
    case ctl::kGroup:
    case ctl::kOption:
      widget = new QGroupBox(parent);
      break;
    case ctl::kList: {
      auto* list = new QtListControl(
          units_, [this, number](rt::EventMessage m) { SendFrom(number, std::move(m)); }, parent);
      connect(list, &QtListControl::CellsMoved, this,
              [this, number] { PlaceCellControls(number); });
      widget = list;
      break;
    }
    case ctl::kSheet: {
      auto* tabs = new QTabWidget(parent);
      connect(tabs, &QTabWidget::currentChanged, this, [this, number](int index) {
        ShowTabControls();
        if (applying_ || index < 0) return;
        rt::EventMessage m;
        m.event = rt::event::kNewSelection;
        m.screenChoice = index + 1;
        SendFrom(number, std::move(m));
      });
      widget = tabs;
      break;
    }
    case ctl::kTab: {
      auto it = controls_.find(c.parent);
      auto* tabs =
          it == controls_.end() ? nullptr : qobject_cast<QTabWidget*>(it->second.widget.data());
      if (!tabs) return nullptr;
      auto* page = new QWidget();
      tabs->addTab(page, QString::fromStdString(c.text));  // the sheet owns the page
      widget = page;
      break;
    }
    case ctl::kProgress: {
      auto* bar = new QProgressBar(parent);
      bar->setRange(0, 100);
      widget = bar;
      break;
    }
    case ctl::kBox:
    case ctl::kEllipse:
    case ctl::kLine:
    case ctl::kPanel:
    case ctl::kToolbar:
    default: {
      auto* frame = new QFrame(parent);
      frame->setFrameShape(c.type == ctl::kPanel || c.type == ctl::kToolbar ? QFrame::StyledPanel
                                                                            : QFrame::Box);
      widget = frame;
      break;
    }
  }
  widget->installEventFilter(this);
  numbers_[widget] = number;
  return widget;
}

void QtWindow::ApplyControl(const rt::ControlView& c) {
  if (rt::IsMenuType(c.type)) {
    if (!menus_) {
      menuBar_ = new QMenuBar(this);
      menus_ = new QtMenuSet(
          menuBar_,
          [this](int item) {
            if (TakesInput()) Send(rt::event::kAccepted, item);
          },
          this);
      menuBar_->show();
      if (!applying_) ApplySize(pos_);
    }
    menus_->Apply(c);
    return;
  }
  auto it = controls_.find(c.number);
  if (it == controls_.end()) {
    Slot slot;
    slot.view = c;
    slot.widget = Create(c);
    it = controls_.emplace(c.number, std::move(slot)).first;
  }
  Update(it->second, c);
}

void QtWindow::Update(Slot& slot, const rt::ControlView& c) {
  namespace ctl = rt::ctl;
  FlagGuard guard(applying_);
  const bool overCells = slot.view.cellList != 0 || c.cellList != 0;
  slot.view = c;
  if (overCells) MarkEditedLists();
  QWidget* w = slot.widget;
  if (!w) return;
  if (w->acceptDrops() != c.takesFiles) w->setAcceptDrops(c.takesFiles);
  const QString text = QString::fromStdString(c.text);
  const QString tip = QString::fromStdString(c.tip);
  if (IsLabel(c.type)) {
    static_cast<QLabel*>(w)->setText(text);
  } else if (c.type == ctl::kImage) {
    const QRect r = units_.ToPixels(c.pos);
    const QIcon icon = QtIcons::ForName(c.text.empty() ? c.icon : c.text);
    static_cast<QLabel*>(w)->setPixmap(icon.pixmap(r.size().isEmpty() ? QSize(32, 32) : r.size()));
  } else if (c.type == ctl::kLine) {
    static_cast<QFrame*>(w)->setFrameShape(c.pos.width >= c.pos.height ? QFrame::HLine
                                                                       : QFrame::VLine);
  } else if (IsTextEntry(c.type)) {
    auto* edit = static_cast<QLineEdit*>(w);
    edit->setReadOnly(c.readOnly);
    const QString shown = QString::fromStdString(c.screenText);
    if (edit->text() != shown) {
      edit->setText(shown);
      edit->setModified(false);
    }
  } else if (c.type == ctl::kButton) {
    auto* button = static_cast<QPushButton*>(w);
    button->setText(text);
    button->setIcon(QtIcons::ForName(c.icon));
    button->setDefault(c.isDefault);
  } else if (c.type == ctl::kCheck) {
    auto* check = static_cast<QCheckBox*>(w);
    check->setText(text);
    check->setChecked(c.value != 0);
  } else if (c.type == ctl::kRadio) {
    auto* radio = static_cast<QRadioButton*>(w);
    radio->setText(text);
    radio->setChecked(c.value != 0);
  } else if (c.type == ctl::kGroup || c.type == ctl::kOption) {
    static_cast<QGroupBox*>(w)->setTitle(text);
  } else if (c.type == ctl::kList) {
    static_cast<QtListControl*>(w)->Apply(c);
    PlaceCellControls(c.number);
  } else if (c.type == ctl::kSheet) {
    auto* tabs = static_cast<QTabWidget*>(w);
    if (c.choice >= 1 && c.choice <= tabs->count()) tabs->setCurrentIndex(c.choice - 1);
  } else if (c.type == ctl::kProgress) {
    static_cast<QProgressBar*>(w)->setValue(std::clamp(c.value, 0, 100));
  }
  if (c.type == ctl::kTab) {
    auto it = controls_.find(c.parent);
    auto* tabs =
        it == controls_.end() ? nullptr : qobject_cast<QTabWidget*>(it->second.widget.data());
    if (!tabs) return;
    const int index = tabs->indexOf(w);
    if (index < 0) return;
    tabs->setTabText(index, text);
    tabs->setTabToolTip(index, tip);
    tabs->setTabEnabled(index, !c.disabled);
    tabs->setTabVisible(index, !c.hidden);
    ShowTabControls();
    return;
  }
  w->setToolTip(tip);
  w->setStatusTip(tip);
  w->setEnabled(!c.disabled);
  Place(slot);
  w->setVisible(Shown(c.number));
  if (c.type == ctl::kSheet) ShowTabControls();
}

void QtWindow::Place(const Slot& slot) {
  QWidget* w = slot.widget;
  if (!w || slot.view.type == rt::ctl::kTab) return;
  if (slot.view.cellList != 0 && PlaceOverCell(slot)) return;
  QRect r = units_.ToPixels(slot.view.pos);
  if (r.width() <= 0) r.setWidth(w->sizeHint().width());
  if (r.height() <= 0) r.setHeight(w->sizeHint().height());
  w->setGeometry(r);
}

bool QtWindow::PlaceOverCell(const Slot& slot) {
  auto list = controls_.find(slot.view.cellList);
  if (list == controls_.end()) return false;
  auto* control = qobject_cast<QtListControl*>(list->second.widget.data());
  QWidget* w = slot.widget;
  if (!control || !w || !w->parentWidget()) return false;
  QTreeWidget* tree = control->Tree();
  QTreeWidgetItem* item = tree->topLevelItem(slot.view.cellRow - 1);
  const int column = slot.view.cellColumn - 1;
  if (!item || column < 0 || column >= tree->columnCount()) return false;
  // The cell as the tree shows it now, in the coordinates of the control's parent.
  const QRect row = tree->visualItemRect(item);
  const QRect cell(tree->header()->sectionViewportPosition(column), row.top(),
                   tree->header()->sectionSize(column), row.height());
  const QPoint topLeft = tree->viewport()->mapTo(w->parentWidget(), cell.topLeft());
  w->setGeometry(QRect(topLeft, cell.size()));
  w->raise();
  return true;
}

void QtWindow::MarkEditedLists() {
  for (auto& [number, slot] : controls_) {
    auto* list = qobject_cast<QtListControl*>(slot.widget.data());
    if (!list) continue;
    bool edited = false;
    for (const auto& [other, cell] : controls_)
      edited = edited || (cell.view.cellList == number && !cell.view.hidden);
    list->SetReportReselect(edited);
  }
}

void QtWindow::PlaceCellControls(int list) {
  for (auto& [number, slot] : controls_)
    if (slot.view.cellList == list) Place(slot);
}

bool QtWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize || event->type() == QEvent::Move) {
    // Controls over a list's cells follow the list.
    if (auto it = numbers_.find(watched); it != numbers_.end()) PlaceCellControls(it->second);
  }
  auto it = numbers_.find(watched);
  if (it == numbers_.end()) return QWidget::eventFilter(watched, event);
  auto slot = controls_.find(it->second);
  if (slot == controls_.end()) return QWidget::eventFilter(watched, event);
  const int type = slot->second.view.type;
  switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
      // Taken as a copy only: a drag that offers nothing but a move would have the file
      // manager remove the files once stored.
      auto* drag = static_cast<QDropEvent*>(event);
      if (!slot->second.view.takesFiles || !TakesInput() ||
          !(drag->possibleActions() & Qt::CopyAction) || LocalFiles(drag->mimeData()).empty())
        return false;
      drag->setDropAction(Qt::CopyAction);
      drag->accept();
      return true;
    }
    case QEvent::Drop: {
      auto* drop = static_cast<QDropEvent*>(event);
      std::vector<std::string> files = LocalFiles(drop->mimeData());
      if (!slot->second.view.takesFiles || !(drop->possibleActions() & Qt::CopyAction) ||
          files.empty())
        return false;
      drop->setDropAction(Qt::CopyAction);
      drop->accept();
      SendFrom(it->second, rt::DroppedFilesMessage(it->second, std::move(files)));
      return true;
    }
    case QEvent::KeyPress:
      return HandleKey(it->second, QtKeyMap::FromEvent(*static_cast<QKeyEvent*>(event)));
    case QEvent::FocusOut:
      if (IsTextEntry(type)) {
        auto* edit = qobject_cast<QLineEdit*>(slot->second.widget.data());
        if (edit && edit->isModified() && !edit->isReadOnly()) {
          // Leaving an edited entry accepts it.
          edit->setModified(false);
          rt::EventMessage m;
          m.event = rt::event::kAccepted;
          m.screenText = edit->text().toStdString();
          SendFrom(it->second, std::move(m));
        }
      }
      return false;
    default:
      return QWidget::eventFilter(watched, event);
  }
}

bool QtWindow::HandleKey(int control, int keyCode) {
  if (keyCode == 0) return false;
  const Slot& slot = controls_.at(control);
  const auto& alerts = slot.view.alerts;
  if (std::find(alerts.begin(), alerts.end(), keyCode) != alerts.end()) {
    rt::EventMessage m;
    m.event = rt::event::kAlertKey;
    m.keyCode = keyCode;
    // An alerted key on an entry carries what was typed, so the key acts on it.
    if (auto* edit = qobject_cast<QLineEdit*>(slot.widget.data());
        edit && IsTextEntry(slot.view.type) && edit->isModified() && !edit->isReadOnly()) {
      edit->setModified(false);
      m.screenText = edit->text().toStdString();
    }
    SendFrom(control, std::move(m));
    return true;
  }
  if (keyCode == rt::key::kEnter && IsTextEntry(slot.view.type)) {
    // Enter accepts the entry, then presses the default button.
    if (auto* edit = qobject_cast<QLineEdit*>(slot.widget.data()); edit && !edit->isReadOnly()) {
      edit->setModified(false);
      rt::EventMessage m;
      m.event = rt::event::kAccepted;
      m.screenText = edit->text().toStdString();
      SendFrom(control, std::move(m));
    }
    PressDefaultButton();
    return true;
  }
  return false;
}

void QtWindow::AcceptEditedEntries() {
  // A click by mnemonic or by the space key leaves the focus in the entry: what was typed
  // there is accepted first, as leaving the entry would, so the button acts on it.
  for (auto& [number, slot] : controls_) {
    if (!IsTextEntry(slot.view.type)) continue;
    auto* edit = qobject_cast<QLineEdit*>(slot.widget.data());
    if (!edit || !edit->isModified() || edit->isReadOnly()) continue;
    edit->setModified(false);
    rt::EventMessage m;
    m.event = rt::event::kAccepted;
    m.screenText = edit->text().toStdString();
    SendFrom(number, std::move(m));
  }
}

void QtWindow::PressDefaultButton() {
  for (const auto& [number, slot] : controls_) {
    const auto& v = slot.view;
    if (v.type == rt::ctl::kButton && v.isDefault && !v.disabled && !v.hidden) {
      SendFrom(number, EventOf(rt::event::kAccepted));
      return;
    }
  }
}

void QtWindow::DestroyControl(int number) {
  if (menus_ && number < 0) {
    menus_->Remove(number);
    return;
  }
  auto it = controls_.find(number);
  if (it == controls_.end()) return;
  if (QWidget* w = it->second.widget) {
    numbers_.erase(w);
    delete w;  // a tab page leaves its sheet when deleted
  }
  const bool overCells = it->second.view.cellList != 0;
  controls_.erase(it);
  if (overCells) MarkEditedLists();
}

void QtWindow::FocusControl(int number) {
  QWidget* w = ControlWidget(number);
  if (!w) return;
  QWidget* focus = QApplication::focusWidget();
  if (focus && (focus == this || isAncestorOf(focus))) {
    w->setFocus(Qt::OtherFocusReason);
    pendingFocus_ = nullptr;
  } else {
    // Not the active window: focusing now would pull it to the front.
    pendingFocus_ = w;
  }
}

void QtWindow::Activated() {
  if (pendingFocus_) {
    QWidget* w = pendingFocus_;
    pendingFocus_ = nullptr;
    w->setFocus(Qt::OtherFocusReason);
  }
}

QWidget* QtWindow::ControlWidget(int number) const {
  if (number < 0 && menus_) return nullptr;
  auto it = controls_.find(number);
  return it == controls_.end() ? nullptr : it->second.widget.data();
}

int QtWindow::ControlType(int number) const {
  auto it = controls_.find(number);
  return it == controls_.end() ? 0 : it->second.view.type;
}

}  // namespace gui
