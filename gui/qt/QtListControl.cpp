// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtListControl.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTreeWidget>
#include <QWheelEvent>
#include <algorithm>

#include "gui/qt/DialogUnits.h"
#include "gui/qt/QtKeyMap.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/ListFormat.h"
#include "platform/runtime/windows/Properties.h"

namespace gui {

namespace {
Qt::Alignment AlignmentOf(char align) {
  switch (align) {
    case 'R':
    case 'D':
      return Qt::AlignRight | Qt::AlignVCenter;
    case 'C':
      return Qt::AlignHCenter | Qt::AlignVCenter;
    default:
      return Qt::AlignLeft | Qt::AlignVCenter;
  }
}
}  // namespace

QtListControl::QtListControl(const DialogUnits& units, Sender send, QWidget* parent)
    : QFrame(parent),
      units_(units),
      send_(std::move(send)),
      tree_(new QTreeWidget(this)),
      bar_(new QScrollBar(Qt::Vertical, this)) {
  tree_->setRootIsDecorated(false);
  tree_->setItemsExpandable(false);
  tree_->setUniformRowHeights(true);
  tree_->setAllColumnsShowFocus(true);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  tree_->setSelectionBehavior(QAbstractItemView::SelectRows);
  tree_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  tree_->header()->setStretchLastSection(true);
  tree_->header()->setSectionsMovable(false);
  tree_->installEventFilter(this);
  tree_->viewport()->installEventFilter(this);
  tree_->header()->viewport()->installEventFilter(this);
  setFocusProxy(tree_);
  bar_->setRange(0, 100);
  bar_->setPageStep(10);
  bar_->setSingleStep(1);
  bar_->hide();
  connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    if (updating_ || !item) return;
    SendChoice(tree_->indexOfTopLevelItem(item) + 1);
  });
  connect(tree_->header(), &QHeaderView::sectionResized, this, [this] { emit CellsMoved(); });
  connect(tree_->horizontalScrollBar(), &QScrollBar::valueChanged, this,
          [this] { emit CellsMoved(); });
  connect(bar_, &QScrollBar::actionTriggered, this, [this](int action) { OnScrollAction(action); });
  connect(bar_, &QScrollBar::sliderReleased, this, [this] {
    rt::EventMessage m;
    m.event = rt::event::kScrollDrag;
    m.screenChoice = bar_->sliderPosition();
    send_(std::move(m));
  });
}

void QtListControl::Apply(const rt::ControlView& view) {
  updating_ = true;
  alerts_ = view.alerts;
  bool columnsChanged = view.columns.size() != columns_.size();
  for (std::size_t i = 0; !columnsChanged && i < columns_.size(); ++i) {
    const auto& a = columns_[i];
    const auto& b = view.columns[i];
    columnsChanged = a.width != b.width || a.align != b.align || a.header != b.header ||
                     a.headerAlign != b.headerAlign || a.textColor != b.textColor;
  }
  if (columnsChanged) {
    SetColumns(view.columns);
    rows_.clear();
  }
  if (view.rows != rows_) SetRows(view.rows);
  SetChoice(view.choice);
  bar_->setVisible(view.vscroll);
  thumb_ = std::clamp(view.thumb, 0, 100);
  if (!bar_->isSliderDown()) bar_->setValue(thumb_);
  Place();
  updating_ = false;
}

void QtListControl::SetColumns(const std::vector<rt::ListColumn>& columns) {
  columns_ = columns;
  const int count = std::max<int>(1, static_cast<int>(columns.size()));
  tree_->clear();
  tree_->setColumnCount(count);
  QStringList headers;
  bool anyHeader = false;
  for (const auto& c : columns) {
    headers << QString::fromStdString(c.header);
    anyHeader = anyHeader || !c.header.empty();
  }
  tree_->setHeaderLabels(headers);
  tree_->setHeaderHidden(!anyHeader);
  // Rows and header as high as the runtime counts them, so the list shows exactly the rows
  // of its page.
  tree_->header()->setFixedHeight(units_.Y(rt::kListHeaderHeight));
  for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
    tree_->headerItem()->setTextAlignment(i, AlignmentOf(columns[i].headerAlign));
    if (columns[i].width > 0) tree_->setColumnWidth(i, units_.X(columns[i].width));
  }
}

