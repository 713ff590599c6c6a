// SPDX-License-Identifier: GPL-3.0-or-later
// Dropping files from the file manager on the real desktop: a drag of local files is taken
// by the browse's list, anything else is refused; a long import shows its progress in the
// frame's status bar, whose Cancel stops it after the file it is on. And the frame's
// placement as the program reads and sets it.

#include <QDropEvent>
#include <QMainWindow>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "app/BrowseData.h"
#include "app/MainFrame.h"
#include "app/Startup.h"
#include "gui/DesktopTest.h"
#include "gui/qt/QtFrame.h"
#include "gui/qt/QtListControl.h"
#include "gui/qt/QtPdfSurface.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Progress.h"
#include "support/Gate.h"
#include "support/WorkDir.h"

namespace gui_test {
namespace {

namespace fs = std::filesystem;

class DropFilesGuiTest : public DesktopTest {
 protected:
  void SetUp() override {
    work_.emplace("drop-files-gui");
    ASSERT_TRUE(work_->Ok());
    DesktopTest::SetUp();
    gui::InstallPdfSurfaces();
    RegisterApplicationHooks();
  }
  void TearDown() override {
    DesktopTest::TearDown();
    rt::SetProgressStepHook({});
    rt::SetPdfSurfaceFactory({});
    rt::ClearHooks();
    work_.reset();
  }

  // Sends a drag of `data` over the widget and, when it is taken, the drop; returns
  // whether the drag was taken.
  static bool DragAndDrop(QWidget* target, QMimeData& data) {
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
  }

  std::optional<testing_support::WorkDir> work_;
};

TEST_F(DropFilesGuiTest, ALongImportShowsProgressAndCancelKeepsWhatWasStored) {
  constexpr int kFiles = 400;
  QList<QUrl> urls;
  for (int i = 1; i <= kFiles; ++i) {
    const fs::path copy = work_->Path() / ("doc" + std::to_string(i) + ".pdf");
    fs::copy_file(fs::path(TEST_DATA_DIR) / "one-page.pdf", copy);
    urls << QUrl::fromLocalFile(QString::fromStdString(copy.string()));
  }
  StartProgram(ProgramMain);
  ASSERT_TRUE(PumpUntil([&] { return backend_->Frame() != nullptr; }));
  auto* frame = qobject_cast<gui::QtFrame*>(backend_->Frame());
  ASSERT_NE(frame, nullptr);
  ASSERT_TRUE(Settle());
  rt::Post(rt::event::kAccepted, kMainFrameBrowseData, 1);
  gui::QtWindow* browse = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (browse = FindWindow(kBrowseDataCaption)) != nullptr; }));
  ASSERT_TRUE(Settle());
  auto* list = qobject_cast<gui::QtListControl*>(browse->ControlWidget(kBrowseDataList));
  ASSERT_NE(list, nullptr);

  // Text, links to the web and a drop on a button are not taken.
  QMimeData text;
  text.setText("not a file");
  EXPECT_FALSE(DragAndDrop(list, text));
  QMimeData web;
  web.setUrls({QUrl("https://example.org/a.pdf")});
  EXPECT_FALSE(DragAndDrop(list, web));
  QMimeData files;
  files.setUrls(urls);
  EXPECT_FALSE(DragAndDrop(browse->ControlWidget(kBrowseDataInsert), files));

  // The import waits after its second file until the test has cancelled it.
  testing_support::Gate cancelled;
  rt::SetProgressStepHook([&](int done) {
    if (done == 2) cancelled.Wait();
  });
  ASSERT_TRUE(DragAndDrop(list, files));
  QProgressBar* bar = frame->ProgressBar();
  const bool shown = PumpUntil([&] { return bar->isVisible() && bar->value() > 0; });
  if (!shown) cancelled.Open();
  ASSERT_TRUE(shown);
  EXPECT_EQ(bar->maximum(), kFiles);
  EXPECT_TRUE(frame->ProgressCancel()->isVisible());
  if (const char* shot = std::getenv("PAGELET_PROGRESS_SHOT")) frame->grab().save(shot);
  frame->ProgressCancel()->click();
  cancelled.Open();
  QMessageBox* box = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (box = Visible<QMessageBox>()) != nullptr; }));
  const QString summary = box->text();
  EXPECT_TRUE(summary.contains("not tried")) << summary.toStdString();
  box->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(Settle());
  EXPECT_FALSE(bar->isVisible());
  // The rows stored before the cancel are listed, the last of them highlighted.
  const int stored = summary.section(' ', 0, 0).toInt();
  EXPECT_EQ(stored, 2);
  ASSERT_NE(list->Tree()->currentItem(), nullptr);
  EXPECT_EQ(list->Tree()->currentItem()->text(0).trimmed().toInt(), stored);
  rt::Post(rt::event::kCloseWindow, 0, 1);
}

TEST_F(DropFilesGuiTest, TheFramePlacementIsReadAsItWasSet) {
  StartProgram(ProgramMain);
  ASSERT_TRUE(PumpUntil([&] { return backend_->Frame() != nullptr; }));
  ASSERT_TRUE(Settle());
  const int frameId = backend_->Frame() ? static_cast<gui::QtFrame*>(backend_->Frame())->Id() : 0;
  const rt::Placement normal{40, 30, 900, 650, false};
  backend_->PlaceWindow(frameId, normal);
  rt::Placement read;
  ASSERT_TRUE(backend_->WindowPlacement(frameId, read));
  EXPECT_EQ(read, normal);
  backend_->PlaceWindow(frameId, {40, 30, 900, 650, true});
  ASSERT_TRUE(backend_->WindowPlacement(frameId, read));
  EXPECT_TRUE(read.maximized);
  EXPECT_EQ((rt::Rect{read.x, read.y, read.width, read.height}), (rt::Rect{40, 30, 900, 650}));
  EXPECT_FALSE(backend_->ScreenAreas().empty());
  rt::Post(rt::event::kCloseWindow, 0, 1);
}

}  // namespace
}  // namespace gui_test
