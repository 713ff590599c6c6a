// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A list control: the columns of a parsed list format, the rows the runtime formatted, the
// selected row and a vertical scroll bar that the runtime drives. The rows are one page of a
// larger set, so moving past the first or last row, the wheel, paging keys and the scroll
// bar become scroll events for the runtime instead of scrolling the widget. A mouse press
// tells the runtime which cell it hit (column and row) and which part of the list (a row,
// the header or the empty area below the rows) with the events it causes.

#include <QColor>
#include <QFrame>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/UiBackend.h"

class QScrollBar;
class QTreeWidget;

namespace gui {

class DialogUnits;

class QtListControl : public QFrame {
  Q_OBJECT

 public:
  // `send` delivers an event of this control (event, key code and screen input filled in).
  using Sender = std::function<void(rt::EventMessage)>;
  QtListControl(const DialogUnits& units, Sender send, QWidget* parent = nullptr);

  // Shows the runtime's state of the list.
  void Apply(const rt::ControlView& view);

  QTreeWidget* Tree() const { return tree_; }
  QScrollBar* ScrollBar() const { return bar_; }
  // While controls sit over its cells (a row edited in place), a left press on the selected
  // row reports that row again, so that the editor can move to the clicked column. Otherwise
  // such a press says nothing: the selection did not change.
  void SetReportReselect(bool on) { reportReselect_ = on; }

 signals:
  // The cells moved on screen without the runtime's doing: a column was resized or the
  // columns scrolled sideways. Controls placed over cells follow.
  void CellsMoved();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void SetColumns(const std::vector<rt::ListColumn>& columns);
  void SetRows(const std::vector<std::vector<std::string>>& rows);
  // A runtime colour (rt::kColorNone excluded) on this list's palette.
  QColor ColorOf(long color) const;
  void SetChoice(int choice);
  void Place();
  bool Alerted(int keyCode) const;
  bool HandleKey(int keyCode);
  // Where a mouse press landed: 1-based column and row (0: none) and the list zone.
  struct Press {
    int column = 0;
    int row = 0;
    int zone = 0;
  };
  // A press at a point of the tree's viewport, or of the header's.
  Press PressAt(const QPoint& point) const;
  Press HeaderPressAt(const QPoint& point) const;
  bool HeaderMouseEvent(QEvent* event);
  void Send(rt::EventMessage message);
  void SendEvent(int event, int keyCode = 0);
  void SendKey(int keyCode);
  void SendChoice(int row);
  void OnScrollAction(int action);

  const DialogUnits& units_;
  Sender send_;
  QTreeWidget* tree_;
  QScrollBar* bar_;
  std::vector<rt::ListColumn> columns_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<int> alerts_;
  int thumb_ = 0;
  bool updating_ = false;
  bool reportReselect_ = false;
  // The mouse press being handled: sent with the events the press causes.
  std::optional<Press> press_;
};

}  // namespace gui
