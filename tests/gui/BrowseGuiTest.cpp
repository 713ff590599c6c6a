// A browse on a real table shown by the Qt list: the page's rows with the format's texts,
// every row of the page visible, and the scroll bar's thumb where the runtime put it.

#include <QApplication>
#include <QKeyEvent>
#include <QScrollBar>
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
#include "platform/runtime/files/FileTransaction.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"
#include "platform/store/StoreDriver.h"
#include "support/WorkDir.h"

namespace {

constexpr int kList = 1;
constexpr int kRows = 6;

std::unique_ptr<rt::File> MakeDocs() {
  rt::RegisterStoreDriver();
  rt::RecordLayout layout("Doc");
  layout.AddField("DOC:ID", rt::FieldType::Long);
  layout.AddField("DOC:Name", rt::FieldType::String, 20);
  auto file = std::make_unique<rt::File>("DOCS", "DOC", "STORE", std::move(layout));
  file->AddKey("DOC:ID_Key", {{1, true, false}}, true, true);
  return file;
}

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

class BrowseGuiTest : public gui_test::DesktopTest {};

TEST_F(BrowseGuiTest, ListShowsThePageAndTheThumbTheRuntimeSet) {
  testing_support::WorkDir work("browse-gui");
  ASSERT_TRUE(work.Ok());
  std::atomic<int> windowId{0};
  std::atomic<long> thumb{-1};
  StartProgram([&] {
    rt::ThreadLocal<ErrorStatus> status;
    ErrorManager errors;
    errors.Start(status);
    auto file = MakeDocs();
    if (file->Create() != 0 || file->Open(0x42) != 0) return;
    file->SetTransactionMember(true);
    rt::StartTransaction(10);
    for (int id = 1; id <= 40; ++id) {
      rt::WriteInteger(file->Layout().Field(1), file->Record(), id * 10);
      rt::WriteText(file->Layout().Field(2), file->Record(), "doc" + std::to_string(id));
      file->Add();
    }
    rt::CommitTransaction();
    file->Close();
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
      auto def = std::make_shared<rt::WindowDef>("BrowseGui", "LIST", "Browse Documents");
      def->pos = {0, 0, 220, 90};
      def->List("40R(2)|M~Number~C(0)@n-7@80L(2)|M~File Name~L(2)@s20@")
          .At(4, 4, 200, rt::kListHeaderHeight + kRows * rt::kListRowHeight)
          .VScroll();
      rt::Window window(def);
      window.BindList(kList, &queue);
      window.Open();
      WindowController controller;
      controller.MyWindow = &window;
      StepLong step;
      BrowseManager browse;
      browse.Init(kList, queue.Field(3).Address(), kPositionFieldSize, view, queue, relations,
                  controller);
      browse.AddSortOrder(&step, file->Key(1));
      browse.AddField(rt::AnyRef(file->Record(), file->Layout().Field(1)), queue.Field(1));
      browse.AddField(rt::AnyRef(file->Record(), file->Layout().Field(2)), queue.Field(2));
      browse.SetAlerts();
      browse.ResetSort(true);
      browse.TakeScroll(rt::event::kPageDown);
      browse.TakeScroll(rt::event::kPageDown);
      browse.UpdateWindow();
      thumb = window.PropNumber(kList, rt::prop::kVScrollPos);
      windowId = window.Id();
      window.EventLoop([] { return 0; });
      browse.Kill();
      relations.Kill();
    }
    errors.Kill();
    status.Destroy();
  });
  ASSERT_TRUE(PumpUntil([&] { return windowId.load() != 0; }));
  gui::QtListControl* list = nullptr;
  QTreeWidget* tree = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    list = qobject_cast<gui::QtListControl*>(backend_->ControlWidget(windowId, kList));
    tree = list ? list->Tree() : nullptr;
    return tree && tree->topLevelItemCount() == kRows &&
           tree->topLevelItem(0)->text(0).trimmed() == "130";
  }));
  // Two pages down: records 13 to 18, numbered by tens.
  EXPECT_EQ(tree->headerItem()->text(1), "File Name");
  EXPECT_EQ(tree->topLevelItem(kRows - 1)->text(0), "    180");  // the picture's width
  EXPECT_EQ(tree->topLevelItem(kRows - 1)->text(1), "doc18");
  EXPECT_TRUE(tree->topLevelItem(0)->textAlignment(0) & Qt::AlignRight);
  EXPECT_EQ(tree->currentItem(), tree->topLevelItem(0));
  // Every row of the page fits the list.
  const QRect last = tree->visualItemRect(tree->topLevelItem(kRows - 1));
  EXPECT_LE(last.bottom(), tree->viewport()->height());
  // The thumb: record 130 in 10..400, (130 - 10) x 100 / 390 = 30.
  EXPECT_EQ(thumb.load(), 30);
  EXPECT_TRUE(list->ScrollBar()->isVisibleTo(list));
  EXPECT_EQ(list->ScrollBar()->value(), 30);

  rt::PostCloseDown(1);
  EXPECT_TRUE(FinishProgram());
}

