// SPDX-License-Identifier: GPL-3.0-or-later
// The frame's place on the desktop kept in PageletDemo.INI between runs: where the user left
// it (maximised) comes back on the next start; a place no screen shows, or an absurd size,
// leaves the frame where the desktop puts it.

#include "app/FrameGeometry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "app/Startup.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "support/Robot.h"
#include "support/WorkDir.h"

namespace {

using testing_support::Robot;

class FrameGeometryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("frame-geometry");
    ASSERT_TRUE(work_->Ok());
    rt::ClearHooks();
    backend_ = rt::InstallHeadlessBackend();
    RegisterApplicationHooks();
  }
  void TearDown() override {
    rt::ClearHooks();
    work_.reset();
  }

  // Runs the program until its frame is open, lets `act` move it, then closes it. Returns
  // where the frame stood when it opened (nothing: the program did not place it).
  std::optional<rt::Placement> Run(const std::optional<rt::Placement>& moveTo) {
    std::thread program([] { rt::RunProgram(ProgramMain); });
    Robot robot(backend_);
    std::optional<rt::Placement> opened;
    const int frame = robot.WaitForWindow("Pagelet Demo");
    EXPECT_NE(frame, 0);
    if (frame != 0 && robot.WaitIdle()) {
      rt::Placement placement;
      if (backend_->WindowPlacement(frame, placement)) opened = placement;
      // The user moves the frame.
      if (moveTo) backend_->PlaceWindow(frame, *moveTo);
      EXPECT_TRUE(robot.CloseWindow(frame));
    }
    program.join();
    return opened;
  }

  void WriteIni(const std::string& text) {
    std::ofstream(work_->Path() / "PageletDemo.INI") << text;
  }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
};

TEST_F(FrameGeometryTest, ThePlaceLeftIsRestoredAndAnUnusableOneIgnored) {
  EXPECT_EQ(Run(std::nullopt), std::nullopt);  // nothing saved yet: the desktop decides
  const rt::Placement left{120, 80, 1000, 700, true};
  EXPECT_EQ(Run(left), std::nullopt);
  EXPECT_EQ(Run(std::nullopt), left);

  // Off every screen: on a second screen that is gone now.
  WriteIni("[Frame]\nX=2500\nY=100\nWidth=800\nHeight=600\nMaximized=0\n");
  EXPECT_EQ(Run(std::nullopt), std::nullopt);
  backend_->SetScreens({{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}});
  EXPECT_EQ(Run(std::nullopt), (rt::Placement{2500, 100, 800, 600, false}));
  backend_->SetScreens({{0, 0, 1920, 1080}});
  // Absurd sizes and values that are no numbers.
  WriteIni("[Frame]\nX=10\nY=10\nWidth=90000\nHeight=600\n");
  EXPECT_EQ(Run(std::nullopt), std::nullopt);
  WriteIni("[Frame]\nX=10\nY=10\nWidth=20\nHeight=600\n");
  EXPECT_EQ(Run(std::nullopt), std::nullopt);
  WriteIni("[Frame]\nX=10\nY=ten\nWidth=800\nHeight=600\n");
  EXPECT_EQ(Run(std::nullopt), std::nullopt);
}

TEST(FrameGeometryUsable, ATopEdgeTheUserCanGrabIsEnough) {
  const std::vector<rt::Rect> screen{{0, 0, 1920, 1080}};
  // Hanging off the left and the bottom, its top edge still on screen.
  EXPECT_TRUE(FrameGeometry::Usable({-700, 900, 800, 600, false}, screen));
  EXPECT_FALSE(FrameGeometry::Usable({-750, 900, 800, 600, false}, screen));
  EXPECT_FALSE(FrameGeometry::Usable({100, 1070, 800, 600, false}, screen));
  EXPECT_FALSE(FrameGeometry::Usable({100, -40, 800, 600, false}, screen));
  EXPECT_FALSE(FrameGeometry::Usable({2147483000, 0, 800, 600, false}, screen));
  // Screens unknown: only the size is judged.
  EXPECT_TRUE(FrameGeometry::Usable({5000, 5000, 800, 600, false}, {}));
  EXPECT_FALSE(FrameGeometry::Usable({0, 0, 100, 600, false}, {}));
}

}  // namespace
