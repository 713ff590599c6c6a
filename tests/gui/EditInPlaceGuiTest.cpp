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
#include "framework/data/FileManager.h"
#include "framework/data/RelationManager.h"
#include "framework/error/ErrorManager.h"
#include "framework/window/WindowController.h"
#include "gui/qt/QtListControl.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"
#include "platform/store/StoreDriver.h"
#include "support/WorkDir.h"

namespace {

constexpr int kList = 1;
constexpr int kRows = 5;

class DocManager : public FileManager {
 public:
  DocManager(rt::File& file, ErrorManager& errors) {
    File = &file;
    Errors = &errors;
    FileManager::Init();
    FileManager::InitFile(file, errors);
    AddKey(*file.Key(1), "");
  }
  ~DocManager() override { Shutdown(); }
};

class EditInPlaceGuiTest : public gui_test::DesktopTest {
 protected:
  // Runs a browse over a real table of eight documents on the program thread; `drive` edits
  // with it and returns the response. The names stored afterwards land in names_.
  void StartBrowse(std::function<std::uint8_t(BrowseManager&, rt::Window&)> drive) {
    StartProgram([this, drive] {
      rt::ThreadLocal<ErrorStatus> status;
      ErrorManager errors;
      errors.Start(status);
      rt::RegisterStoreDriver();
      rt::RecordLayout docLayout("Doc");
      docLayout.AddField("DOC:ID", rt::FieldType::Long);
      docLayout.AddField("DOC:Name", rt::FieldType::String, 20);
      auto file = std::make_unique<rt::File>("DOCS", "DOC", "STORE", std::move(docLayout));
      file->AddKey("DOC:ID_Key", {{1, true, false}}, true, true);
      if (file->Create() != 0 || file->Open(0x42) != 0) return;
      for (int id = 1; id <= 8; ++id) {
        rt::WriteInteger(file->Layout().Field(1), file->Record(), id);
        rt::WriteText(file->Layout().Field(2), file->Record(), "doc" + std::to_string(id));
        file->Add();
      }
      {
        DocManager manager(*file, errors);
        RelationManager relations;
        relations.Init(manager, 0);
        rt::View view(*file);
        rt::RecordLayout layout("Page");
        layout.AddField("Q:ID", rt::FieldType::Long);
        layout.AddField("Q:Name", rt::FieldType::String, 20);
        layout.AddField("Q:Pos", rt::FieldType::String, kPositionFieldSize);
        rt::Queue queue(std::move(layout));
        auto def = std::make_shared<rt::WindowDef>("EipGui", "LIST", "Edit Documents");
        def->pos = {0, 0, 220, 90};
        def->List("40R(2)|M~Number~C(0)@n-7@80L(2)|M~File Name~L(2)@s20@")
            .At(4, 4, 200, rt::kListHeaderHeight + kRows * rt::kListRowHeight);
        rt::Window window(def);
        window.BindList(kList, &queue);
        window.Open();
        WindowController controller;
        controller.MyWindow = &window;
        controller.Errors = &errors;
        std::int32_t vcr = 0;
        controller.VCRRequest = &vcr;
        StepLong step;
        BrowseManager browse;
        browse.Init(kList, queue.Field(3).Address(), kPositionFieldSize, view, queue, relations,
                    controller);
        browse.AddSortOrder(&step, file->Key(1));
        browse.AddField(rt::AnyRef(file->Record(), file->Layout().Field(1)), queue.Field(1));
        browse.AddField(rt::AnyRef(file->Record(), file->Layout().Field(2)), queue.Field(2));
        browse.SetAlerts();
        browse.ResetSort(true);
        browse.UpdateWindow();
        windowId_ = window.Id();
        response_ = drive(browse, window);
        browse.Kill();
        window.Close();
        relations.Kill();
      }
      // Read afresh: the table managers closed the file.
      file->Close();
      if (file->Open(0x40) != 0) return;
      file->Set(*file->Key(1));
      while (file->Next() == 0) {
        const std::string name = rt::ReadText(file->Layout().Field(2), file->Record());
        names_.push_back(name.substr(0, name.find_last_not_of(' ') + 1));
      }
      file->Close();
      errors.Kill();
      status.Destroy();
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
