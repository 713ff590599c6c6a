// The browse's buttons, keys and popup over a real STORE table. The window controller's Run
// stands in for the update form: it writes through the file as the form would and answers.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLong.h"
#include "framework/util/PopupManager.h"
#include "framework/window/RequestCodes.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "support/BrowseFixture.h"
#include "support/Robot.h"
#include "support/WorkDir.h"

namespace {

constexpr int kList = 1, kInsert = 2, kChange = 3, kDelete = 4, kView = 5, kQuery = 6;

class BrowseActionsTest : public testing_support::BrowseFixtureTest {
 protected:
  BrowseActionsTest() : BrowseFixtureTest("browse-actions") {}

  // Rows `first` to `last`; the update form is the fixture's stand-in.
  void Open(int first, int last, std::string_view filter = {}) {
    if (first <= last) testing_support::AddDocRange(first, last);
    f_->Open({.thumb = &thumb_, .buttons = {"&Insert", "&Change", "&Delete", "&View", "&Query"}},
             [&](BrowseManager& b) {
               b.QueryControl = kQuery;
               b.EditViaPopup = 1;
               b.AskProcedure = 1;
               if (!filter.empty()) b.SetFilter(std::string(filter));
             });
  }

  std::vector<int> Page() const { return f_->Page(); }
  int Highlighted() const { return f_->Highlighted(); }
  void Highlight(int row) {
    f_->Window->SetChoice(kList, row);
    f_->Browse->CurrentChoice = row;
    f_->Browse->UpdateBuffer();
  }
  void SetName(std::string_view name) {
    rt::WriteText(f_->Docs->Layout().Field(2), f_->Docs->Record(), std::string(name));
  }
  bool Disabled(int control) const {
    return f_->Window->PropNumber(control, rt::prop::kDisabled) != 0;
  }

