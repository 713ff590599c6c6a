// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtBackend.h"

#include <QCheckBox>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <mutex>
#include <string>
#include <vector>

#include "DesktopTest.h"
#include "gui/qt/QtListControl.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"

namespace gui_test {
namespace {

using namespace rt;

// What the runtime side saw, shared with the GUI thread.
class EventLog {
 public:
  void Add(std::string line) {
    std::lock_guard lock(mutex_);
    lines_.push_back(std::move(line));
  }
  bool Contains(const std::string& line) const {
    std::lock_guard lock(mutex_);
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  }
  std::vector<std::string> Lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

void RegisterFrame() {
  auto def = std::make_shared<WindowDef>("GuiTest", "FRAME", "Test Frame");
  def->kind = WindowKind::Frame;
  def->icon = "WAFRAME.ICO";
  def->MenuBar();
  def->Menu("&File");
  def->Item("&Open Child").Tip("Open a child window");  // -3
  def->Separator();
  def->Item("E&xit").Action(StandardAction::Close);
  def->EndMenu();
  def->Menu("&Window");
  def->Item("T&ile").Action(StandardAction::Tile);
  def->EndMenu();
  def->EndMenu();
  RegisterWindowDef(def);
}

void RegisterChild() {
  auto def = std::make_shared<WindowDef>("GuiTest", "CHILD", "Child Window");
  def->pos = {10, 10, 240, 150};
  def->Entry("s20").At(10, 10, 80, 12);                                    // 1
  def->Check("Flag").At(10, 30, 80, 12);                                   // 2
  def->Button("&Press").At(10, 50, 50, 14).Icon("WAOK.ICO").Tip("Press");  // 3
  def->List("30R|M~N~C@n-5@60L|~Name~@s20@").At(100, 10, 130, 60);         // 4
  def->Sheet().At(10, 75, 220, 50);                                        // 5
  def->Tab("&One");                                                        // 6
  def->Button("&On Tab").At(20, 95, 50, 14);                               // 7
  def->Tab("&Two");                                                        // 8
  def->EndSheet();
  def->Button("&Close").At(180, 130, 50, 14).Action(StandardAction::Close);  // 9
  def->Region().At(70, 50, 20, 14);                                          // 10
  RegisterWindowDef(def);
}

void RegisterDialog() {
  auto def = std::make_shared<WindowDef>("GuiTest", "DIALOG", "Over Dialog");
  def->pos = {0, 0, 120, 40};
  def->Button("OK").At(10, 10, 40, 14).Action(StandardAction::Close);
  RegisterWindowDef(def);
}

// The child window's procedure: logs what reaches it, each line tagged with its thread.
void RunChild(EventLog& log, std::atomic<int>& windowId) {
  RecordLayout layout;
  layout.AddField("Q:N", FieldType::Long);
  layout.AddField("Q:Name", FieldType::String, 20);
  Queue queue(layout);
  for (int i = 1; i <= 3; ++i) {
    queue.Field(1).SetInteger(i);
    queue.Field(2).SetText("row" + std::to_string(i));
    queue.Add();
  }
  char text[20];
  std::uint8_t flag = 0;
  auto w = Window::Prepare("GuiTest", "CHILD");
  w->Bind(1, AnyRef(text, FieldType::String, sizeof text));
  w->Bind(2, AnyRef::Of(flag));
  w->BindList(4, &queue);
  w->Alert(4, key::kInsert);
  w->Open();
  windowId = w->Id();
  const std::string on = " on " + std::to_string(ThreadNumber());
  w->EventLoop([&] {
    switch (w->Event()) {
      case event::kAccepted:
        if (w->Field() == 1) {
          log.Add("entry " + AnyRef(text, FieldType::String, sizeof text).Text().substr(0, 5) + on);
        } else if (w->Field() == 2) {
          log.Add("flag " + std::to_string(flag) + on);
        } else {
          log.Add("accepted " + std::to_string(w->Field()) + on);
        }
        break;
      case event::kNewSelection:
        log.Add("selection " + std::to_string(w->Field()) + " " +
                std::to_string(w->Choice(w->Field())) + on);
        break;
      case event::kAlertKey:
        log.Add("key " + std::to_string(w->KeyCode()) + on);
        break;
      case event::kCloseWindow:
        log.Add("close" + on);
        break;
      default:
        break;
    }
    return 0;
  });
}

class QtBackendTest : public DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    RegisterFrame();
    RegisterChild();
    RegisterDialog();
  }
};

QAction* FindAction(QMenuBar* bar, const QString& text) {
  for (QAction* top : bar->actions()) {
    if (!top->menu()) continue;
    for (QAction* a : top->menu()->actions())
      if (a->text() == text) return a;
  }
  return nullptr;
}

// The frame's menu starts a window on a new runtime thread; the window appears as an MDI
// child of the frame and every user action reaches the procedure on that thread.
TEST_F(QtBackendTest, ChildWindowOnItsOwnThreadIsAnMdiChildAndGetsUserInput) {
  EventLog log;
  std::atomic<int> childId{0};
  std::atomic<int> childThread{0};
  StartProgram([&] {
    auto frame = Window::Prepare("GuiTest", "FRAME");
    frame->Open();
    frame->EventLoop([&] {
      if (frame->Event() == event::kAccepted && frame->Field() == -3) {
        childThread = Start([&](const std::vector<std::string>&) { RunChild(log, childId); });
      }
      return 0;
    });
  });
  ASSERT_TRUE(PumpUntil([&] { return backend_->Frame() != nullptr; }));
  QMainWindow* frame = backend_->Frame();
  EXPECT_EQ(frame->windowTitle(), "Test Frame");
  QAction* open = FindAction(frame->menuBar(), "&Open Child");
  ASSERT_NE(open, nullptr);
  EXPECT_EQ(open->statusTip(), "Open a child window");
  open->trigger();

  gui::QtWindow* child = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (child = FindWindow("Child Window")) != nullptr; }));
  auto* sub = qobject_cast<QMdiSubWindow*>(child->parentWidget());
  ASSERT_NE(sub, nullptr);
  auto* area = qobject_cast<QMdiArea*>(frame->centralWidget());
  ASSERT_NE(area, nullptr);
  EXPECT_TRUE(area->subWindowList().contains(sub));
  ASSERT_TRUE(PumpUntil([&] { return childId.load() != 0; }));
  const int id = childId;
  const std::string on = " on " + std::to_string(childThread.load());
  ASSERT_NE(childThread.load(), 1);

  auto* press = qobject_cast<QPushButton*>(backend_->ControlWidget(id, 3));
  ASSERT_NE(press, nullptr);
  EXPECT_FALSE(press->icon().isNull());
  press->click();
  EXPECT_TRUE(PumpUntil([&] { return log.Contains("accepted 3" + on); }));

  // Enter in an edited entry accepts it with the typed text.
  auto* entry = qobject_cast<QLineEdit*>(backend_->ControlWidget(id, 1));
  ASSERT_NE(entry, nullptr);
  entry->setText("typed");
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(entry, &enter);
  EXPECT_TRUE(PumpUntil([&] { return log.Contains("entry typed" + on); }));

  // A button pressed while the entry keeps the focus (its mnemonic) acts on what was typed.
  entry->setText("again");
  entry->setModified(true);
  press->click();
  ASSERT_TRUE(PumpUntil([&] { return log.Lines().back() == "accepted 3" + on; }));
  const std::vector<std::string> lines = log.Lines();
  EXPECT_EQ(lines[lines.size() - 2], "entry again" + on);

  auto* check = qobject_cast<QCheckBox*>(backend_->ControlWidget(id, 2));
  ASSERT_NE(check, nullptr);
  check->click();
  EXPECT_TRUE(PumpUntil([&] { return log.Contains("flag 1" + on); }));

  // The list shows the queue's rows formatted by the column pictures.
  auto* list = qobject_cast<gui::QtListControl*>(backend_->ControlWidget(id, 4));
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->Tree()->topLevelItemCount(), 3);
  EXPECT_EQ(list->Tree()->topLevelItem(1)->text(1), "row2");
  list->Tree()->setCurrentItem(list->Tree()->topLevelItem(1));
  EXPECT_TRUE(PumpUntil([&] { return log.Contains("selection 4 2" + on); }));
  QKeyEvent insert(QEvent::KeyPress, Qt::Key_Insert, Qt::NoModifier);
  QApplication::sendEvent(list->Tree(), &insert);
  EXPECT_TRUE(PumpUntil([&] { return log.Contains("key " + std::to_string(key::kInsert) + on); }));

  // Controls of a tab show while their tab is current; changing the tab reaches the sheet.
  auto* tabs = qobject_cast<QTabWidget*>(backend_->ControlWidget(id, 5));
  ASSERT_NE(tabs, nullptr);
  ASSERT_EQ(tabs->count(), 2);
  QWidget* onTab = backend_->ControlWidget(id, 7);
  EXPECT_TRUE(onTab->isVisible());
  EXPECT_TRUE(backend_->ControlWidget(id, 9)->isVisible());
  tabs->setCurrentIndex(1);
  EXPECT_TRUE(PumpUntil([&] { return log.Contains("selection 5 2" + on); }));
  EXPECT_FALSE(onTab->isVisible());
  EXPECT_TRUE(backend_->ControlWidget(id, 9)->isVisible());

  EXPECT_NE(backend_->RegionWidget(id, 10), nullptr);
  EXPECT_EQ(backend_->RegionWidget(id, 3), nullptr);

  // The close box asks the procedure, which closes the window by default.
  sub->close();
  EXPECT_TRUE(PumpUntil([&] { return log.Contains("close" + on); }));
  EXPECT_TRUE(PumpUntil([&] { return FindWindow("Child Window") == nullptr; }));

  frame->close();
  EXPECT_TRUE(FinishProgram());
  EXPECT_TRUE(PumpUntil([&] { return backend_->Frame() == nullptr; }));
}

