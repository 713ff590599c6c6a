// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <thread>

#include "app/Globals.h"
#include "app/MainFrame.h"
#include "app/Startup.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "support/Robot.h"

namespace {

using testing_support::Robot;

// Runs the whole program on its own thread (it becomes runtime thread 1) while the test
// acts as the user.
class MainFrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::ClearHooks();
    backend_ = rt::InstallHeadlessBackend();
    RegisterApplicationHooks();
    program_ = std::thread([] { rt::RunProgram(ProgramMain); });
  }
  void TearDown() override {
    // A test that stopped early leaves the frame open: close every window so the program ends.
    for (int thread : rt::RunningThreads())
      rt::PostCloseDown(thread);
    if (program_.joinable()) program_.join();
    rt::ClearHooks();
  }
  std::shared_ptr<rt::HeadlessBackend> backend_;
  std::thread program_;
};

TEST_F(MainFrameTest, FrameShowsItsMenuAndEndsTheProgramOnExit) {
  Robot robot(backend_);
  const int frame = robot.WaitForWindow("Pagelet Demo");
  ASSERT_NE(frame, 0);
  auto view = robot.Window(frame);
  EXPECT_EQ(view->kind, rt::WindowKind::Frame);
  EXPECT_EQ(view->icon, "WAFRAME.ICO");
  EXPECT_EQ(view->module + "$" + view->name, "PageletDemo$PageletDemo001$P8$APPFRAME");
  struct Expected {
    int number;
    const char* text;
    const char* tip;
  };
  const Expected items[] = {
      {-2, "&File", ""},
      {-3, "&Print Setup ...", "Setup printer"},
      {-4, "", ""},
      {-5, "E&xit", "Exit this application"},
      {-6, "&Edit", ""},
      {-7, "Cu&t", "Remove item to Windows Clipboard"},
      {-8, "&Copy", "Copy item to Windows Clipboard"},
      {-9, "&Paste", "Paste contents of Windows Clipboard"},
      {-10, "&View Demo", ""},
      {kMainFrameBrowseData, "&Browse Data", ""},
      {kMainFrameSearchDocuments, "Search &Documents...",
       "Find stored documents by the words they hold"},
      {-13, "&Window", ""},
      {-14, "T&ile", "Make all open windows visible"},
      {-15, "&Cascade", "Stack all open windows"},
      {-16, "&Arrange Icons", "Align all window icons"},
      {-17, "&Help", ""},
      {-18, "&Contents", "View the contents of the help file"},
      {-19, "&Search for Help On...", "Search for help on a subject"},
      {-20, "&How to Use Help", "How to use Windows Help"},
  };
  for (const auto& e : items) {
    auto c = robot.Control(frame, e.number);
    ASSERT_TRUE(c) << e.number;
    EXPECT_EQ(c->text, e.text) << e.number;
    EXPECT_EQ(c->tip, e.tip) << e.number;
  }
  EXPECT_FALSE(robot.Control(frame, -21));

  ASSERT_TRUE(robot.WaitIdle());
  backend_->ClearTranscript();
  // Help has no file to show; the standard actions go to the desktop.
  ASSERT_TRUE(robot.ChooseMenu(frame, "&Contents"));
  ASSERT_TRUE(robot.ChooseMenu(frame, "T&ile"));
  ASSERT_TRUE(robot.WaitIdle());
  auto t = backend_->Transcript();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].kind, "message");
  EXPECT_NE(t[0].text.find("no help file"), std::string::npos);
  EXPECT_EQ(t[1].kind, "action");
  EXPECT_EQ(t[1].answer, static_cast<int>(rt::StandardAction::Tile));

  ASSERT_TRUE(robot.ChooseMenu(frame, "E&xit"));
  EXPECT_TRUE(robot.WaitClosed(frame));
  program_.join();
  EXPECT_TRUE(rt::RunningThreads().empty());
}

}  // namespace
