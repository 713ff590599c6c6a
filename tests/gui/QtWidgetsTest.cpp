// SPDX-License-Identifier: GPL-3.0-or-later
// The pieces of the desktop that need no runtime thread: dialog units, key codes, icons,
// dialog helpers and the list control's translation of user input into runtime events.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "gui/qt/DialogUnits.h"
#include "gui/qt/QtDialogs.h"
#include "gui/qt/QtFileDialogGuard.h"
#include "gui/qt/QtFileIconProvider.h"
#include "gui/qt/QtIcons.h"
#include "gui/qt/QtKeyMap.h"
#include "gui/qt/QtListControl.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/KeyChar.h"
#include "platform/runtime/windows/ListFormat.h"
#include "platform/runtime/windows/Properties.h"

namespace gui_test {
namespace {

using gui::DialogUnits;
using gui::QtDialogs;

TEST(DialogUnitsTest, ConvertWithTheWindowFontAndMapTheClassicFonts) {
  const DialogUnits units("MS Sans Serif", 8);
  EXPECT_EQ(units.X(4), units.CharWidth());
  EXPECT_EQ(units.Y(8), units.LineHeight());
  const QRect r = units.ToPixels(rt::Rect{8, 16, 40, 24});
  EXPECT_EQ(r, QRect(units.X(8), units.Y(16), units.X(40), units.Y(24)));
  for (int du : {1, 7, 64, 300}) {
    EXPECT_NEAR(units.UnitsX(units.X(du)), du, 1);
    EXPECT_NEAR(units.UnitsY(units.Y(du)), du, 1);
  }
  // Both classic dialog fonts become the desktop's sans font.
  EXPECT_EQ(DialogUnits::FontFor("MS Sans Serif", 8).family(),
            DialogUnits::FontFor("Microsoft Sans Serif", 8).family());
  EXPECT_EQ(DialogUnits::FontFor("MS Sans Serif", 10).pointSize(), 10);
  // A larger font gives larger units.
  EXPECT_GT(DialogUnits("MS Sans Serif", 16).Y(100), units.Y(100));
}

TEST(QtKeyMapTest, KeysAndModifiersBecomeRuntimeCodes) {
  using gui::QtKeyMap;
  EXPECT_EQ(QtKeyMap::FromKey(Qt::Key_H, Qt::ControlModifier), rt::key::kCtrlH);
  EXPECT_EQ(QtKeyMap::FromKey(Qt::Key_Return, Qt::ControlModifier), rt::key::kCtrlEnter);
  EXPECT_EQ(QtKeyMap::FromKey(Qt::Key_Enter, Qt::ShiftModifier), rt::key::kShiftEnter);
  EXPECT_EQ(QtKeyMap::FromKey(Qt::Key_Insert, Qt::NoModifier), rt::key::kInsert);
  EXPECT_EQ(QtKeyMap::FromKey(Qt::Key_Delete, Qt::NoModifier), rt::key::kDelete);
  EXPECT_EQ(QtKeyMap::FromKey(Qt::Key_Menu, Qt::NoModifier), rt::key::kApps);
  EXPECT_EQ(QtKeyMap::FromKey(Qt::Key_F1, Qt::AltModifier), rt::key::kF1 + rt::key::kAlt);
  EXPECT_EQ(QtKeyMap::FromKey(Qt::Key_Shift, Qt::ShiftModifier), 0);
  // Punctuation comes as the key that types the character, whatever Shift the layout took.
  EXPECT_EQ(rt::KeyChar(QtKeyMap::FromKey(Qt::Key_Minus, Qt::NoModifier)), '-');
  EXPECT_EQ(rt::KeyChar(QtKeyMap::FromKey(Qt::Key_Exclam, Qt::ShiftModifier)), '!');
  EXPECT_EQ(rt::KeyChar(QtKeyMap::FromKey(Qt::Key_Slash, Qt::ShiftModifier)), '/');
}

TEST(QtIconsTest, WindowIconNamesMapWithoutRegardToCase) {
  for (const char* name :
       {"WAFRAME.ICO", "WAINSERT.ICO", "WACHANGE.ICO", "WADELETE.ICO", "WACLOSE.ICO",
        "WACancel.ico", "WACANCEL.ICO", "WAOK.ICO", "wizcnvt.ico", "waok.ico"})
    EXPECT_FALSE(gui::QtIcons::ForName(name).isNull()) << name;
  EXPECT_TRUE(gui::QtIcons::ForName("").isNull());
  EXPECT_TRUE(gui::QtIcons::ForName("NOSUCH.ICO").isNull());
}

// True when another process finds the first byte of the file write-locked.
bool LockedForOthers(const QString& path) {
  const pid_t child = fork();
  if (child == 0) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR);
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_len = 1;
    _exit(fd >= 0 && fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK ? 0 : 1);
  }
  int status = 0;
  return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

// The file dialog tells icons and types apart without opening the files it lists: closing
// a file drops the process's locks on it, the table driver's among them.
TEST(QtFileIconProviderTest, KeepsTheProcessLocksOnListedFiles) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("DEMODATA.sqlite");
  {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4\n");  // contents that say otherwise than the name
  }
  const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_len = 1;
  ASSERT_EQ(fcntl(fd, F_SETLK, &lock), 0);
  ASSERT_TRUE(LockedForOthers(path));