// Message boxes, the file dialog and popup menus asked for on a runtime thread are answered
// through the real widgets on the GUI thread.
TEST_F(QtBackendTest, DialogsAreAnsweredThroughTheRealWidgets) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString pdf = dir.filePath("doc.pdf");
  QFile file(pdf);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("%PDF-1.4\n");
  file.close();

  std::atomic<int> pressed{0}, closed{0}, item{-1};
  std::atomic<bool> chosen{false};
  // The starting name opens the dialog in its folder.
  std::string fileName = dir.filePath("start.pdf").toStdString();
  StartProgram([&] {
    pressed = Message("Save the changes?", "Question", MessageIcon::Question,
                      kButtonYes | kButtonNo | kButtonCancel, kButtonNo);
    closed = Message("Closed without a button", "Info", MessageIcon::Information,
                     kButtonYes | kButtonNo | kButtonCancel);
    chosen = FileDialog("Select File", fileName, "PDF Files|*.pdf|All Files|*.*");
    item = Popup("Insert|Change|-|Sort{By Name|By Date}");
  });

  QMessageBox* box = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (box = Visible<QMessageBox>()) != nullptr; }));
  EXPECT_EQ(box->text(), "Save the changes?");
  EXPECT_EQ(box->buttons().size(), 3);
  EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
  box->button(QMessageBox::Yes)->click();
  ASSERT_TRUE(PumpUntil([&] { return pressed.load() != 0; }));
  EXPECT_EQ(pressed.load(), kButtonYes);

  ASSERT_TRUE(PumpUntil([&] {
    box = Visible<QMessageBox>();
    return box && box->text() == "Closed without a button";
  }));
  box->reject();
  ASSERT_TRUE(PumpUntil([&] { return closed.load() != 0; }));
  EXPECT_EQ(closed.load(), kButtonCancel);

  QFileDialog* files = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (files = Visible<QFileDialog>()) != nullptr; }));
  EXPECT_EQ(files->nameFilters(), (QStringList{"PDF Files (*.pdf)", "All Files (*.*)"}));
  EXPECT_EQ(QDir(files->directory()).canonicalPath(), QDir(dir.path()).canonicalPath());
  auto* name = files->findChild<QLineEdit*>("fileNameEdit");
  ASSERT_NE(name, nullptr);
  name->setText("doc.pdf");  // as typed by the user
  static_cast<QDialog*>(files)->accept();

  QMenu* menu = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (menu = Visible<QMenu>()) != nullptr; }));
  EXPECT_TRUE(chosen.load());
  EXPECT_EQ(QDir::cleanPath(QString::fromStdString(fileName)), QDir::cleanPath(pdf));
  QMenu* sort = nullptr;
  for (QAction* a : menu->actions())
    if (a->menu()) sort = a->menu();
  ASSERT_NE(sort, nullptr);
  QAction* byDate = sort->actions().value(1);
  ASSERT_NE(byDate, nullptr);
  EXPECT_EQ(byDate->text(), "By Date");
  menu->setActiveAction(menu->actions().value(1));
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(menu, &enter);
  EXPECT_TRUE(FinishProgram());
  EXPECT_EQ(item.load(), 2);  // "Change"
}

