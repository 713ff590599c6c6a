// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/window/ErrorWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "framework/error/ErrorHooks.h"
#include "framework/window/HistoryListHandler.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/Events.h"
#include "support/Robot.h"
#include "support/WorkDir.h"

namespace {

using testing_support::Robot;

constexpr int kAllButtons = 255;

class ErrorWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::ClearHooks();
    RegisterErrorHooks();
    RegisterErrorWindowHooks();
    backend_ = rt::InstallHeadlessBackend();
  }
  void TearDown() override { rt::ClearHooks(); }

  // Runs `present` on a thread of its own (it shows the window and returns the answer) and
  // `drive` as the user on the window it opened; returns the answer.
  int Present(const std::function<int()>& present,
              const std::function<void(Robot&, int windowId)>& drive) {
    std::atomic<int> answer{-1};
    const int thread = rt::Start([&](const std::vector<std::string>&) { answer = present(); });
    EXPECT_NE(thread, 0);
    Robot robot(backend_);
    const int id = robot.WaitForWindow(kErrorWindowName);
    EXPECT_NE(id, 0);
    if (id != 0) {
      EXPECT_TRUE(robot.WaitIdle());
      drive(robot, id);
      EXPECT_TRUE(robot.WaitClosed(id));
    }
    rt::JoinAllThreads();
    return answer;
  }

  int Show(int buttons, int defaultButton, std::string_view caption,
           const std::function<void(Robot&, int)>& drive, std::int32_t icon = 0) {
    return Present(
        [&] { return GlobalErrors().ShowHistoryWindow(caption, icon, buttons, defaultButton); },
        drive);
  }

  std::shared_ptr<rt::HeadlessBackend> backend_;
};

TEST_F(ErrorWindowTest, EightButtonsEachAnswerAndEscAnswersCancel) {
  rt::RunProgram([&] {
    StartGlobalErrors();
    const char* texts[] = {"O&k", "&Yes", "&No", "&Abort", "&Retry", "&Ignore", "&Cancel", "&Help"};
    for (int bit = 0; bit < 8; ++bit) {
      const int value = 1 << bit;
      const int answer = Show(kAllButtons, rt::kButtonYes, "Eight", [&](Robot& robot, int id) {
        EXPECT_EQ(robot.Window(id)->caption, "Eight");
        // The highest bit is rightmost (100), the lowest leftmost (107).
        for (int b = 0; b < 8; ++b) {
          auto button = robot.Control(id, kErrorFirstButton + 7 - b);
          ASSERT_TRUE(button);
          EXPECT_EQ(button->text, texts[b]);
          EXPECT_FALSE(button->hidden);
          EXPECT_EQ(button->isDefault, (1 << b) == rt::kButtonYes) << texts[b];
        }
        EXPECT_LT(robot.Control(id, 107)->pos.x, robot.Control(id, 100)->pos.x);
        EXPECT_EQ(robot.Text(id, kErrorImageControl),
                  rt::StockIconName(rt::MessageIcon::Information));
        EXPECT_TRUE(robot.Press(id, kErrorFirstButton + 7 - bit));
      });
      EXPECT_EQ(answer, value) << texts[bit];
    }
    EXPECT_EQ(Show(kAllButtons, rt::kButtonYes, "",
                   [](Robot& robot, int id) {
                     EXPECT_EQ(robot.Window(id)->caption, "Error");
                     robot.SendKey(id, kErrorFirstButton + 6, rt::key::kEsc);
                   }),
              rt::kButtonCancel);
    // Enter presses the button that has the focus.
    EXPECT_EQ(Show(kAllButtons, rt::kButtonYes, "",
                   [](Robot& robot, int id) {
                     robot.SendKey(id, kErrorFirstButton + 3, rt::key::kEnter);
                   }),
              rt::kButtonRetry);
  });
}