  gui::QtFileIconProvider provider;
  const QFileInfo info(path);
  EXPECT_FALSE(provider.icon(info).isNull());
  EXPECT_FALSE(provider.type(info).contains("PDF"));
  EXPECT_FALSE(provider.type(QFileInfo(dir.path())).isEmpty());
  EXPECT_TRUE(LockedForOthers(path));
  ::close(fd);
}

// The same holds for the file dialog Qt's print dialog opens itself to choose an output file:
// it gets the provider before it is shown and lists a folder.
TEST(QtFileIconProviderTest, ThePrintDialogsFileChooserGetsItToo) {
  gui::QtFileDialogGuard guard;
  QPrinter printer;
  QPrintDialog print(&printer);
  print.show();
  QToolButton* browse = print.findChild<QToolButton*>("fileBrowser");
  ASSERT_NE(browse, nullptr);
  bool checked = false;
  QTimer::singleShot(0, [&] {
    auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(chooser, nullptr);
    EXPECT_NE(dynamic_cast<const gui::QtFileIconProvider*>(chooser->iconProvider()), nullptr);
    checked = true;
    chooser->reject();
  });
  browse->setEnabled(true);
  browse->click();  // runs the chooser until the check above closes it
  EXPECT_TRUE(checked);
}

TEST(QtDialogsTest, MasksButtonsAndPopupItems) {
  EXPECT_EQ(QtDialogs::NameFilters("PDF Files|*.pdf|All Files|*.*"),
            (QStringList{"PDF Files (*.pdf)", "All Files (*.*)"}));
  EXPECT_EQ(QtDialogs::NameFilters("Images|*.png;*.jpg"), QStringList{"Images (*.png *.jpg)"});
  EXPECT_TRUE(QtDialogs::NameFilters("").isEmpty());
  EXPECT_TRUE(QtDialogs::NameFilters("Only a description").isEmpty());

  for (int bit = rt::kButtonOk; bit <= rt::kButtonHelp; bit <<= 1)
    EXPECT_EQ(QtDialogs::ButtonBit(QtDialogs::StandardButton(bit)), bit);
  // A box closed without a button answers Cancel, else No, else OK.
  EXPECT_EQ(QtDialogs::ClosedAnswer(rt::kButtonYes | rt::kButtonNo | rt::kButtonCancel, 0),
            rt::kButtonCancel);
  EXPECT_EQ(QtDialogs::ClosedAnswer(rt::kButtonYes | rt::kButtonNo, rt::kButtonYes), rt::kButtonNo);
  EXPECT_EQ(QtDialogs::ClosedAnswer(0, 0), rt::kButtonOk);
  EXPECT_EQ(QtDialogs::ClosedAnswer(rt::kButtonAbort | rt::kButtonRetry | rt::kButtonIgnore,
                                    rt::kButtonRetry),
            rt::kButtonRetry);

  QMenu menu;
  QtDialogs::BuildPopup(menu,
                        rt::PopupMenu::Parse("Insert|-|Sort{By Name|~By Date}|+Marked").Items());
  const auto actions = menu.actions();
  ASSERT_EQ(actions.size(), 4);
  EXPECT_EQ(actions[0]->data().toInt(), 1);
  EXPECT_TRUE(actions[1]->isSeparator());
  ASSERT_NE(actions[2]->menu(), nullptr);
  const auto sub = actions[2]->menu()->actions();
  ASSERT_EQ(sub.size(), 2);
  EXPECT_EQ(sub[0]->data().toInt(), 2);
  EXPECT_FALSE(sub[1]->isEnabled());
  EXPECT_EQ(actions[3]->data().toInt(), 4);
  EXPECT_TRUE(actions[3]->isChecked());
}

class QtListControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    list_ = std::make_unique<gui::QtListControl>(
        units_, [this](rt::EventMessage m) { sent_.push_back(std::move(m)); });
    view_.type = rt::ctl::kList;
    view_.columns = rt::ListFormat::Parse("30R|M~N~C@n-5@60L|~Name~@s20@").Columns();
    view_.rows = {{"1", "one"}, {"2", "two"}, {"3", "three"}};
    view_.choice = 3;
    view_.vscroll = true;
    view_.thumb = 40;
    view_.alerts = {rt::key::kInsert, rt::key::kMouseLeft2};
    list_->resize(300, 200);
    list_->Apply(view_);
    list_->show();
    QApplication::processEvents();
  }

  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(list_->Tree(), &press);
  }

  // The events sent so far, then forgets them.
  std::vector<int> Take() {
    std::vector<int> events;
    for (const auto& m : sent_)
      events.push_back(m.event);
    sent_.clear();
    return events;
  }

  DialogUnits units_;
  rt::ControlView view_;
  std::vector<rt::EventMessage> sent_;
  std::unique_ptr<gui::QtListControl> list_;
};

TEST_F(QtListControlTest, ShowsColumnsRowsChoiceAndThumbWithoutSendingEvents) {
  QTreeWidget* tree = list_->Tree();
  ASSERT_EQ(tree->columnCount(), 2);
  EXPECT_EQ(tree->headerItem()->text(0), "N");
  EXPECT_EQ(tree->columnWidth(0), units_.X(30));
  EXPECT_EQ(tree->topLevelItem(2)->text(1), "three");
  EXPECT_TRUE(tree->topLevelItem(0)->textAlignment(0) & Qt::AlignRight);
  EXPECT_EQ(tree->currentItem(), tree->topLevelItem(2));
  EXPECT_TRUE(list_->ScrollBar()->isVisible());
  EXPECT_EQ(list_->ScrollBar()->value(), 40);
  // The runtime's own changes are not reported back as user input.
  view_.choice = 1;
  view_.rows[0][1] = "uno";
  list_->Apply(view_);
  EXPECT_EQ(tree->topLevelItem(0)->text(1), "uno");
  EXPECT_EQ(tree->currentItem(), tree->topLevelItem(0));
  EXPECT_TRUE(sent_.empty());
  view_.vscroll = false;
  list_->Apply(view_);
  EXPECT_FALSE(list_->ScrollBar()->isVisible());
}