// A dialog opened over a window of the same thread is owned by it; the lower window takes
// no input until the dialog closes.
TEST_F(QtBackendTest, LowerWindowTakesNoInputWhileItsDialogIsOpen) {
  std::atomic<int> lowerId{0}, dialogId{0}, presses{0}, closes{0};
  StartProgram([&] {
    auto lower = Window::Prepare("GuiTest", "CHILD");
    lower->Open();
    lowerId = lower->Id();
    lower->EventLoop([&] {
      if (lower->Event() == event::kCloseWindow) ++closes;
      if (lower->Event() == event::kAccepted && lower->Field() == 3) {
        ++presses;
        auto dialog = Window::Prepare("GuiTest", "DIALOG");
        dialog->Open();
        dialogId = dialog->Id();
        dialog->EventLoop([] { return 0; });
      }
      return 0;
    });
  });
  gui::QtWindow* lower = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (lower = FindWindow("Child Window")) != nullptr; }));
  ASSERT_TRUE(PumpUntil([&] { return lowerId.load() != 0; }));
  auto* press = qobject_cast<QPushButton*>(backend_->ControlWidget(lowerId, 3));
  ASSERT_NE(press, nullptr);
  QWidget* entry = backend_->ControlWidget(lowerId, 1);
  ASSERT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == lower; }));
  entry->setFocus();
  ASSERT_TRUE(PumpUntil([&] { return QApplication::focusWidget() == entry; }));
  press->click();

  gui::QtWindow* dialog = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (dialog = FindWindow("Over Dialog")) != nullptr; }));
  EXPECT_TRUE(dialog->isWindow());
  EXPECT_EQ(dialog->parentWidget(), lower);
  ASSERT_TRUE(PumpUntil([&] { return !press->isEnabled(); }));
  press->click();  // refused while the dialog is open
  lower->close();  // the close box asks nothing either
  auto* ok = qobject_cast<QPushButton*>(backend_->ControlWidget(dialogId, 1));
  ASSERT_NE(ok, nullptr);
  EXPECT_TRUE(ok->isEnabled());
  ok->click();
  ASSERT_TRUE(PumpUntil([&] { return FindWindow("Over Dialog") == nullptr; }));
  ASSERT_TRUE(PumpUntil([&] { return press->isEnabled(); }));
  // The control that had the focus has it again (once its window is active).
  EXPECT_EQ(lower->focusWidget(), entry);
  EXPECT_EQ(presses.load(), 1);
  EXPECT_EQ(closes.load(), 0);
  lower->close();
  EXPECT_TRUE(FinishProgram());
  EXPECT_EQ(closes.load(), 1);
}