QColor QtListControl::ColorOf(long color) const {
  if (color == rt::kColorGrayText) return palette().color(QPalette::Disabled, QPalette::Text);
  if (color >= rt::kSystemColor) return palette().color(QPalette::Text);
  return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                static_cast<int>((color >> 16) & 0xFF));
}

void QtListControl::SetRows(const std::vector<std::vector<std::string>>& rows) {
  rows_ = rows;
  tree_->clear();
  QList<QTreeWidgetItem*> items;
  for (const auto& row : rows) {
    auto* item = new QTreeWidgetItem();
    item->setSizeHint(0, QSize(0, units_.Y(rt::kListRowHeight)));
    for (int col = 0; col < static_cast<int>(row.size()); ++col) {
      item->setText(col, QString::fromStdString(row[col]));
      if (col < static_cast<int>(columns_.size())) {
        item->setTextAlignment(col, AlignmentOf(columns_[col].align));
        if (columns_[col].textColor != rt::kColorNone)
          item->setForeground(col, ColorOf(columns_[col].textColor));
      }
    }
    items.append(item);
  }
  tree_->addTopLevelItems(items);  // the tree owns the items
}

void QtListControl::SetChoice(int choice) {
  const int count = tree_->topLevelItemCount();
  if (choice >= 1 && choice <= count) {
    QTreeWidgetItem* item = tree_->topLevelItem(choice - 1);
    tree_->setCurrentItem(item);
    item->setSelected(true);
  } else {
    tree_->setCurrentItem(nullptr);
    tree_->clearSelection();
  }
}

void QtListControl::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  Place();
}

void QtListControl::Place() {
  const int barWidth = bar_->isVisibleTo(this) ? bar_->sizeHint().width() : 0;
  tree_->setGeometry(0, 0, std::max(0, width() - barWidth), height());
  if (barWidth > 0) bar_->setGeometry(width() - barWidth, 0, barWidth, height());
}

bool QtListControl::Alerted(int keyCode) const {
  return std::find(alerts_.begin(), alerts_.end(), keyCode) != alerts_.end();
}

QtListControl::Press QtListControl::PressAt(const QPoint& point) const {
  const int column = tree_->header()->logicalIndexAt(point.x());
  const QTreeWidgetItem* item = tree_->itemAt(point);
  if (!item) return {0, 0, rt::listzone::kBelowRows};
  const int row = tree_->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item));
  if (column < 0 || row < 0) return {0, 0, rt::listzone::kRow};
  return {column + 1, row + 1, rt::listzone::kRow};
}

QtListControl::Press QtListControl::HeaderPressAt(const QPoint& point) const {
  const int column = tree_->header()->logicalIndexAt(point.x());
  return {column < 0 ? 0 : column + 1, 0, rt::listzone::kHeader};
}

void QtListControl::Send(rt::EventMessage message) {
  if (press_) {
    message.mouseColumn = press_->column;
    message.mouseRow = press_->row;
    message.mouseZone = press_->zone;
  }
  send_(std::move(message));
}

void QtListControl::SendEvent(int event, int keyCode) {
  rt::EventMessage m;
  m.event = event;
  m.keyCode = keyCode;
  Send(std::move(m));
}

void QtListControl::SendKey(int keyCode) {
  SendEvent(rt::event::kAlertKey, keyCode);
}

void QtListControl::SendChoice(int row) {
  rt::EventMessage m;
  m.event = rt::event::kNewSelection;
  m.screenChoice = row;
  Send(std::move(m));
}

bool QtListControl::HandleKey(int keyCode) {
  namespace key = rt::key;
  namespace ev = rt::event;
  if (keyCode == 0) return false;
  if (Alerted(keyCode)) {
    SendKey(keyCode);
    return true;
  }
  const int count = tree_->topLevelItemCount();
  const int row = tree_->currentItem() ? tree_->indexOfTopLevelItem(tree_->currentItem()) : -1;
  switch (keyCode) {
    case key::kUp:
      if (row > 0) return false;
      SendEvent(ev::kScrollUp, keyCode);
      return true;
    case key::kDown:
      if (row >= 0 && row < count - 1) return false;
      SendEvent(ev::kScrollDown, keyCode);
      return true;
    case key::kPgUp:
      SendEvent(ev::kPageUp, keyCode);
      return true;
    case key::kPgDn:
      SendEvent(ev::kPageDown, keyCode);
      return true;
    case key::kHome:
    case key::kCtrl + key::kHome:
      SendEvent(ev::kScrollTop, keyCode);
      return true;
    case key::kEnd:
    case key::kCtrl + key::kEnd:
      SendEvent(ev::kScrollBottom, keyCode);
      return true;
    default:
      return false;
  }
}