TEST_F(QtListControlTest, MovingPastThePageBecomesScrollEvents) {
  namespace ev = rt::event;
  Key(Qt::Key_Down);  // on the last row
  Key(Qt::Key_PageDown);
  Key(Qt::Key_PageUp);
  Key(Qt::Key_End, Qt::ControlModifier);
  Key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(Take(), (std::vector<int>{ev::kScrollDown, ev::kPageDown, ev::kPageUp,
                                      ev::kScrollBottom, ev::kScrollTop}));
  // Inside the page the selection moves and is reported with the new row.
  Key(Qt::Key_Up);
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].event, ev::kNewSelection);
  EXPECT_EQ(sent_[0].screenChoice, 2);
  sent_.clear();
  Key(Qt::Key_Up);
  Take();
  Key(Qt::Key_Up);  // on the first row
  EXPECT_EQ(Take(), std::vector<int>{ev::kScrollUp});
  // The scroll bar asks the runtime and keeps its thumb until the runtime moves it.
  list_->ScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  list_->ScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(Take(), (std::vector<int>{ev::kPageDown, ev::kScrollUp}));
  EXPECT_EQ(list_->ScrollBar()->value(), 40);
}

TEST_F(QtListControlTest, OnlyAlertedKeysAndClicksBecomeAlertKeys) {
  Key(Qt::Key_Insert);
  Key(Qt::Key_Delete);  // not alerted: the list keeps it
  ASSERT_EQ(sent_.size(), 1u);
  EXPECT_EQ(sent_[0].event, rt::event::kAlertKey);
  EXPECT_EQ(sent_[0].keyCode, rt::key::kInsert);
  sent_.clear();
  QWidget* viewport = list_->Tree()->viewport();
  const QPointF at = list_->Tree()->visualItemRect(list_->Tree()->topLevelItem(0)).center();
  QMouseEvent dbl(QEvent::MouseButtonDblClick, at, viewport->mapToGlobal(at), Qt::LeftButton,
                  Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &dbl);
  QMouseEvent right(QEvent::MouseButtonRelease, at, viewport->mapToGlobal(at), Qt::RightButton,
                    Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(viewport, &right);
  // The double-click is alerted; the right button is not, but it moves the selection to the
  // row under the mouse.
  ASSERT_EQ(sent_.size(), 2u);
  EXPECT_EQ(sent_[0].keyCode, rt::key::kMouseLeft2);
  EXPECT_EQ(sent_[0].mouseZone, rt::listzone::kRow);
  EXPECT_EQ(sent_[0].mouseRow, 1);
  EXPECT_EQ(sent_[1].event, rt::event::kNewSelection);
  EXPECT_EQ(sent_[1].screenChoice, 1);
}

TEST_F(QtListControlTest, DoubleClicksOnTheHeaderAndBelowTheRowsSayWhereTheyLanded) {
  QTreeWidget* tree = list_->Tree();
  QWidget* header = tree->header()->viewport();
  const QPoint onName(tree->header()->sectionViewportPosition(1) + 5, header->height() / 2);
  QTest::mouseDClick(header, Qt::LeftButton, {}, onName);
  const QRect last = tree->visualItemRect(tree->topLevelItem(2));
  ASSERT_LT(last.bottom() + 10, tree->viewport()->height());
  QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, QPoint(10, last.bottom() + 10));
  std::vector<rt::EventMessage> keys;
  for (const auto& m : sent_)
    if (m.event == rt::event::kAlertKey) keys.push_back(m);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].keyCode, rt::key::kMouseLeft2);
  EXPECT_EQ(keys[0].mouseZone, rt::listzone::kHeader);
  EXPECT_EQ(keys[0].mouseColumn, 2);
  EXPECT_EQ(keys[0].mouseRow, 0);
  EXPECT_EQ(keys[1].mouseZone, rt::listzone::kBelowRows);
  EXPECT_EQ(keys[1].mouseRow, 0);
  // The highlighted row stays: a click outside the rows picks none.
  EXPECT_EQ(tree->currentItem(), tree->topLevelItem(2));
}

}  // namespace
}  // namespace gui_test