// A request still waiting when the backend shuts down is answered as cancelled instead of
// leaving its thread waiting forever.
TEST_F(QtBackendTest, ShutdownAnswersWaitingRequests) {
  std::atomic<int> answer{0};
  StartProgram(
      [&] { answer = Message("Pending", "", MessageIcon::None, kButtonOk | kButtonCancel); });
  ASSERT_TRUE(PumpUntil([&] { return Visible<QMessageBox>() != nullptr; }));
  backend_->Shutdown();
  EXPECT_TRUE(FinishProgram());
  EXPECT_EQ(answer.load(), kButtonCancel);
}

// A window started on a new thread from a dialog that floats over the frame floats too:
// inside the frame it would open underneath that dialog.
TEST_F(QtBackendTest, WindowStartedFromAFloatingDialogFloatsOverIt) {
  auto starter = std::make_shared<WindowDef>("GuiTest", "STARTER", "Starter");
  starter->pos = {0, 0, 120, 40};
  starter->Button("&Start").At(10, 10, 40, 14);
  RegisterWindowDef(starter);
  auto started = std::make_shared<WindowDef>("GuiTest", "STARTED", "Started");
  started->pos = {0, 0, 80, 30};
  RegisterWindowDef(started);
  std::atomic<int> childId{0};
  StartProgram([&] {
    auto frame = Window::Prepare("GuiTest", "FRAME");
    frame->Open();
    Start([&](const std::vector<std::string>&) {
      auto child = Window::Prepare("GuiTest", "CHILD");
      child->Open();
      childId = child->Id();
      child->EventLoop([&] {
        if (child->Event() != event::kAccepted || child->Field() != 3) return 0;
        auto dialog = Window::Prepare("GuiTest", "STARTER");
        dialog->Open();
        dialog->EventLoop([&] {
          if (dialog->Event() == event::kAccepted) {
            Start([](const std::vector<std::string>&) {
              auto w = Window::Prepare("GuiTest", "STARTED");
              w->Open();
              w->EventLoop([] { return 0; });
            });
          }
          return 0;
        });
        return 0;
      });
    });
    frame->EventLoop([] { return 0; });
  });
  QPushButton* press = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    return childId.load() != 0 &&
           (press = qobject_cast<QPushButton*>(backend_->ControlWidget(childId, 3))) != nullptr;
  }));
  press->click();
  gui::QtWindow* dialog = nullptr;
  QPushButton* start = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    return (dialog = FindWindow("Starter")) != nullptr &&
           (start = dialog->findChild<QPushButton*>()) != nullptr;
  }));
  ASSERT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == dialog; }));
  start->click();
  gui::QtWindow* floating = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (floating = FindWindow("Started")) != nullptr; }));
  EXPECT_TRUE(floating->isWindow());
  EXPECT_EQ(qobject_cast<QMdiSubWindow*>(floating->parentWidget()), nullptr);
  EXPECT_TRUE(dialog->TakesInput());  // it blocks nothing
  backend_->Frame()->close();
  EXPECT_TRUE(FinishProgram());
}

