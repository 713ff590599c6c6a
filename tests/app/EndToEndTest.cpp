// SPDX-License-Identifier: GPL-3.0-or-later
// The program as a user meets it, headless: the frame starts the browse, documents are
// added, changed, deleted and viewed, and the table and its stored bytes are checked after
// every step. Further scenarios run two browses on two threads side by side, and a second
// instance of the program (another process) working on the same table, a local file or a
// table on the test run's database server.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "OtherInstance.h"
#include "app/BrowseData.h"
#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/Globals.h"
#include "app/MainFrame.h"
#include "app/Startup.h"
#include "app/UpdateData.h"
#include "framework/window/RequestCodes.h"
#include "platform/pdf/PdfEngine.h"
#include "platform/pdf/PdfSurfaceHeadless.h"
#include "platform/pgstore/PgStore.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/store/Store.h"
#include "support/DemoTable.h"
#include "support/OtherProcess.h"
#include "support/PgServer.h"
#include "support/Robot.h"
#include "support/SurfaceRecorder.h"
#include "support/TestDriver.h"
#include "support/WorkDir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::Robot;

using testing_support::FileHash;
using testing_support::Rows;

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("end-to-end");
    ASSERT_TRUE(work_->Ok());
    rt::ClearHooks();
    backend_ = rt::InstallHeadlessBackend();
    surfaces_.emplace();
    RegisterApplicationHooks();
    fs::copy_file(fs::path(TEST_DATA_DIR) / "one-page.pdf", work_->Path() / "one.pdf");
    fs::copy_file(fs::path(TEST_DATA_DIR) / "two-pages.pdf", work_->Path() / "two.pdf");
    if (onServer_) {
      std::string why;
      const testing_support::PgServer* server = testing_support::PgServer::Shared(&why);
      if (!server) GTEST_SKIP() << "no database server for the tests: " << why;
      ASSERT_TRUE(server->Clear());
      // This instance finds the table's section at start-up; the other one is told directly.
      std::ofstream("PageletDemo.INI", std::ios::binary)
          << "[Table]\r\nDriver=PGSTORE\r\nConnection=" << server->Conninfo() << "\r\n";
      rt::RegisterPgDriver(server->Conninfo());
      ChooseDemoDataDriver(rt::kPgDriverName);
    }
    // Forked before this instance starts its threads.
    if (secondInstance_)
      other_.emplace(testing_support::OtherInstanceCommand, testing_support::AsOtherProgram);
    program_ = std::thread([] { rt::RunProgram(ProgramMain); });
  }
  void TearDown() override {
    for (int thread : rt::RunningThreads())
      rt::PostCloseDown(thread);
    if (program_.joinable()) program_.join();
    if (onServer_) ChooseDemoDataDriver(testing_support::TestDriver());
    surfaces_.reset();
    rt::ClearHooks();
    work_.reset();
  }

  fs::path File(const char* name) const { return work_->Path() / name; }

  static Rows Table() { return testing_support::DemoTable(); }

  // Opens a browse from the frame's menu; returns its window.
  int OpenBrowse(Robot& robot, int frame) {
    const int before = robot.CountWindows(kBrowseDataCaption);
    if (!robot.ChooseMenu(frame, kMainFrameBrowseData)) return 0;
    for (int i = 0; i < 200 && robot.CountWindows(kBrowseDataCaption) == before; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int id = robot.WaitForWindow(kBrowseDataCaption);
    return robot.WaitIdle() ? id : 0;
  }

  // Runs the form on the browse's thread for `request` as the browse's update buttons do:
  // a new record is primed for an insert, the highlighted row (its number is in the record
  // buffer) is read again for the others.
  static void FormOnBrowseThread(Robot& robot, int browse, std::uint8_t request,
                                 std::atomic<std::uint8_t>* response = nullptr) {
    rt::PostTask(robot.Window(browse)->thread, [request, response] {
      if (request == InsertRecord)
        static_cast<void>(DemoDataFileManagerRef()->PrepareRecord());
      else
        static_cast<void>(DemoData().Get(DemoDataIdKey()));
      GlobalRequest() = request;
      UpdateData();
      if (response) *response = GlobalResponse();
    });
  }

  // Picks `file` in the form now open under `caption` and confirms it.
  static void PickAndSave(Robot& robot, const char* caption, const fs::path& file) {
    const int form = robot.WaitForWindow(caption);
    ASSERT_NE(form, 0) << caption;
    ASSERT_TRUE(robot.WaitIdle());
    robot.AnswerFile(file.string());
    ASSERT_TRUE(robot.Press(form, kUpdateDataLookup));
    ASSERT_TRUE(robot.Press(form, kUpdateDataOk));
    ASSERT_TRUE(robot.WaitClosed(form));
    ASSERT_TRUE(robot.WaitIdle());
  }

  // Pages of the document a window's view control shows, by default the browse's preview
  // (-1 when there is none).
  int PreviewPages(int window, int region = kBrowseDataRegion) {
    const auto engine = surfaces_->Engine(window, region);
    return engine ? engine->PageCount() : -1;
  }

  std::vector<std::string> Captions() const { return testing_support::CaptionsOf(*backend_); }

  std::vector<std::string> QuickViews() {
    std::vector<std::string> captions;
    surfaces_->Visit([&](rt::PdfSurfaceHeadless& surface, const auto&) {
      for (const auto& shown : surface.ShownFiles())
        captions.push_back(shown.caption);
    });
    return captions;
  }

  // Waits (10 s at most) until a browse's list shows `rows` rows.
  static bool WaitForRows(Robot& robot, int browse, std::size_t rows) {
    for (int i = 0; i < 500; ++i) {
      if (!robot.WaitIdle()) return false;
      if (robot.Control(browse, kBrowseDataList)->rows.size() == rows) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  bool secondInstance_ = false;
  bool onServer_ = false;  // the table is on the test run's database server
  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  std::optional<testing_support::SurfaceRecorder> surfaces_;
  std::optional<testing_support::OtherProcess> other_;
  std::thread program_;
};

class TwoInstancesTest : public EndToEndTest {
 protected:
  TwoInstancesTest() { secondInstance_ = true; }
};

class TwoInstancesOnServerTest : public EndToEndTest {
 protected:
  TwoInstancesOnServerTest() { secondInstance_ = onServer_ = true; }
};

TEST_F(EndToEndTest, DocumentsAddedChangedDeletedAndViewedThroughTheBrowse) {
  Robot robot(backend_);
  const int frame = robot.WaitForWindow("Pagelet Demo");
  ASSERT_NE(frame, 0);
  ASSERT_TRUE(robot.WaitIdle());
  int browse = OpenBrowse(robot, frame);
  ASSERT_NE(browse, 0);
  EXPECT_TRUE(robot.Control(browse, kBrowseDataList)->rows.empty());
  EXPECT_NE(robot.Window(browse)->thread, 1);

  const std::string one = File("one.pdf").string();
  const std::string two = File("two.pdf").string();
  ASSERT_TRUE(robot.Press(browse, kBrowseDataInsert));
  PickAndSave(robot, "Record Will Be Added", File("one.pdf"));
  EXPECT_EQ(Table(), (Rows{{1, {one, FileHash(one)}}}));
  ASSERT_TRUE(robot.Press(browse, kBrowseDataInsert));
  PickAndSave(robot, "Record Will Be Added", File("two.pdf"));
  EXPECT_EQ(Table(), (Rows{{1, {one, FileHash(one)}}, {2, {two, FileHash(two)}}}));
  // The browse refreshed after each insert and highlights the new row.
  EXPECT_EQ(robot.Control(browse, kBrowseDataList)->rows.size(), 2u);

  // A fresh browse lists both rows, and its preview follows the highlight.
  ASSERT_TRUE(robot.Press(browse, kBrowseDataClose));
  ASSERT_TRUE(robot.WaitClosed(browse));
  browse = OpenBrowse(robot, frame);
  ASSERT_NE(browse, 0);
  auto rows = robot.Control(browse, kBrowseDataList)->rows;
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rt::ClipText(rows[1][1]), two);
  EXPECT_EQ(PreviewPages(browse), 1);
  ASSERT_TRUE(robot.PickRow(browse, kBrowseDataList, 2));
  ASSERT_TRUE(robot.WaitIdle());
  EXPECT_EQ(PreviewPages(browse), 2);

  // Change the highlighted row 2 to the one-page file.
  ASSERT_TRUE(robot.Press(browse, kBrowseDataChange));
  const int form = robot.WaitForWindow("Record Will Be Changed");
  ASSERT_NE(form, 0);
  ASSERT_TRUE(robot.WaitIdle());
  EXPECT_EQ(std::stoi(robot.ScreenText(form, kUpdateDataId)), 2);
  PickAndSave(robot, "Record Will Be Changed", File("one.pdf"));
  EXPECT_EQ(Table(), (Rows{{1, {one, FileHash(one)}}, {2, {one, FileHash(one)}}}));

  // Delete row 1.
  ASSERT_TRUE(robot.PickRow(browse, kBrowseDataList, 1));
  ASSERT_TRUE(robot.WaitIdle());
  robot.Answer(rt::kButtonYes);
  ASSERT_TRUE(robot.Press(browse, kBrowseDataDelete));
  ASSERT_TRUE(robot.WaitIdle());
  EXPECT_EQ(Table(), (Rows{{2, {one, FileHash(one)}}}));
  EXPECT_EQ(robot.Control(browse, kBrowseDataList)->rows.size(), 1u);

  // Quick View opens the highlighted row's file in a viewer of its own.
  ASSERT_TRUE(robot.PickRow(browse, kBrowseDataList, 1));
  ASSERT_TRUE(robot.WaitIdle());
  ASSERT_TRUE(robot.Press(browse, kBrowseDataQuickView));
  ASSERT_TRUE(robot.WaitIdle());
  EXPECT_EQ(QuickViews(), std::vector<std::string>{one});
  EXPECT_EQ(testing_support::MessagesOf(*backend_).size(), 1u);  // only the delete's question

  ASSERT_TRUE(robot.CloseWindow(frame));
  EXPECT_TRUE(robot.WaitClosed(frame));
}

TEST_F(EndToEndTest, TwoBrowsesOnTwoThreadsMoveIndependently) {
  Robot robot(backend_);
  const int frame = robot.WaitForWindow("Pagelet Demo");
  ASSERT_TRUE(robot.WaitIdle());
  int first = OpenBrowse(robot, frame);
  ASSERT_NE(first, 0);
  for (const char* name : {"one.pdf", "two.pdf", "one.pdf"}) {
    FormOnBrowseThread(robot, first, InsertRecord);
    PickAndSave(robot, "Record Will Be Added", File(name));
  }
  ASSERT_TRUE(robot.Press(first, kBrowseDataClose));
  ASSERT_TRUE(robot.WaitClosed(first));

  first = OpenBrowse(robot, frame);
  const int second = OpenBrowse(robot, frame);
  ASSERT_NE(first, 0);
  ASSERT_NE(second, 0);
  ASSERT_NE(first, second);
  EXPECT_NE(robot.Window(first)->thread, robot.Window(second)->thread);
  ASSERT_TRUE(robot.PickRow(first, kBrowseDataList, 2));
  ASSERT_TRUE(robot.PickRow(second, kBrowseDataList, 3));
  ASSERT_TRUE(robot.WaitIdle());
  EXPECT_EQ(robot.Control(first, kBrowseDataList)->choice, 2);
  EXPECT_EQ(robot.Control(second, kBrowseDataList)->choice, 3);
  EXPECT_EQ(PreviewPages(first), 2);
  EXPECT_EQ(PreviewPages(second), 1);
  EXPECT_EQ(Table().size(), 3u);

  ASSERT_TRUE(robot.CloseWindow(frame));
  EXPECT_TRUE(robot.WaitClosed(frame));
}

// Closing the frame closes the browses first. A form kept open (the user declines to lose
// its changes) keeps the frame open too; once the form is done the frame closes.
TEST_F(EndToEndTest, ClosingTheFrameWaitsForAFormKeptOpen) {
  Robot robot(backend_);
  const int frame = robot.WaitForWindow("Pagelet Demo");
  ASSERT_TRUE(robot.WaitIdle());
  const int browse = OpenBrowse(robot, frame);
  ASSERT_NE(browse, 0);
  ASSERT_TRUE(robot.Press(browse, kBrowseDataInsert));
  const int form = robot.WaitForWindow("Record Will Be Added");
  ASSERT_NE(form, 0);
  ASSERT_TRUE(robot.WaitIdle());
  robot.AnswerFile(File("one.pdf").string());
  ASSERT_TRUE(robot.Press(form, kUpdateDataLookup));
  ASSERT_TRUE(robot.WaitIdle());
  robot.Answer(rt::kButtonNo);  // "Changes will be lost!": no
  ASSERT_TRUE(robot.ChooseMenu(frame, "E&xit"));
  ASSERT_TRUE(robot.WaitIdle());
  EXPECT_TRUE(robot.Window(frame));
  EXPECT_TRUE(robot.Window(form));
  ASSERT_TRUE(robot.Press(form, kUpdateDataOk));
  EXPECT_TRUE(robot.WaitClosed(browse));
  EXPECT_TRUE(robot.WaitClosed(frame));
  program_.join();
  int asked = 0;
  for (const rt::UiRequest& m : testing_support::MessagesOf(*backend_))
    asked += m.caption == "Changes will be lost!";
  EXPECT_EQ(asked, 1);
}

// The other instance deletes the row this one's insert form added when it opened. Cancel
// closes the form, OK offers to add the record again, and Exit still ends the program.
TEST_F(TwoInstancesTest, AnInsertFormWhoseRowIsDeletedElsewhereAlwaysCloses) {
  Robot robot(backend_);
  const int frame = robot.WaitForWindow("Pagelet Demo");
  ASSERT_TRUE(robot.WaitIdle());
  const int browse = OpenBrowse(robot, frame);
  ASSERT_NE(browse, 0);
  auto openInsert = [&] {
    if (!robot.Press(browse, kBrowseDataInsert)) return 0;
    const int form = robot.WaitForWindow("Record Will Be Added");
    return robot.WaitIdle() ? form : 0;
  };

  int form = openInsert();
  ASSERT_NE(form, 0);
  ASSERT_TRUE(other_->Do("delete 1"));
  ASSERT_TRUE(robot.Press(form, kUpdateDataCancel));
  ASSERT_TRUE(robot.WaitClosed(form));
  EXPECT_TRUE(Captions().empty());
  EXPECT_TRUE(Table().empty());

  form = openInsert();
  ASSERT_NE(form, 0);
  robot.AnswerFile(File("one.pdf").string());
  ASSERT_TRUE(robot.Press(form, kUpdateDataLookup));
  ASSERT_TRUE(other_->Do("delete 1"));
  robot.Answer(rt::kButtonOk);   // told it is gone
  robot.Answer(rt::kButtonYes);  // added again
  ASSERT_TRUE(robot.Press(form, kUpdateDataOk));
  ASSERT_TRUE(robot.WaitClosed(form));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Record Retrieval Error", "Add New Record?"}));
  const std::string one = File("one.pdf").string();
  EXPECT_EQ(Table(), (Rows{{1, {one, FileHash(one)}}}));

  form = openInsert();
  ASSERT_NE(form, 0);
  ASSERT_TRUE(other_->Do("delete 2"));
  ASSERT_TRUE(robot.ChooseMenu(frame, "E&xit"));
  EXPECT_TRUE(robot.WaitClosed(form));
  EXPECT_TRUE(robot.WaitClosed(frame));
  program_.join();
  EXPECT_EQ(Captions().size(), 2u);  // closed without a word
}

// Both instances change row 1 and pick a new file; the other saves first. This one's OK
// meets the other's change: it is said so, and the form shows the other's file name and
// document; recalled, its own choice is then saved.
TEST_F(TwoInstancesTest, BothChangeARowAndTheLaterSaveShowsTheOtherVersion) {
  Robot robot(backend_);
  const int frame = robot.WaitForWindow("Pagelet Demo");
  ASSERT_TRUE(robot.WaitIdle());
  const int browse = OpenBrowse(robot, frame);
  ASSERT_NE(browse, 0);
  ASSERT_TRUE(robot.Press(browse, kBrowseDataInsert));
  PickAndSave(robot, "Record Will Be Added", File("one.pdf"));
  fs::copy_file(File("one.pdf"), File("theirs.pdf"));

  ASSERT_TRUE(robot.Press(browse, kBrowseDataChange));
  const int form = robot.WaitForWindow("Record Will Be Changed");
  ASSERT_NE(form, 0);
  ASSERT_TRUE(robot.WaitIdle());
  const std::string mine = File("two.pdf").string();
  const std::string theirs = File("theirs.pdf").string();
  robot.AnswerFile(mine);
  ASSERT_TRUE(robot.Press(form, kUpdateDataLookup));
  ASSERT_TRUE(robot.WaitIdle());
  EXPECT_EQ(PreviewPages(form, kUpdateDataRegion), 2);
  ASSERT_TRUE(other_->Do("store 1 " + theirs));

  ASSERT_TRUE(robot.Press(form, kUpdateDataOk));
  ASSERT_TRUE(robot.WaitIdle());
  const auto messages = testing_support::MessagesOf(*backend_);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Record Was Not Updated");
  EXPECT_NE(messages[0].text.find("Those changes will now be displayed"), std::string::npos);
  ASSERT_TRUE(robot.Window(form));
  EXPECT_EQ(rt::ClipText(robot.ScreenText(form, kUpdateDataFileName)), theirs);
  EXPECT_EQ(PreviewPages(form, kUpdateDataRegion), 1);
  EXPECT_EQ(Table(), (Rows{{1, {theirs, FileHash(theirs)}}}));

  ASSERT_TRUE(robot.SendKey(form, kUpdateDataFileName, rt::key::kCtrlH));
  ASSERT_TRUE(robot.WaitIdle());
  EXPECT_EQ(rt::ClipText(robot.ScreenText(form, kUpdateDataFileName)), mine);
  ASSERT_TRUE(robot.Press(form, kUpdateDataOk));
  EXPECT_TRUE(robot.WaitClosed(form));
  EXPECT_EQ(testing_support::MessagesOf(*backend_).size(), 1u);
  EXPECT_EQ(Table(), (Rows{{1, {mine, FileHash(mine)}}}));
}

}  // namespace