bool QtListControl::eventFilter(QObject* watched, QEvent* event) {
  namespace key = rt::key;
  if (watched == tree_ && event->type() == QEvent::KeyPress) {
    return HandleKey(QtKeyMap::FromEvent(*static_cast<QKeyEvent*>(event)));
  }
  if (watched == tree_->header()->viewport()) return HeaderMouseEvent(event);
  if (watched != tree_->viewport()) return QFrame::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::Wheel: {
      const int delta = static_cast<QWheelEvent*>(event)->angleDelta().y();
      if (delta == 0) return false;
      const int steps = std::clamp(std::abs(delta) / 120, 1, 3);
      for (int i = 0; i < steps; ++i)
        SendEvent(delta > 0 ? rt::event::kScrollUp : rt::event::kScrollDown);
      return true;
    }
    case QEvent::MouseButtonPress: {
      // The tree handles the press after this; the selection it makes carries the cell.
      auto* mouse = static_cast<QMouseEvent*>(event);
      press_ = PressAt(mouse->position().toPoint());
      const QTreeWidgetItem* item = tree_->itemAt(mouse->position().toPoint());
      if (reportReselect_ && mouse->button() == Qt::LeftButton && item &&
          item == tree_->currentItem())
        SendChoice(press_->row);
      return false;
    }
    case QEvent::MouseButtonDblClick: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      press_ = PressAt(mouse->position().toPoint());
      if (mouse->button() == Qt::LeftButton && Alerted(key::kMouseLeft2)) {
        SendKey(key::kMouseLeft2);
        return true;
      }
      return false;
    }
    case QEvent::MouseButtonRelease: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      const auto pressed = press_;
      press_.reset();
      if (mouse->button() != Qt::RightButton) return false;
      press_ = pressed;
      // The row under the mouse becomes the selection before the key is delivered.
      if (QTreeWidgetItem* item = tree_->itemAt(mouse->position().toPoint())) {
        if (item != tree_->currentItem()) tree_->setCurrentItem(item);
      }
      const bool alerted = Alerted(key::kMouseRightUp);
      if (alerted) SendKey(key::kMouseRightUp);
      press_.reset();
      return alerted;
    }
    default:
      return QFrame::eventFilter(watched, event);
  }
}

bool QtListControl::HeaderMouseEvent(QEvent* event) {
  // The header keeps its own handling (a double click on a section edge fits the column);
  // the runtime hears of a double click there, marked as one on the header.
  switch (event->type()) {
    case QEvent::MouseButtonPress:
      press_ = HeaderPressAt(static_cast<QMouseEvent*>(event)->position().toPoint());
      return false;
    case QEvent::MouseButtonDblClick: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      press_ = HeaderPressAt(mouse->position().toPoint());
      if (mouse->button() == Qt::LeftButton && Alerted(rt::key::kMouseLeft2))
        SendKey(rt::key::kMouseLeft2);
      return false;
    }
    case QEvent::MouseButtonRelease:
      press_.reset();
      return false;
    default:
      return false;
  }
}

void QtListControl::OnScrollAction(int action) {
  namespace ev = rt::event;
  int event = 0;
  switch (action) {
    case QAbstractSlider::SliderSingleStepAdd:
      event = ev::kScrollDown;
      break;
    case QAbstractSlider::SliderSingleStepSub:
      event = ev::kScrollUp;
      break;
    case QAbstractSlider::SliderPageStepAdd:
      event = ev::kPageDown;
      break;
    case QAbstractSlider::SliderPageStepSub:
      event = ev::kPageUp;
      break;
    case QAbstractSlider::SliderToMinimum:
      event = ev::kScrollTop;
      break;
    case QAbstractSlider::SliderToMaximum:
      event = ev::kScrollBottom;
      break;
    default:
      return;  // a drag is sent when the thumb is released
  }
  // The runtime moves the thumb when it has scrolled; until then it stays where it was.
  bar_->setSliderPosition(thumb_);
  SendEvent(event);
}

}  // namespace gui
