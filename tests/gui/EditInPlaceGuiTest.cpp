// Editing a browse row in place on the desktop: the edit control sits over the cell being
// edited, moves to the next cell on Tab with what was typed, and goes away with Esc.

#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTreeWidget>
#include <atomic>
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

class EditInPlaceGuiTest : public gui_test::DesktopTest {};

TEST_F(EditInPlaceGuiTest, EditControlSitsOverTheEditedCellAndFollowsTab) {
  testing_support::WorkDir work("eip-gui");
  ASSERT_TRUE(work.Ok());
  std::atomic<int> windowId{0};
  std::atomic<int> response{-1};
  StartProgram([&] {
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
      window.SetChoice(kList, 3);
      browse.TakeNewSelection();
      windowId = window.Id();
      response = browse.Ask(ChangeRecord);
      browse.Kill();
      window.Close();
      relations.Kill();
    }
    file->Close();
    errors.Kill();
    status.Destroy();
  });
  ASSERT_TRUE(PumpUntil([&] { return windowId.load() != 0; }));
  // The edit controls are the first ones made at run time: one per column.
  constexpr int kIdEdit = 2;
  constexpr int kNameEdit = 3;
  auto editOf = [&](int control) {
    return qobject_cast<QLineEdit*>(backend_->ControlWidget(windowId, control));
  };
  auto cellOf = [&](QLineEdit* edit, int row, int column) {
    auto* list = qobject_cast<gui::QtListControl*>(backend_->ControlWidget(windowId, kList));
    QTreeWidget* tree = list->Tree();
    const QRect r = tree->visualItemRect(tree->topLevelItem(row - 1));
    const QRect cell(tree->header()->sectionViewportPosition(column - 1), r.top(),
                     tree->header()->sectionSize(column - 1), r.height());
    return QRect(tree->viewport()->mapTo(edit->parentWidget(), cell.topLeft()), cell.size());
  };
  QLineEdit* id = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    id = editOf(kIdEdit);
    return id && id->isVisible() && id->text().trimmed() == "3";
  }));
  EXPECT_EQ(id->geometry(), cellOf(id, 3, 1));

  // Typed text goes with the Tab key; the next column's edit control takes its cell.
  id->setText("33");
  id->setModified(true);
  QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
  QApplication::sendEvent(id, &tab);
  QLineEdit* name = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    name = editOf(kNameEdit);
    return name && name->isVisible() && !id->isVisible();
  }));
  EXPECT_EQ(name->geometry(), cellOf(name, 3, 2));
  EXPECT_EQ(name->text(), "doc3");

  QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(name, &esc);
  ASSERT_TRUE(PumpUntil([&] { return response.load() != -1; }));
  EXPECT_EQ(response.load(), RequestCancelled);
  EXPECT_TRUE(FinishProgram());
}

}  // namespace