namespace {

// Two instances on one table on the server: what the other adds shows in this one's open
// browse by itself (the server tells every listening client), at the other rows' places and
// keeping the highlight; this one's own insert is not counted twice.
TEST_F(TwoInstancesOnServerTest, AnotherInstancesInsertsShowInTheOpenBrowse) {
  Robot robot(backend_);
  const int frame = robot.WaitForWindow("Pagelet Demo");
  ASSERT_NE(frame, 0);
  ASSERT_TRUE(robot.WaitIdle());
  const int browse = OpenBrowse(robot, frame);
  ASSERT_NE(browse, 0);
  EXPECT_TRUE(robot.Control(browse, kBrowseDataList)->rows.empty());

  const std::string one = File("one.pdf").string();
  const std::string two = File("two.pdf").string();
  ASSERT_TRUE(other_->Do("add " + one));
  ASSERT_TRUE(WaitForRows(robot, browse, 1));
  ASSERT_TRUE(robot.Press(browse, kBrowseDataInsert));
  PickAndSave(robot, "Record Will Be Added", File("two.pdf"));
  ASSERT_TRUE(WaitForRows(robot, browse, 2));
  EXPECT_EQ(robot.Control(browse, kBrowseDataList)->choice, 2);
  ASSERT_TRUE(other_->Do("add " + two));
  ASSERT_TRUE(WaitForRows(robot, browse, 3));
  const auto rows = robot.Control(browse, kBrowseDataList)->rows;
  EXPECT_EQ(rt::ClipText(rows[0][1]), one);
  EXPECT_EQ(rt::ClipText(rows[1][1]), two);
  EXPECT_EQ(rt::ClipText(rows[2][1]), two);
  EXPECT_EQ(robot.Control(browse, kBrowseDataList)->choice, 2);
  EXPECT_TRUE(Captions().empty());
}

}  // namespace