TEST_F(ErrorWindowTest, PlacementDefaultsAndLeavingWithoutAButton) {
  rt::RunProgram([&] {
    StartGlobalErrors();
    const int yesNoCancel = rt::kButtonYes | rt::kButtonNo | rt::kButtonCancel;
    EXPECT_EQ(Show(yesNoCancel, rt::kButtonCancel, "Save Record",
                   [](Robot& robot, int id) {
                     EXPECT_EQ(robot.Text(id, 100), "&Cancel");
                     EXPECT_EQ(robot.Text(id, 101), "&No");
                     EXPECT_EQ(robot.Text(id, 102), "&Yes");
                     EXPECT_TRUE(robot.Control(id, 100)->isDefault);
                     for (int hidden = 103; hidden <= 107; ++hidden) {
                       EXPECT_TRUE(robot.Control(id, hidden)->hidden) << hidden;
                       EXPECT_FALSE(robot.Press(id, hidden));
                     }
                     // Enter on the list presses the default button.
                     robot.SendKey(id, kErrorListControl, rt::key::kEnter);
                   }),
              rt::kButtonCancel);

    // A default outside the set makes no default; closing a question never answers Yes.
    EXPECT_EQ(Show(
                  rt::kButtonYes | rt::kButtonNo, rt::kButtonAbort, "",
                  [](Robot& robot, int id) {
                    EXPECT_LT(robot.Control(id, 107)->pos.x, robot.Control(id, 100)->pos.x);
                    EXPECT_EQ(robot.Text(id, kErrorImageControl), "3");
                    EXPECT_FALSE(robot.Control(id, 100)->isDefault);
                    EXPECT_FALSE(robot.Control(id, 101)->isDefault);
                    robot.SendKey(id, kErrorListControl, rt::key::kEnter);  // nothing to press
                    EXPECT_TRUE(robot.WaitIdle());
                    EXPECT_TRUE(robot.Window(id));
                    robot.CloseWindow(id);
                  },
                  3),
              rt::kButtonNo);
    EXPECT_EQ(Show(rt::kButtonYes | rt::kButtonNo, rt::kButtonYes, "",
                   [](Robot& robot, int id) { robot.SendKey(id, 100, rt::key::kEsc); }),
              rt::kButtonNo);
    // Only Retry and Ignore: closing gives the default.
    EXPECT_EQ(Show(rt::kButtonRetry | rt::kButtonIgnore, rt::kButtonIgnore, "",
                   [](Robot& robot, int id) { robot.CloseWindow(id); }),
              rt::kButtonIgnore);
  });
}

TEST_F(ErrorWindowTest, MessagesWithHistoryShowTheThreadsHistory) {
  testing_support::WorkDir work("error-window");
  rt::RunProgram([&] {
    StartGlobalErrors();
    ErrorManager& errors = GlobalErrors();
    errors.AddError(900, "Note %Message|second line", "Noted", LevelNotify);
    errors.SetCategory(900, "Tests");
    errors.AddError(901, "Plain %Message", "Plain", LevelNotify);
    errors.SetHistoryThreshold(3);
    errors.SetHistoryViewLevel(LevelNotify);
    std::vector<std::vector<std::string>> lastRows;
    for (int i = 1; i <= 5; ++i) {
      Present(
          [&, i] {
            return static_cast<int>(errors.ThrowMessage(i % 2 ? 900 : 901, std::to_string(i)));
          },
          [&](Robot& robot, int id) {
            EXPECT_EQ(robot.Window(id)->caption, i % 2 ? "Noted" : "Plain");
            auto list = robot.Control(id, kErrorListControl);
            lastRows = list->rows;
            EXPECT_EQ(list->choice, static_cast<int>(list->rows.size()));  // the newest
            EXPECT_TRUE(robot.Press(id, 100));
          });
    }
    // The texts as recorded, "|" and all.
    EXPECT_EQ(lastRows, (std::vector<std::vector<std::string>>{{"Note 3|second line", "Tests"},
                                                               {"Plain 4", "Orv"},
                                                               {"Note 5|second line", "Tests"}}));
    Present(
        [&] {
          errors.ViewHistory();
          return 0;
        },
        [](Robot& robot, int id) {
          EXPECT_EQ(robot.Window(id)->caption, "Errors History");
          EXPECT_EQ(robot.Text(id, 100), "&Help");
          EXPECT_EQ(robot.Text(id, 101), "O&k");
          auto rows = robot.Control(id, kErrorListControl)->rows;
          ASSERT_EQ(rows.size(), 3u);
          EXPECT_EQ(rows[2][0], "Note 5|second line");
          EXPECT_TRUE(robot.Press(id, 100));
        });
    // Emptied after it was presented.
    errors.SetHistoryResetOnView(1);
    Present([&] { return static_cast<int>(errors.ThrowMessage(901, "6")); },
            [](Robot& robot, int id) {
              EXPECT_EQ(robot.Control(id, kErrorListControl)->rows.back()[0], "Plain 6");
              robot.Press(id, 100);
            });
    EXPECT_TRUE(errors.HistorySnapshot().empty());
    Present(
        [&] {
          errors.ViewHistory();
          return 0;
        },
        [](Robot& robot, int id) {
          EXPECT_TRUE(robot.Control(id, kErrorListControl)->rows.empty());
          EXPECT_TRUE(robot.Press(id, 101));
        });
  });
}

}  // namespace