  StepLong thumb_;
};

using Ids = std::vector<int>;

TEST(ServerFilterRewrite, EachSqlCallBecomesAComparisonWithAnEmptyString) {
  EXPECT_EQ(RewriteServerFilter("SQL(a > 1)"), " ''=SQL(a > 1)");
  EXPECT_EQ(RewriteServerFilter("X=1 AND SQL (b)|~SQL(c)"), "X=1 AND  ''=SQL(b)|~ ''=SQL(c)");
  EXPECT_EQ(RewriteServerFilter("MYSQL(a) OR DOC:ID=1"), "MYSQL(a) OR DOC:ID=1");
  EXPECT_EQ(RewriteServerFilter("SQL"), "SQL");
}

TEST_F(BrowseActionsTest, PopupMimicsTheButtonsAndEmptyPageDisablesRecordActions) {
  Open(1, 0);
  PopupManager& popup = *f_->Browse->Popup;
  ASSERT_EQ(popup.GetItems(), 6);
  EXPECT_EQ(std::string((*popup.PopupItems)[0].Text.View()), "!&Insert");
  EXPECT_EQ((*popup.PopupItems)[0].ControlID, kInsert);
  EXPECT_EQ(std::string((*popup.PopupItems)[4].Text.View()), "-");
  EXPECT_EQ((*popup.PopupItems)[5].ControlID, kQuery);
  EXPECT_TRUE(f_->Window->IsAlerted(kList, rt::key::kCtrlEnter));
  EXPECT_TRUE(f_->Window->IsAlerted(kList, rt::key::kShiftEnter));
  EXPECT_TRUE(Disabled(kChange) && Disabled(kDelete) && Disabled(kView));
  EXPECT_FALSE(Disabled(kInsert));
  // On the empty list only Insert reaches its button.
  f_->Window->SetKeyCode(rt::key::kDelete);
  EXPECT_FALSE(f_->Browse->TakeKey());
  f_->Window->SetKeyCode(rt::key::kInsert);
  EXPECT_TRUE(f_->Browse->TakeKey());
}

TEST_F(BrowseActionsTest, ChangedRecordLeavingTheFilterIsDroppedAndCancelKeepsThePage) {
  Open(1, 9, "DOC:Name <> 'gone'");
  Highlight(2);
  f_->Controller.form = [&](std::uint8_t request) {
    EXPECT_EQ(request, ChangeRecord);
    SetName("renamed");
    EXPECT_EQ(f_->Docs->Put(), 0);
    return static_cast<std::uint8_t>(RequestCompleted);
  };
  f_->Browse->TakeAcceptedControl(kChange);
  EXPECT_EQ(Page(), (Ids{1, 2, 3, 4, 5}));
  EXPECT_EQ(Highlighted(), 2);

  f_->Controller.form = [&](std::uint8_t) {
    SetName("gone");
    EXPECT_EQ(f_->Docs->Put(), 0);
    return static_cast<std::uint8_t>(RequestCompleted);
  };
  f_->Browse->TakeAcceptedControl(kChange);
  EXPECT_EQ(Page(), (Ids{1, 3, 4, 5, 6}));
  EXPECT_EQ(Highlighted(), 3);

  // The last record leaving the result: the page closes up from above.
  f_->Browse->TakeScroll(rt::event::kScrollBottom);
  f_->Browse->TakeAcceptedControl(kChange);
  EXPECT_EQ(Page(), (Ids{4, 5, 6, 7, 8}));
  EXPECT_EQ(Highlighted(), 8);

  f_->Controller.form = [&](std::uint8_t) { return static_cast<std::uint8_t>(RequestCancelled); };
  f_->Browse->TakeAcceptedControl(kChange);
  EXPECT_EQ(Page(), (Ids{4, 5, 6, 7, 8}));
  EXPECT_EQ(Highlighted(), 8);
}

TEST_F(BrowseActionsTest, DeleteKeepsTheRowIndexAndInsertAnotherRunsTheFormAgain) {
  Open(1, 9);
  Highlight(3);
  f_->Controller.form = [&](std::uint8_t request) {
    EXPECT_EQ(request, DeleteRecord);
    EXPECT_EQ(f_->Docs->Delete(), 0);
    return static_cast<std::uint8_t>(RequestCompleted);
  };
  f_->Browse->TakeAcceptedControl(kDelete);
  EXPECT_EQ(Page(), (Ids{1, 2, 4, 5, 6}));
  EXPECT_EQ(Highlighted(), 4);

  int runs = 0;
  f_->Controller.form = [&](std::uint8_t request) {
    EXPECT_EQ(request, InsertRecord);
    ++runs;
    if (runs == 1) f_->VCR = NavigateInsert;
    rt::WriteInteger(f_->Docs->Layout().Field(1), f_->Docs->Record(), 20 + runs);
    SetName("new");
    EXPECT_EQ(f_->Docs->Add(), 0);
    return static_cast<std::uint8_t>(RequestCompleted);
  };
  f_->Browse->TakeAcceptedControl(kInsert);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(f_->VCR, 0);
  EXPECT_EQ(Highlighted(), 22);
  EXPECT_EQ(Page().back(), 22);
}

TEST_F(BrowseActionsTest, DoubleClickOpensTheChangeFormOnlyOnARow) {
  Open(1, 9);
  std::vector<int> changed;  // the record each change form was opened on
  f_->Controller.form = [&](std::uint8_t request) {
    EXPECT_EQ(request, ChangeRecord);
    changed.push_back(f_->RecordId());
    return static_cast<std::uint8_t>(RequestCancelled);
  };
  testing_support::Robot robot(backend_);
  const int id = f_->Window->Id();
  ASSERT_TRUE(robot.DoubleClickOutsideRows(id, kList, rt::listzone::kHeader));
  ASSERT_TRUE(robot.DoubleClickOutsideRows(id, kList, rt::listzone::kBelowRows));
  ASSERT_TRUE(robot.DoubleClickCell(id, kList, 3, 2));
  // The controller takes every event, including the ones the double clicks post.
  f_->Window->EventLoop([&] {
    const ErrorLevel level = f_->Controller.TakeEvent();
    if (rt::MyEvents().Empty()) f_->Window->LeaveEventLoop();
    return level == LevelNotify ? 1 : 0;
  });
  EXPECT_EQ(changed, std::vector<int>{3});
}

}  // namespace