TEST_F(BrowseGuiTest, KeysOnTheListScrollThePageAndTheHighlightFollowsTheRuntime) {
  testing_support::WorkDir work("browse-keys-gui");
  ASSERT_TRUE(work.Ok());
  std::atomic<int> windowId{0};
  StartProgram([&] {
    rt::ThreadLocal<ErrorStatus> status;
    ErrorManager errors;
    errors.Start(status);
    auto file = MakeDocs();
    if (file->Create() != 0 || file->Open(0x42) != 0) return;
    for (int id = 1; id <= 20; ++id) {
      rt::WriteInteger(file->Layout().Field(1), file->Record(), id);
      rt::WriteText(file->Layout().Field(2), file->Record(), "doc" + std::to_string(id));
      file->Add();
    }
    file->Close();
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
      auto def = std::make_shared<rt::WindowDef>("BrowseKeys", "LIST", "Browse Keys");
      def->pos = {0, 0, 220, 90};
      def->List("40R(2)|M~Number~C(0)@n-7@80L(2)|M~File Name~L(2)@s20@")
          .At(4, 4, 200, rt::kListHeaderHeight + kRows * rt::kListRowHeight)
          .VScroll();
      rt::Window window(def);
      window.BindList(kList, &queue);
      window.Open();
      WindowController controller;
      controller.MyWindow = &window;
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
      windowId = window.Id();
      window.EventLoop([&] {
        browse.TakeEvent();
        browse.UpdateWindow();
        return 0;
      });
      browse.Kill();
      relations.Kill();
    }
    errors.Kill();
    status.Destroy();
  });
  ASSERT_TRUE(PumpUntil([&] { return windowId.load() != 0; }));
  QTreeWidget* tree = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    auto* list = qobject_cast<gui::QtListControl*>(backend_->ControlWidget(windowId, kList));
    tree = list ? list->Tree() : nullptr;
    return tree && tree->topLevelItemCount() == kRows;
  }));
  auto press = [&](Qt::Key key) {
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(tree, &down);
  };
  auto current = [&] {
    QTreeWidgetItem* item = tree->currentItem();
    return item ? item->text(0).trimmed() : QString();
  };
  // End: the runtime reads the last page and highlights its last row.
  press(Qt::Key_End);
  ASSERT_TRUE(PumpUntil([&] { return current() == "20"; }));
  EXPECT_EQ(tree->topLevelItem(0)->text(0).trimmed(), "15");
  EXPECT_EQ(tree->currentItem(), tree->topLevelItem(kRows - 1));
  // Page up from the bottom keeps the screen row on the page read before it.
  press(Qt::Key_PageUp);
  ASSERT_TRUE(PumpUntil([&] { return current() == "14"; }));
  EXPECT_EQ(tree->topLevelItem(0)->text(0).trimmed(), "9");
  // Up on the first row reads one record above it.
  press(Qt::Key_Home);
  ASSERT_TRUE(PumpUntil([&] { return current() == "1"; }));
  press(Qt::Key_Down);
  ASSERT_TRUE(PumpUntil([&] { return current() == "2"; }));

  rt::PostCloseDown(1);
  EXPECT_TRUE(FinishProgram());
}

}  // namespace
