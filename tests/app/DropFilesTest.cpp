// SPDX-License-Identifier: GPL-3.0-or-later
// Files dropped from the file manager on a browse, headless: the same DroppedFiles event the
// desktop sends. A PDF is stored byte for byte as a new row and highlighted; a non-PDF and
// an empty file are refused in one message naming both; a cancel midway keeps the rows
// already stored and says how many; drops on controls that take no files send nothing.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "app/BrowseData.h"
#include "app/DocumentImport.h"
#include "app/MainFrame.h"
#include "app/Startup.h"
#include "platform/pdf/PdfSurfaceHeadless.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Progress.h"
#include "support/DemoTable.h"
#include "support/Robot.h"
#include "support/SurfaceRecorder.h"
#include "support/WorkDir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::FileHash;
using testing_support::Robot;
using testing_support::Rows;

class DropFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("drop-files");
    ASSERT_TRUE(work_->Ok());
    rt::ClearHooks();
    backend_ = rt::InstallHeadlessBackend();
    surfaces_.emplace();
    RegisterApplicationHooks();
    program_ = std::thread([] { rt::RunProgram(ProgramMain); });
  }
  void TearDown() override {
    for (int thread : rt::RunningThreads())
      rt::PostCloseDown(thread);
    if (program_.joinable()) program_.join();
    surfaces_.reset();
    rt::ClearHooks();
    work_.reset();
  }

  // A copy of a test file in the working folder (short names the record keeps).
  std::string Copy(const char* from, const std::string& to) const {
    fs::copy_file(fs::path(TEST_DATA_DIR) / from, work_->Path() / to);
    return (work_->Path() / to).string();
  }

  int OpenBrowse(Robot& robot) {
    const int frame = robot.WaitForWindow("Pagelet Demo");
    if (frame == 0 || !robot.WaitIdle() || !robot.ChooseMenu(frame, kMainFrameBrowseData)) return 0;
    const int id = robot.WaitForWindow(kBrowseDataCaption);
    return robot.WaitIdle() ? id : 0;
  }

  std::vector<rt::UiRequest> Messages() const { return testing_support::MessagesOf(*backend_); }

  // The number in the highlighted row of the browse's list (0: none).
  static int Highlighted(Robot& robot, int browse) {
    const auto list = robot.Control(browse, kBrowseDataList);
    if (!list || list->choice < 1 || list->choice > static_cast<int>(list->rows.size())) return 0;
    return std::stoi(list->rows[static_cast<std::size_t>(list->choice - 1)][0]);
  }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  std::optional<testing_support::SurfaceRecorder> surfaces_;
  std::thread program_;
};

TEST_F(DropFilesTest, APdfIsStoredAndTheOthersAreRefusedInOneMessage) {
  const std::string pdf = Copy("two-pages.pdf", "report.pdf");
  const std::string notPdf = Copy("not-a-pdf.pdf", "notes.pdf");
  const std::string empty = Copy("empty.pdf", "blank.pdf");
  Robot robot(backend_);
  const int browse = OpenBrowse(robot);
  ASSERT_NE(browse, 0);
  // Only the list and the document view take files, and only files.
  EXPECT_FALSE(robot.DropFiles(browse, kBrowseDataInsert, {pdf}));
  EXPECT_FALSE(robot.DropFiles(browse, kBrowseDataList, {}));
  ASSERT_TRUE(robot.DropFiles(browse, kBrowseDataList, {notPdf, pdf, empty}));
  ASSERT_TRUE(robot.WaitIdle());

  EXPECT_EQ(testing_support::DemoTable(), (Rows{{1, {pdf, FileHash(pdf)}}}));
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  const std::string& text = messages[0].text;
  EXPECT_NE(text.find("1 file of 3 stored"), std::string::npos) << text;
  EXPECT_NE(text.find(notPdf + ": Not a PDF document"), std::string::npos) << text;
  EXPECT_NE(text.find(empty + ": The file is empty"), std::string::npos) << text;
  EXPECT_EQ(text.find(pdf + ":"), std::string::npos) << text;
  // The new row is highlighted and shown.
  EXPECT_EQ(Highlighted(robot, browse), 1);
  const auto engine = surfaces_->Engine(browse, kBrowseDataRegion);
  EXPECT_EQ(engine ? engine->PageCount() : -1, 2);
  // The progress ran over the three files and is gone.
  const auto history = backend_->ProgressHistory();
  ASSERT_GE(history.size(), 2u);
  EXPECT_EQ(history.front().total, 3);
  EXPECT_EQ(history.back().id, 0);

  // A drop on the document view stores all-good files without a message.
  const std::string second = Copy("one-page.pdf", "memo.pdf");
  ASSERT_TRUE(robot.DropFiles(browse, kBrowseDataRegion, {second}));
  ASSERT_TRUE(robot.WaitIdle());
  EXPECT_EQ(testing_support::DemoTable(),
            (Rows{{1, {pdf, FileHash(pdf)}}, {2, {second, FileHash(second)}}}));
  EXPECT_EQ(Highlighted(robot, browse), 2);
  EXPECT_EQ(Messages().size(), 1u);
}

TEST_F(DropFilesTest, CancelMidwayKeepsTheRowsStoredAndSaysHowMany) {
  std::vector<std::string> files;
  for (int i = 1; i <= 5; ++i)
    files.push_back(Copy("one-page.pdf", "part" + std::to_string(i) + ".pdf"));
  // The user presses Cancel once two files are stored: the import stops after the one it
  // is on.
  std::atomic<bool> asked{false};
  backend_->OnProgress([&asked](const rt::ProgressState& state) {
    if (state.id != 0 && state.done == 2 && !asked.exchange(true)) rt::CancelProgress(state.id);
  });
  Robot robot(backend_);
  const int browse = OpenBrowse(robot);
  ASSERT_NE(browse, 0);
  ASSERT_TRUE(robot.DropFiles(browse, kBrowseDataList, files));
  ASSERT_TRUE(robot.WaitIdle());
  backend_->OnProgress({});

  EXPECT_EQ(testing_support::DemoTable(),
            (Rows{{1, {files[0], FileHash(files[0])}}, {2, {files[1], FileHash(files[1])}}}));
  const auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].text.find("2 files of 5 stored"), std::string::npos) << messages[0].text;
  EXPECT_NE(messages[0].text.find("3 files not tried"), std::string::npos) << messages[0].text;
  EXPECT_FALSE(rt::ShownProgress().has_value());
}

}  // namespace
