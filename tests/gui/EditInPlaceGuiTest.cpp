// SPDX-License-Identifier: GPL-3.0-or-later
// Editing a browse row in place on the desktop: the edit control sits over the cell being
// edited, starts in the double-clicked column, moves with Tab and with clicks on the row,
// follows the cell when a column is resized, and goes away with Esc.

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QTreeWidget>
#include <atomic>
#include <functional>
#include <memory>

#include "DesktopTest.h"
#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLong.h"
#include "gui/qt/QtListControl.h"
#include "platform/runtime/windows/Window.h"
#include "support/BrowseFixture.h"
#include "support/WorkDir.h"

namespace {

constexpr int kList = 1;
constexpr int kRows = 5;

class EditInPlaceGuiTest : public gui_test::DesktopTest {
 protected:
  // Runs a browse over a real table of eight documents on the program thread; `drive` edits
  // with it and returns the response. The names stored afterwards land in names_.
  void StartBrowse(std::function<std::uint8_t(BrowseManager&, rt::Window&)> drive) {
    StartProgram([this, drive] {
      {
        StepLong step;  // outlives the browse, which releases it
        testing_support::BrowseFixture f;
        if (!f.TableReady() || !testing_support::AddDocRange(1, 8)) return;
        f.Open({.thumb = &step, .rows = kRows, .caption = "Edit Documents"});
        windowId_ = f.Window->Id();
        response_ = drive(*f.Browse, *f.Window);
      }
      // Read afresh: the browse and its table managers are gone.
      auto file = testing_support::MakeDocsFile();
      if (file->Open(rt::kOpenReadOnlyDenyNone) != 0) return;
      static_cast<void>(file->Set(*file->Key(testing_support::kDocsById)));
      while (file->Next() == 0) {
        const std::string name = rt::ReadText(file->Layout().Field(2), file->Record());
        names_.push_back(name.substr(0, name.find_last_not_of(' ') + 1));
      }
      static_cast<void>(file->Close());
    });
  }

  gui::QtListControl* List() const {
    return qobject_cast<gui::QtListControl*>(backend_->ControlWidget(windowId_, kList));
  }
  QLineEdit* EditOf(int control) const {
    return qobject_cast<QLineEdit*>(backend_->ControlWidget(windowId_, control));
  }
  // A cell of the list as the tree shows it, in the tree's viewport.
  QRect CellInView(int row, int column) const {
    QTreeWidget* tree = List()->Tree();
    const QRect r = tree->visualItemRect(tree->topLevelItem(row - 1));
    return QRect(tree->header()->sectionViewportPosition(column - 1), r.top(),
                 tree->header()->sectionSize(column - 1), r.height());
  }
  // The same cell in the coordinates of the edit control's parent.
  QRect CellOf(QLineEdit* edit, int row, int column) const {
    const QRect cell = CellInView(row, column);
    return QRect(List()->Tree()->viewport()->mapTo(edit->parentWidget(), cell.topLeft()),
                 cell.size());
  }

  std::atomic<int> windowId_{0};
  std::atomic<int> response_{-1};
  std::vector<std::string> names_;  // read after the program ended
};

// The edit controls are the first ones made at run time: one per column.
constexpr int kIdEdit = 2;
constexpr int kNameEdit = 3;

TEST_F(EditInPlaceGuiTest, EditControlSitsOverTheEditedCellAndFollowsTab) {
  testing_support::WorkDir work("eip-gui");
  ASSERT_TRUE(work.Ok());
  StartBrowse([](BrowseManager& browse, rt::Window& window) {
    window.SetChoice(kList, 3);
    browse.TakeNewSelection();
    return browse.Ask(ChangeRecord);
  });
  ASSERT_TRUE(PumpUntil([&] { return windowId_.load() != 0; }));
  QLineEdit* id = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    id = EditOf(kIdEdit);
    return id && id->isVisible() && id->text().trimmed() == "3";
  }));
  EXPECT_EQ(id->geometry(), CellOf(id, 3, 1));

  // Typed text goes with the Tab key; the next column's edit control takes its cell.
  id->setText("33");
  id->setModified(true);
  QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
  QApplication::sendEvent(id, &tab);
  QLineEdit* name = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    name = EditOf(kNameEdit);
    return name && name->isVisible() && !id->isVisible();
  }));
  EXPECT_EQ(name->geometry(), CellOf(name, 3, 2));
  EXPECT_EQ(name->text(), "doc3");

  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(name, &esc);
  ASSERT_TRUE(PumpUntil([&] { return response_.load() != -1; }));
  EXPECT_EQ(response_.load(), RequestCancelled);
  EXPECT_TRUE(FinishProgram());
}

TEST_F(EditInPlaceGuiTest, EditingStartsInTheClickedColumnAndFollowsClicksAndColumnSizes) {
  testing_support::WorkDir work("eip-gui-click");
  ASSERT_TRUE(work.Ok());
  // As a browse does: a double click on the list starts editing the row.
  StartBrowse([](BrowseManager& browse, rt::Window& window) {
    std::uint8_t response = 0;
    window.EventLoop([&] {
      if (window.Event() == rt::event::kNewSelection && window.Field() == kList)
        browse.TakeNewSelection();
      if (window.Event() == rt::event::kAlertKey && window.KeyCode() == rt::key::kMouseLeft2) {
        response = browse.Ask(ChangeRecord);
        window.LeaveEventLoop();
      }
      return 1;
    });
    return response;
  });
  ASSERT_TRUE(PumpUntil([&] { return windowId_.load() != 0 && List() != nullptr; }));
  ASSERT_TRUE(PumpUntil([&] { return List()->Tree()->topLevelItemCount() == kRows; }));
  QWidget* viewport = List()->Tree()->viewport();
  // A double click as the screen delivers it: the first press selects the row.
  QTest::mouseClick(viewport, Qt::LeftButton, {}, CellInView(3, 2).center());
  QTest::mouseDClick(viewport, Qt::LeftButton, {}, CellInView(3, 2).center());
  QLineEdit* name = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    name = EditOf(kNameEdit);
    return name && name->isVisible();
  }));
  EXPECT_EQ(name->geometry(), CellOf(name, 3, 2));
  EXPECT_EQ(name->text(), "doc3");
  EXPECT_FALSE(EditOf(kIdEdit)->isVisible());

  // A wider first column moves the cell; the edit control goes with it.
  List()->Tree()->header()->resizeSection(0, List()->Tree()->header()->sectionSize(0) + 30);
  EXPECT_EQ(name->geometry(), CellOf(name, 3, 2));

  // Typed, then a click on the row's first column: the edit control moves there.
  name->setText("renamed");
  name->setModified(true);
  QTest::mouseClick(viewport, Qt::LeftButton, {}, CellInView(3, 1).center());
  QLineEdit* id = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    id = EditOf(kIdEdit);
    return id && id->isVisible() && !name->isVisible();
  }));
  EXPECT_EQ(id->geometry(), CellOf(id, 3, 1));
  QTest::keyClick(id, Qt::Key_Return);
  ASSERT_TRUE(PumpUntil([&] { return response_.load() != -1; }));
  EXPECT_EQ(response_.load(), RequestCompleted);
  EXPECT_TRUE(FinishProgram());
  ASSERT_EQ(names_.size(), 8u);
  EXPECT_EQ(names_[2], "renamed");
  EXPECT_EQ(names_[1], "doc2");
}

}  // namespace
