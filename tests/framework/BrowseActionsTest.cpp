// SPDX-License-Identifier: GPL-3.0-or-later
// The browse's buttons, keys and popup over a real STORE table. The window controller's Run
// stands in for the update form: it writes through the file as the form would and answers.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLong.h"
#include "framework/util/PopupManager.h"
#include "framework/window/RequestCodes.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "support/BrowseFixture.h"
#include "support/Robot.h"
#include "support/WorkDir.h"

namespace {

using testing_support::BrowseFixture;
constexpr int kList = 1, kInsert = 2, kChange = 3, kDelete = 4, kView = 5, kQuery = 6, kPrint = 7;
constexpr int kPrintProcedure = 7;

class BrowseActionsTest : public testing_support::BrowseFixtureTest {
 protected:
  BrowseActionsTest() : BrowseFixtureTest("browse-actions") {}

  // Rows `first` to `last`; the update form is the fixture's stand-in.
  void Open(int first, int last, std::string_view filter = {}) {
    if (first <= last) testing_support::AddDocRange(first, last);
    f_->Open({.thumb = &thumb_,
              .buttons = {"&Insert", "&Change", "&Delete", "&View", "&Query", "&Print"}},
             [&](BrowseManager& b) {
               b.QueryControl = kQuery;
               b.PrintControl = kPrint;
               b.PrintProcedure = kPrintProcedure;
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
  ASSERT_EQ(popup.GetItems(), 7);
  EXPECT_EQ(std::string((*popup.PopupItems)[0].Name.View()), "Insert");
  EXPECT_EQ(std::string((*popup.PopupItems)[0].Text.View()), "&Insert");
  EXPECT_EQ((*popup.PopupItems)[0].ControlID, kInsert);
  EXPECT_EQ((*popup.PopupItems)[4].ControlID, kPrint);
  EXPECT_EQ(std::string((*popup.PopupItems)[5].Text.View()), "-");
  EXPECT_EQ((*popup.PopupItems)[6].ControlID, kQuery);
  EXPECT_TRUE(f_->Window->IsAlerted(kList, rt::key::kCtrlEnter));
  EXPECT_TRUE(f_->Window->IsAlerted(kList, rt::key::kShiftEnter));
  EXPECT_TRUE(Disabled(kChange) && Disabled(kDelete) && Disabled(kView) && Disabled(kPrint));
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
    EXPECT_EQ(f_->Window->KeyCode(), 0);  // the popup's right click is not the form's key
    ++runs;
    if (runs == 1) f_->VCR = NavigateInsert;
    // The next record is a new one: the table has no current record to write over.
    if (runs == 2) {
      EXPECT_TRUE(f_->Docs->Position().empty());
    }
    rt::WriteInteger(f_->Docs->Layout().Field(1), f_->Docs->Record(), 20 + runs);
    SetName("new");
    EXPECT_EQ(f_->Docs->Add(), 0);
    return static_cast<std::uint8_t>(RequestCompleted);
  };
  f_->Window->SetKeyCode(rt::key::kMouseRightUp);
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

TEST_F(BrowseActionsTest, PrintRunsOnTheReReadRecordAndARightClickHighlightsItsRow) {
  Open(1, 9);
  Highlight(2);
  auto name = [&] {
    return std::string(rt::ClipText(rt::ReadText(f_->Docs->Layout().Field(2), f_->Docs->Record())));
  };
  std::vector<std::pair<int, std::string>> printed;  // request, name in the record buffer
  f_->Controller.form = [&](std::uint8_t request) {
    printed.emplace_back(request, name());
    return static_cast<std::uint8_t>(RequestCompleted);
  };
  // The print procedure gets the record as the table holds it; the list's row comes back after.
  ASSERT_TRUE(testing_support::RenameDoc(2, "renamed"));
  f_->Browse->TakeAcceptedControl(kPrint);
  EXPECT_EQ(printed, (std::vector<std::pair<int, std::string>>{{kPrintRequest, "renamed"}}));
  EXPECT_EQ(f_->Controller.lastNumber, kPrintProcedure);
  EXPECT_EQ(name(), "doc2");

  // A record gone elsewhere is reported and not printed.
  ASSERT_TRUE(testing_support::RemoveDoc(3));
  Highlight(3);
  f_->Browse->TakeAcceptedControl(kPrint);
  EXPECT_EQ(printed.size(), 1u);
  EXPECT_EQ(f_->Browse->NeedRefresh, 1);
  EXPECT_EQ(testing_support::CaptionsOf(*backend_),
            std::vector<std::string>{"Record Retrieval Error"});

  // The right button's release highlights the row it was pressed on.
  f_->Window->SetProp(kList, rt::prop::kListMouseRow, 4L);
  f_->Window->SetKeyCode(rt::key::kMouseRightUp);
  EXPECT_FALSE(f_->Browse->TakeKey());
  EXPECT_EQ(f_->Browse->CurrentChoice, 4);
  EXPECT_EQ(f_->Window->Choice(kList), 4);
}

// Opens a browse called to select, with the caller's record 4 in the buffer, moves the
// highlight to `row`, has `other` change the table, and closes it with the Select button or
// without; returns the record buffer's ID and name after the close.
std::pair<int, std::string> SelectAndClose(std::optional<testing_support::BrowseFixture>& f,
                                           int row, bool wholeRecord, bool select,
                                           const std::function<void()>& other) {
  constexpr int kSelect = 2;
  f.emplace();
  f->Controller.Request = SelectRecord;
  rt::WriteInteger(f->Docs->Layout().Field(1), f->Docs->Record(), 4);
  rt::WriteText(f->Docs->Layout().Field(2), f->Docs->Record(), "doc4");
  f->Open({.buttons = {"&Select"}}, [&](BrowseManager& b) {
    b.SelectControl = kSelect;
    b.SelectWholeRecord = wholeRecord ? 1 : 0;
  });
  EXPECT_EQ(f->Highlighted(), 4);  // the first page starts at the caller's record
  EXPECT_EQ(f->Window->PropNumber(kSelect, rt::prop::kDefaultButton), 1);
  f->Window->SetChoice(BrowseFixture::kList, row);
  f->Browse->TakeNewSelection();
  other();
  if (select) {
    f->Browse->TakeAcceptedControl(kSelect);
  } else {
    rt::EventMessage close;
    close.event = rt::event::kCloseWindow;
    close.windowId = f->Window->Id();
    rt::MyEvents().Post(close);
  }
  f->Controller.Ask();
  return {f->RecordId(),
          std::string(rt::ClipText(rt::ReadText(f->Docs->Layout().Field(2), f->Docs->Record())))};
}

TEST_F(BrowseActionsTest, ClosingASelectingBrowseKeepsTheSelectedRecordOrTheCallersOne) {
  testing_support::AddDocRange(1, 9);
  f_.reset();
  using Result = std::pair<int, std::string>;
  // Selected with the whole record: read again from the table.
  EXPECT_EQ(SelectAndClose(f_, 2, true, true, [] { testing_support::RenameDoc(5, "fresh"); }),
            (Result{5, "fresh"}));
  EXPECT_EQ(f_->Controller.Response, RequestCompleted);
  // Selected from the list: the row as the list shows it (a list on the server follows the
  // other client's change, so it shows no stale row to tell the two apart).
  if (!testing_support::OnServer()) {
    EXPECT_EQ(SelectAndClose(f_, 3, false, true, [] { testing_support::RenameDoc(6, "stale"); }),
              (Result{6, "doc6"}));
  }
  // Closed without selecting: the caller's record comes back.
  EXPECT_EQ(SelectAndClose(f_, 3, false, false, [] {}), (Result{4, "doc4"}));
}

}  // namespace
