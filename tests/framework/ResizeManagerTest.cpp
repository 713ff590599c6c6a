// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/util/ResizeManager.h"

#include <gtest/gtest.h>

#include <memory>

#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace {

// A window designed at 200 x 100 units: a list (1), an entry (2), a group (3) holding a
// check box (4), and a button in the bottom-right corner (5).
constexpr int kList = 1;
constexpr int kEntry = 2;
constexpr int kGroup = 3;
constexpr int kCheck = 4;
constexpr int kButton = 5;

std::shared_ptr<rt::WindowDef> Layout() {
  auto def = std::make_shared<rt::WindowDef>("ResizeTest", "LAYOUT", "Layout");
  def->pos = {0, 0, 200, 100};
  def->List("40L|~N~@s20@").At(10, 10, 80, 60);
  def->Entry("s20").At(100, 10, 60, 12);
  def->Add(rt::ctl::kGroup, "Group").At(100, 30, 90, 40);
  def->Check("Check").At(110, 40, 40, 10);
  def->Button("OK").At(150, 80, 40, 14);
  return def;
}

class ResizeManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::InstallHeadlessBackend();
    window_ = std::make_unique<rt::Window>(Layout());
    window_->Open();
  }
  void TearDown() override {
    manager_.Kill();
    window_.reset();
    // The windows were opened on the test's own thread: drop the events they queued there.
    rt::ForgetThreadEvents(rt::ThreadNumber());
  }
  void Grow(int width, int height) {
    window_->SetPosition(0, {0, 0, width, height});
    manager_.Resize(0);
  }
  rt::Rect At(int control) const { return window_->Position(control); }

  std::unique_ptr<rt::Window> window_;
  ResizeManager manager_;
};

TEST_F(ResizeManagerTest, ScalingStrategyScalesEveryControlAndTheDesignedSizeRestoresIt) {
  manager_.Init(*window_, 0);
  Grow(400, 100);
  EXPECT_EQ(At(kList), (rt::Rect{20, 10, 160, 60}));
  EXPECT_EQ(At(kButton), (rt::Rect{300, 80, 80, 14}));
  // Odd sizes on the way back must not leave rounding behind.
  Grow(333, 77);
  Grow(151, 203);
  Grow(200, 100);
  EXPECT_EQ(At(kList), (rt::Rect{10, 10, 80, 60}));
  EXPECT_EQ(At(kCheck), (rt::Rect{110, 40, 40, 10}));
  EXPECT_EQ(At(kButton), (rt::Rect{150, 80, 40, 14}));
}

TEST_F(ResizeManagerTest, ButtonStrategyKeepsTheCornerButtonsDistanceAndSize) {
  manager_.Init(*window_, 1);
  Grow(300, 160);
  EXPECT_EQ(At(kButton), (rt::Rect{250, 140, 40, 14}));
  EXPECT_EQ(At(kEntry).height, 12);  // entries keep their height
}

TEST_F(ResizeManagerTest, ListStrategyKeepsMarginsAndContainersCarryTheirControls) {
  manager_.Init(*window_, 2, 1);
  EXPECT_EQ(window_->PropNumber(0, rt::prop::kMinWidth), 200);
  EXPECT_EQ(window_->PropNumber(0, rt::prop::kMinHeight), 100);
  EXPECT_EQ(manager_.GetParentControl(kCheck), kGroup);
  Grow(300, 160);
  // The list keeps its top-left corner and its right and bottom margins inside the window.
  EXPECT_EQ(At(kList), (rt::Rect{10, 10, 180, 120}));
  // The group does the same; the check box keeps its place inside the group, not the window.
  const rt::Rect group = At(kGroup);
  EXPECT_EQ(group, (rt::Rect{100, 30, 190, 100}));
  EXPECT_EQ(At(kCheck), (rt::Rect{110, 40, 40, 10}));
}

TEST_F(ResizeManagerTest, StrategiesOnTheirOwn) {
  ResizeManager::ControlQueueEntry c;
  c.Pos = {10, 20, 30, 40};
  const ResizeManager::Position before{0, 0, 100, 100};
  const ResizeManager::Position after{0, 0, 200, 50};
  ResizeManager::Position r;
  c.PositionalStrategy = PosFixRight | PosFixBottom;
  c.ResizeStrategy = SizeLockWidth | SizeLockHeight;
  manager_.ComputePosition(before, after, c, r);
  EXPECT_EQ(r, (ResizeManager::Position{110, -30, 30, 40}));
  c.PositionalStrategy = PosFixCentreX | PosFixY;
  c.ResizeStrategy = SizeHalfRight;
  manager_.ComputePosition(before, after, c, r);
  // Centre offset -40 scaled by 2 from the new centre 100; the width takes half the growth
  // needed to hold the right margin.
  EXPECT_EQ(r.XPos, 20);
  EXPECT_EQ(r.YPos, 20);
  EXPECT_EQ(r.Width, 30 + (200 - 90 - 20) / 2);
  c.PositionalStrategy = PosFixNearestX | PosCentreY;
  c.ResizeStrategy = SizeFixRight | SizeFixBottom;
  manager_.ComputePosition(before, after, c, r);
  EXPECT_EQ(r, (ResizeManager::Position{10, -5, 130, 15}));
}

TEST_F(ResizeManagerTest, DeferredMovesReachTheScreenOnlyWhenTheBatchEnds) {
  auto backend = rt::InstallHeadlessBackend();
  window_ = std::make_unique<rt::Window>(Layout());
  window_->Open();
  manager_.Init(*window_, 0);
  window_->SetProp(0, rt::prop::kDeferMove, 5L);
  window_->SetPosition(kList, {1, 2, 3, 4});
  auto shown = [&] { return backend->FindWindow(window_->Id())->controls.front().pos; };
  EXPECT_EQ(shown(), (rt::Rect{10, 10, 80, 60}));
  window_->SetProp(0, rt::prop::kDeferMove, 0L);
  EXPECT_EQ(shown(), (rt::Rect{1, 2, 3, 4}));
  // A resize batches its own moves and leaves nothing held back.
  Grow(400, 200);
  EXPECT_EQ(shown(), (rt::Rect{20, 20, 160, 120}));
}

}  // namespace
