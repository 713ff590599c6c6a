// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/window/ToolbarDispatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/window/WindowController.h"

namespace {

class TestTarget : public ToolbarTarget {
 public:
  TestTarget(std::string name, std::vector<std::string>& log, bool applies = false)
      : name_(std::move(name) + " "), log_(log), applies_(applies) {}

  void DisplayButtons() override { log_.push_back(name_ + "buttons"); }
  void TakeEvent(std::int32_t* navigationRequest, WindowController&) override {
    log_.push_back(name_ + "event");
    if (navigationRequest) *navigationRequest = NavigateBottom;
  }
  void Activate() override { log_.push_back(name_ + "active"); }
  bool Applies() override { return applies_; }

 private:
  std::string name_;
  std::vector<std::string>& log_;
  bool applies_;
};

TEST(ToolbarDispatcher, EventsAndButtonsGoToTheActiveTargetOnly) {
  std::vector<std::string> log;
  TestTarget list("list", log);
  TestTarget form("form", log);
  WindowController controller;
  ToolbarDispatcher toolbar;
  std::int32_t pending = NoNavigation;
  EXPECT_FALSE(toolbar.AddTarget(list, 10));  // before Init there is no list
  toolbar.TakeEvent(&pending, controller);
  toolbar.Init();
  EXPECT_FALSE(toolbar.AddTarget(list, 0));  // id 0 means "choose"
  ASSERT_TRUE(toolbar.AddTarget(list, 10));
  ASSERT_TRUE(toolbar.AddTarget(form, 20));
  toolbar.TakeEvent(&pending, controller);  // nothing active yet
  toolbar.SetTarget(20);
  toolbar.SetTarget(99);  // unknown: the current target stays
  toolbar.TakeEvent(&pending, controller);
  toolbar.UpdateTarget();
  EXPECT_EQ(log, (std::vector<std::string>{"form active", "form event", "form buttons"}));
  EXPECT_EQ(pending, NavigateBottom);
  toolbar.RemoveTarget(form);
  EXPECT_EQ(toolbar.ActiveTarget(), nullptr);
  toolbar.Kill();
  EXPECT_EQ(toolbar.List, nullptr);
  toolbar.TakeEvent(&pending, controller);
  toolbar.SetTarget(10);
  EXPECT_EQ(log.size(), 3u);
}

TEST(ToolbarDispatcher, ChoosingTakesTheLastTargetThatApplies) {
  std::vector<std::string> log;
  TestTarget first("first", log, true);
  TestTarget second("second", log, true);
  TestTarget third("third", log, false);
  ToolbarDispatcher toolbar;
  toolbar.Init();
  toolbar.AddTarget(first, 1);
  toolbar.AddTarget(second, 2);
  toolbar.AddTarget(third, 3);
  toolbar.SetTarget(3);
  toolbar.SetTarget(0);
  EXPECT_EQ(toolbar.ActiveTarget(), &second);
  EXPECT_EQ(log, (std::vector<std::string>{"third active", "second active"}));
}

}  // namespace
