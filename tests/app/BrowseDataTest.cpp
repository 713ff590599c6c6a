// SPDX-License-Identifier: GPL-3.0-or-later
// The browse run directly on a runtime thread over a seeded table: what Close answers, what
// the preview shows for a row whose file is gone, and a burst of highlight moves loading
// only the last row's document.

#include "app/BrowseData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>

#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/Globals.h"
#include "app/LoadBlobFromFile.h"
#include "app/Startup.h"
#include "framework/error/ErrorHooks.h"
#include "framework/window/RequestCodes.h"
#include "platform/pdf/PdfEngine.h"
#include "platform/pdf/PdfSurfaceHeadless.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "support/Robot.h"
#include "support/SurfaceRecorder.h"
#include "support/WorkDir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Robot;

class BrowseDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("browse-data");
    ASSERT_TRUE(work_->Ok());
    rt::ClearHooks();
    backend_ = rt::InstallHeadlessBackend();
    preview_.emplace();
    RegisterApplicationHooks();
  }
  void TearDown() override {
    preview_.reset();
    rt::ClearHooks();
    work_.reset();
  }

  // Adds rows with these file names, each holding the bytes of `stored`, then runs the browse
  // with `request` while `drive` acts. Returns the browse's response.
  std::uint8_t Browse(const std::vector<std::string>& names, std::uint8_t request,
                      const std::function<void(Robot&, int)>& drive) {
    std::uint8_t response = 0;
    const std::string stored = (fs::path(TEST_DATA_DIR) / "two-pages.pdf").string();
    rt::RunProgram([&] {
      StartGlobalErrors();
      CreateDemoDataManagers();
      rt::Start([&](const std::vector<std::string>&) {
        DemoDataRelationManager* relations = DemoDataRelationManagerRef();
        static_cast<void>(relations->Open());
        for (const std::string& name : names) {
          static_cast<void>(DemoDataFileManagerRef()->PrepareRecord());
          SetDemoDataFileName(name);
          static_cast<void>(LoadBlobFromFile(DemoData(), kDemoDataBlob, stored));
          static_cast<void>(relations->Insert());
        }
        static_cast<void>(relations->Close());
        GlobalRequest() = request;
        BrowseData();
        response = GlobalResponse();
      });
      Robot robot(backend_);
      const int id = robot.WaitForWindow(kBrowseDataCaption);
      EXPECT_NE(id, 0);
      if (id != 0 && robot.WaitIdle()) {
        drive(robot, id);
        if (robot.Window(id)) robot.Press(id, kBrowseDataClose);
        EXPECT_TRUE(robot.WaitClosed(id));
      }
      rt::JoinAllThreads();
    });
    return response;
  }

  int Pages() {
    const auto engine = preview_->Engine(0, kBrowseDataRegion);
    return engine ? engine->PageCount() : -1;
  }
  std::string ErrorText() {
    std::string text = "no preview";
    preview_->Visit([&](rt::PdfSurfaceHeadless& surface, const auto&) {
      if (surface.Control() == kBrowseDataRegion) text = surface.ErrorText();
    });
    return text;
  }
  int DocumentRefreshes() {
    int count = -1;
    preview_->Visit([&](rt::PdfSurfaceHeadless& surface, const auto&) {
      if (surface.Control() == kBrowseDataRegion) count = surface.DocumentRefreshCount();
    });
    return count;
  }

  std::string Data(const char* name) const { return (fs::path(TEST_DATA_DIR) / name).string(); }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  std::optional<testing_support::SurfaceRecorder> preview_;
};

TEST_F(BrowseDataTest, CloseAnswersCancelledOnlyWhenSelecting) {
  EXPECT_EQ(Browse({}, SelectRecord, [](Robot&, int) {}), RequestCancelled);
  EXPECT_EQ(Browse({}, 0, [](Robot&, int) {}), RequestCompleted);
}

TEST_F(BrowseDataTest, RowsWithoutAUsableFileShowTheFailureNotTheStoredBytes) {
  const std::string gone = (work_->Path() / "gone.pdf").string();
  Browse({Data("one-page.pdf"), gone, ""}, 0, [&](Robot& robot, int browse) {
    EXPECT_EQ(Pages(), 1);
    EXPECT_TRUE(ErrorText().empty()) << ErrorText();
    ASSERT_TRUE(robot.PickRow(browse, kBrowseDataList, 2));
    ASSERT_TRUE(robot.WaitIdle());
    // The BLOB holds a good two-page document, yet the view reports the missing file.
    EXPECT_EQ(Pages(), 0);
    EXPECT_FALSE(ErrorText().empty());
    ASSERT_TRUE(robot.PickRow(browse, kBrowseDataList, 1));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_EQ(Pages(), 1);
    // A row stored without a name: an empty view, and no file dialog.
    ASSERT_TRUE(robot.PickRow(browse, kBrowseDataList, 3));
    ASSERT_TRUE(robot.WaitIdle());
    EXPECT_EQ(Pages(), 0);
  });
  EXPECT_TRUE(testing_support::MessagesOf(*backend_).empty());
  for (const auto& request : backend_->Transcript())
    EXPECT_NE(request.kind, "file");
}

TEST_F(BrowseDataTest, BurstOfHighlightMovesLoadsOnlyTheLastRow) {
  Browse({Data("one-page.pdf"), Data("two-pages.pdf"), Data("one-page.pdf"), Data("two-pages.pdf")},
         0, [&](Robot& robot, int browse) {
           const int thread = robot.Window(browse)->thread;
           int before = DocumentRefreshes();
           ASSERT_TRUE(robot.PickRow(browse, kBrowseDataList, 2));
           ASSERT_TRUE(robot.WaitIdle());
           const int onePick = DocumentRefreshes() - before;
           ASSERT_GT(onePick, 0);
           // Hold the browse's thread while three moves queue up behind it.
           std::promise<void> release;
           std::shared_future<void> released = release.get_future().share();
           rt::PostTask(thread, [released] { released.wait(); });
           before = DocumentRefreshes();
           for (int row : {3, 1, 4})
             ASSERT_TRUE(robot.PickRow(browse, kBrowseDataList, row));
           release.set_value();
           ASSERT_TRUE(robot.WaitIdle());
           EXPECT_EQ(DocumentRefreshes() - before, onePick);
           EXPECT_EQ(robot.Control(browse, kBrowseDataList)->choice, 4);
           EXPECT_EQ(Pages(), 2);
         });
}

}  // namespace
