// SPDX-License-Identifier: GPL-3.0-or-later
// The document browse on the real desktop: the stored rows in the list and the highlighted
// row's document rendered beside it, following the highlight.

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <optional>

#include "app/BrowseData.h"
#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/LoadBlobFromFile.h"
#include "app/Startup.h"
#include "app/UpdateData.h"
#include "framework/error/ErrorHooks.h"
#include "gui/DesktopTest.h"
#include "gui/qt/QtListControl.h"
#include "gui/qt/QtPdfSurface.h"
#include "gui/qt/QtPdfView.h"
#include "support/WorkDir.h"

namespace gui_test {
namespace {

namespace fs = std::filesystem;

class BrowseDataGuiTest : public DesktopTest {
 protected:
  void SetUp() override {
    work_.emplace("browse-data-gui");
    ASSERT_TRUE(work_->Ok());
    DesktopTest::SetUp();
    gui::InstallPdfSurfaces();
    RegisterApplicationHooks();
  }
  void TearDown() override {
    DesktopTest::TearDown();
    rt::SetPdfSurfaceFactory({});
    rt::ClearHooks();
    work_.reset();
  }
  std::optional<testing_support::WorkDir> work_;
};

TEST_F(BrowseDataGuiTest, ListShowsTheRowsAndThePreviewFollowsTheHighlight) {
  const std::vector<std::string> files = {(fs::path(TEST_DATA_DIR) / "two-pages.pdf").string(),
                                          (fs::path(TEST_DATA_DIR) / "one-page.pdf").string()};
  StartProgram([files] {
    StartGlobalErrors();
    CreateDemoDataManagers();
    rt::Start([files](const std::vector<std::string>&) {
      static_cast<void>(DemoDataRelationManagerRef()->Open());
      for (const std::string& file : files) {
        static_cast<void>(DemoDataFileManagerRef()->PrepareRecord());
        SetDemoDataFileName(file);
        static_cast<void>(LoadBlobFromFile(DemoData(), kDemoDataBlob, file));
        static_cast<void>(DemoDataRelationManagerRef()->Insert());
      }
      static_cast<void>(DemoDataRelationManagerRef()->Close());
      BrowseData();
    });
    rt::JoinAllThreads();
  });
  gui::QtWindow* window = nullptr;
  QTreeWidget* tree = nullptr;
  gui::QtPdfView* view = nullptr;
  ASSERT_TRUE(PumpUntil([&] {
    window = FindWindow(kBrowseDataCaption);
    if (!window) return false;
    auto* list = qobject_cast<gui::QtListControl*>(window->ControlWidget(kBrowseDataList));
    tree = list ? list->Tree() : nullptr;
    view = window->findChild<gui::QtPdfView*>();
    return tree && tree->topLevelItemCount() == 2 && view && view->PageCount() == 2;
  }));
  EXPECT_EQ(tree->headerItem()->text(0), "ID");
  EXPECT_EQ(tree->headerItem()->text(1), "File Name");
  EXPECT_EQ(tree->topLevelItem(1)->text(1).trimmed().toStdString(), files[1]);
  EXPECT_TRUE(view->isVisible());
  ASSERT_TRUE(PumpUntil([&] { return view->HasRenderedPage(0); }));
  auto settle = [] { PumpUntil([] { return false; }, 500); };
  settle();
  // A move of the highlight keeps the old page until the new document's page replaces it,
  // in one paint.
  const gui::QtPdfView::PaintStats before = view->Stats();
  tree->setFocus();
  QTest::keyClick(tree, Qt::Key_Down);
  EXPECT_TRUE(PumpUntil([&] { return view->PageCount() == 1 && view->HasRenderedPage(0); }));
  settle();
  const gui::QtPdfView::PaintStats moved = view->Stats();
  EXPECT_EQ(moved.paints - before.paints, 1);
  EXPECT_EQ(moved.blankPaints, before.blankPaints);
  EXPECT_EQ(moved.missingPages, before.missingPages);
  // Keys that leave the highlight where it is (already on the last row) reload nothing.
  QTest::keyClick(tree, Qt::Key_Down);
  QTest::keyClick(tree, Qt::Key_End);
  settle();
  EXPECT_EQ(view->Stats().frames, moved.frames);
  EXPECT_EQ(view->Stats().paints, moved.paints);
  for (int thread : rt::RunningThreads())
    rt::PostCloseDown(thread);
  EXPECT_TRUE(FinishProgram());
}

// Insert opens the form with the keyboard in its first entry, so that typing goes there.
TEST_F(BrowseDataGuiTest, InsertOpensTheFormWithTheKeyboardInItsFirstEntry) {
  StartProgram([] {
    StartGlobalErrors();
    CreateDemoDataManagers();
    rt::Start([](const std::vector<std::string>&) { BrowseData(); });
    rt::JoinAllThreads();
  });
  gui::QtWindow* browse = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (browse = FindWindow(kBrowseDataCaption)) != nullptr; }));
  auto* insert = qobject_cast<QPushButton*>(browse->ControlWidget(kBrowseDataInsert));
  ASSERT_NE(insert, nullptr);
  ASSERT_TRUE(PumpUntil([&] { return insert->isEnabled(); }));
  insert->click();
  gui::QtWindow* form = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (form = FindWindow("Record Will Be Added")) != nullptr; }));
  QWidget* entry = form->ControlWidget(kUpdateDataId);
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(PumpUntil([&] { return QApplication::focusWidget() == entry; }));
  for (int thread : rt::RunningThreads())
    rt::PostCloseDown(thread);
  EXPECT_TRUE(FinishProgram());
}

}  // namespace
}  // namespace gui_test
