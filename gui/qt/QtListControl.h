#pragma once
// A list control: the columns of a parsed list format, the rows the runtime formatted, the
// selected row and a vertical scroll bar that the runtime drives. The rows are one page of a
// larger set, so moving past the first or last row, the wheel, paging keys and the scroll
// bar become scroll events for the runtime instead of scrolling the widget.

#include <QFrame>
#include <functional>
#include <string>
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

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void SetColumns(const std::vector<rt::ListColumn>& columns);
  void SetRows(const std::vector<std::vector<std::string>>& rows);
  void SetChoice(int choice);
  void Place();
  bool Alerted(int keyCode) const;
  bool HandleKey(int keyCode);
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
};

}  // namespace gui