// The wait cursor is counted: it stays until every request for it is withdrawn, and extra
// withdrawals do not leave a cursor stack behind.
TEST_F(QtBackendTest, WaitCursorIsCounted) {
  StartProgram([] {
    SetWaitCursor(true);
    SetWaitCursor(true);
    SetWaitCursor(false);
  });
  ASSERT_TRUE(FinishProgram());
  ASSERT_TRUE(PumpUntil([&] { return backend_->WaitCursorDepth() == 1; }));
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  StartProgram([] {
    SetWaitCursor(false);
    SetWaitCursor(false);
  });
  ASSERT_TRUE(FinishProgram());
  ASSERT_TRUE(PumpUntil([&] { return QApplication::overrideCursor() == nullptr; }));
  EXPECT_EQ(backend_->WaitCursorDepth(), 0);
}

// Asked to, the backend saves the shown frame as an image.
TEST_F(QtBackendTest, FrameScreenshotIsSavedWhenAsked) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("frame.png");
  backend_->SaveFrameWhenIdle(path);
  StartProgram([&] {
    auto frame = Window::Prepare("GuiTest", "FRAME");
    frame->Open();
    frame->EventLoop([] { return 0; });
  });
  ASSERT_TRUE(PumpUntil([&] { return QFile::exists(path); }, 20000));
  const QImage image(path);
  EXPECT_FALSE(image.isNull());
  ASSERT_NE(backend_->Frame(), nullptr);
  backend_->Frame()->close();
  EXPECT_TRUE(FinishProgram());
}

}  // namespace
}  // namespace gui_test
