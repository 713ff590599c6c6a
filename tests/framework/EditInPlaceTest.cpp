// SPDX-License-Identifier: GPL-3.0-or-later
// Editing a browse's rows in place on a real table: the keys are queued on the test thread
// before the browse's Ask runs the edit loop, which takes them in order.

#include "framework/browse/EditInPlaceManager.h"

#include <gtest/gtest.h>

#include <optional>

#include "framework/browse/BrowseManager.h"
#include "framework/browse/EditEntry.h"
#include "framework/browse/StepLong.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "support/BrowseFixture.h"
#include "support/OtherProcess.h"
#include "support/Robot.h"
#include "support/WorkDir.h"

namespace {

namespace key = rt::key;
constexpr int kList = 1;
constexpr int kOther = 2;
constexpr int kRows = 4;

class EditInPlaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("eip");
    ASSERT_TRUE(work_->Ok());
    backend_ = rt::InstallHeadlessBackend();
    f_.emplace();
    ASSERT_TRUE(f_->TableReady());
    testing_support::DocRows rows;
    for (int id = 1; id <= 6; ++id)
      rows.emplace_back(id * 10, "doc" + std::to_string(id * 10));
    ASSERT_TRUE(testing_support::AddDocs(rows));
    f_->Controller.Errors = &f_->Errors;
    f_->Open({.thumb = &thumb_, .rows = kRows, .autoNumber = true, .buttons = {"&Other"}});
    window_ = f_->Window.get();
    browse_ = f_->Browse.get();
    window_->Alert(kList, key::kMouseLeft);
  }
  void TearDown() override {
    f_.reset();
    work_.reset();
  }

  // The edit controls of the two columns in the coming edit run (made in column order).
  std::pair<int, int> EditControls() {
    const int probe = window_->CreateControl(rt::ctl::kPrompt);
    window_->DestroyControl(probe);
    return {probe + 1, probe + 2};
  }
  // A key on an edit control, with the text typed into it first.
  void Key(int control, int keyCode, std::optional<std::string> text = {}) {
    rt::EventMessage m;
    m.event = rt::event::kAlertKey;
    m.control = control;
    m.keyCode = keyCode;
    m.screenText = std::move(text);
    rt::MyEvents().Post(std::move(m));
  }
  void Pick(int row) {
    rt::EventMessage m;
    m.event = rt::event::kNewSelection;
    m.control = kList;
    m.screenChoice = row;
    rt::MyEvents().Post(std::move(m));
  }
  void Highlight(int row) {
    window_->SetChoice(kList, row);
    browse_->TakeNewSelection();
  }
  std::vector<std::string> Page() const {
    std::vector<std::string> out;
    for (int r = 1; r <= f_->Queue->Records(); ++r) {
      std::string name = f_->Queue->RowText(r, 2);
      out.push_back(f_->Queue->RowText(r, 1) + ":" +
                    name.substr(0, name.find_last_not_of(' ') + 1));
    }
    return out;
  }
  // The table's names in ID order, read afresh.
  std::vector<std::string> Table() const {
    auto file = testing_support::MakeDocsFile();
    EXPECT_EQ(file->Open(rt::kOpenReadOnlyDenyNone), 0);
    std::vector<std::string> out;
    static_cast<void>(file->Set(*file->Key(1)));
    while (file->Next() == 0) {
      std::string name = rt::ReadText(file->Layout().Field(2), file->Record());
      out.push_back(std::to_string(rt::ReadInteger(file->Layout().Field(1), file->Record())) + ":" +
                    name.substr(0, name.find_last_not_of(' ') + 1));
    }
    static_cast<void>(file->Close());
    return out;
  }
  std::vector<std::string> Captions() const { return testing_support::CaptionsOf(*backend_); }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  StepLong thumb_;  // outlives the browse, which releases it
  std::optional<testing_support::BrowseFixture> f_;
  rt::Window* window_ = nullptr;
  BrowseManager* browse_ = nullptr;
};

using Rows = std::vector<std::string>;

TEST_F(EditInPlaceTest, ChangeMovesBetweenColumnsAndTabPastTheLastSavesTheRow) {
  Highlight(2);
  const auto [id, name] = EditControls();
  Key(id, key::kShift + key::kTab);  // first column: nothing happens
  Key(id, key::kTab);
  Key(name, key::kShift + key::kTab, "renamed");
  Key(id, key::kTab);
  browse_->TabAction = kRowEndSave;
  Key(name, key::kTab);  // past the last column: saved
  EXPECT_EQ(browse_->Ask(ChangeRecord), RequestCompleted);
  EXPECT_EQ(Table()[1], "20:renamed");
  EXPECT_EQ(Page()[1], "20:renamed");
  EXPECT_EQ(browse_->CurrentChoice, 2);
  // The edit control is gone and the list's click alerts are back.
  EXPECT_FALSE(window_->Exists(name));
  EXPECT_TRUE(window_->IsAlerted(kList, key::kMouseLeft));
  EXPECT_TRUE(window_->IsAlerted(kList, key::kMouseLeft2));

  // Enter with the abandon byte leaves the table alone and the page shows the old value.
  browse_->EnterAction = kRowEndAbandon;
  const auto [id2, name2] = EditControls();
  Key(id2, key::kTab);
  Key(name2, key::kEnter, "dropped");
  EXPECT_EQ(browse_->Ask(ChangeRecord), RequestCancelled);
  EXPECT_EQ(Table()[1], "20:renamed");
  EXPECT_EQ(Page()[1], "20:renamed");

  // The ask byte: "Save Record" answered No.
  browse_->EnterAction = kRowEndAsk;
  const auto [id3, name3] = EditControls();
  Key(id3, key::kTab);
  Key(name3, key::kEnter, "asked");
  backend_->PushAnswer(rt::kButtonNo);
  EXPECT_EQ(browse_->Ask(ChangeRecord), RequestCancelled);
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Save Record"}));
  EXPECT_EQ(Table()[1], "20:renamed");
}

TEST_F(EditInPlaceTest, InsertedRowIsSavedWithEnterAndRemovedWithEsc) {
  const Rows before = Table();
  Highlight(2);
  Key(EditControls().first, key::kEsc);  // a new row never changed: gone without a question
  EXPECT_EQ(browse_->Ask(InsertRecord), RequestCancelled);
  EXPECT_EQ(Table(), before);
  EXPECT_EQ(Page(), (Rows{"10:doc10", "20:doc20", "30:doc30", "40:doc40"}));
  EXPECT_TRUE(Captions().empty());

  // Below the highlight on a full page: the last row makes room.
  Highlight(2);
  const auto [id, name] = EditControls();
  Key(id, key::kTab, "25");
  Key(name, key::kEnter, "new one");
  EXPECT_EQ(browse_->Ask(InsertRecord), RequestCompleted);
  EXPECT_EQ(Table()[2], "25:new one");
  EXPECT_EQ(Table().size(), before.size() + 1);
  EXPECT_EQ(Page()[2], "25:new one");
  EXPECT_TRUE(Captions().empty());
}

TEST_F(EditInPlaceTest, RequiredColumnLeftEmptyKeepsTheRowWithTheCursorThere) {
  auto required = std::make_shared<EditEntry>();
  required->Req = 1;
  browse_->EditList->push_back({2, 0, required, 0});
  Highlight(1);
  const auto [id, name] = EditControls();
  Key(id, key::kEnter, "5");  // the name is empty: the row stays, the name column is shown
  Key(name, key::kEnter, "five");
  EXPECT_EQ(browse_->Ask(InsertRecord), RequestCompleted);
  EXPECT_EQ(Table()[0], "5:five");
}

TEST_F(EditInPlaceTest, ArrowsContinueOnTheNextRowAndAClickElsewhereEndsTheRow) {
  browse_->ArrowAction = kRowEndSave | kContinueBit | kKeepColumnBit;
  Highlight(1);
  const auto [id, name] = EditControls();
  Key(id, key::kTab);
  Key(name, key::kDown, "first");
  // The second run makes new edit controls.
  const int name2 = name + 2;
  Key(name2, key::kEsc, "never saved");
  EXPECT_EQ(browse_->Ask(ChangeRecord), RequestCancelled);
  EXPECT_EQ(Table()[0], "10:first");
  EXPECT_EQ(Table()[1], "20:doc20");
  EXPECT_EQ(browse_->CurrentChoice, 2);

  // Another row picked while editing: the focus-loss byte abandons, the highlight follows.
  browse_->FocusLossAction = kRowEndAbandon;
  Highlight(1);
  Key(EditControls().first, key::kTab, "77");
  Pick(3);
  EXPECT_EQ(browse_->Ask(ChangeRecord), RequestCancelled);
  EXPECT_EQ(Table()[0], "10:first");
  EXPECT_EQ(browse_->CurrentChoice, 3);

  // A button pressed while editing saves the row first, then acts.
  browse_->FocusLossAction = kRowEndSave;
  Highlight(1);
  const int third = EditControls().first;
  Key(third, key::kTab);
  Key(third + 1, key::kF1);  // not an edit key: dropped
  rt::EventMessage typed;
  typed.event = rt::event::kAccepted;
  typed.control = third + 1;
  typed.screenText = "clicked";
  rt::MyEvents().Post(typed);
  rt::EventMessage press;
  press.event = rt::event::kAccepted;
  press.control = kOther;
  rt::MyEvents().Post(press);
  EXPECT_EQ(browse_->Ask(ChangeRecord), RequestCompleted);
  EXPECT_EQ(Table()[0], "10:clicked");
  bool reposted = false;
  while (auto m = rt::MyEvents().Wait(std::chrono::milliseconds(0)))
    reposted = reposted || (m->event == rt::event::kAccepted && m->control == kOther);
  EXPECT_TRUE(reposted);
}

// A column check of its own, as an application's edit object may have: no blank names.
class NamedEntry : public EditEntry {
 public:
  std::uint8_t TakeAccepted(std::uint8_t action) override {
    EditEntry::TakeAccepted(action);
    return UseVar.Text().find_first_not_of(' ') == std::string::npos ? kEditCancel : action;
  }
};

TEST_F(EditInPlaceTest, FailedCheckAndFailedSaveKeepTheRowAndEscThenDropsTheNewRow) {
  browse_->EditList->push_back({2, 0, std::make_shared<NamedEntry>(), 0});
  const Rows before = Table();
  Highlight(2);
  const auto [id, name] = EditControls();
  Key(id, key::kEnter, "20");      // the name column's check fails: the row stays there
  Key(name, key::kEnter, "good");  // the key of an existing row fails the save: it stays
  Key(id, key::kEsc);              // and is dropped, new row and all
  EXPECT_EQ(browse_->Ask(InsertRecord), RequestCancelled);
  EXPECT_EQ(Table(), before);
  EXPECT_EQ(Page(), (Rows{"10:doc10", "20:doc20", "30:doc30", "40:doc40"}));
  EXPECT_EQ(Captions(), (std::vector<std::string>{"Duplicate Key Error"}));
}

TEST_F(EditInPlaceTest, AnIdTheKeyCannotHoldIsRefusedNamingTheColumnAndNothingIsWritten) {
  const Rows table = Table();
  const Rows page = Page();
  Highlight(2);
  const int id = EditControls().first;
  // Enter, Tab and an arrow each try to take the value: each is refused, the row stays.
  Key(id, key::kEnter, "99999999999");
  Key(id, key::kTab, "2147483648");
  Key(id, key::kDown, "");
  Key(id, key::kEnter, "twenty");
  Key(id, key::kEsc);
  EXPECT_EQ(browse_->Ask(ChangeRecord), RequestCancelled);
  EXPECT_EQ(Table(), table);
  EXPECT_EQ(Page(), page);
  std::vector<std::string> texts;
  for (const auto& m : testing_support::MessagesOf(*backend_))
    texts.push_back(m.caption + ": " + m.text);
  EXPECT_EQ(texts,
            std::vector<std::string>(
                4, "Range Error: The value of ID must be in range -2147483648 to 2147483647."));
}

TEST_F(EditInPlaceTest, EditingStartsInTheDoubleClickedColumnAndAClickMovesIt) {
  browse_->TabAction = kRowEndSave;  // Tab past the last column saves
  testing_support::Robot robot(backend_);
  // The double click arrives as the list's key; the edit starts from there as in a browse.
  std::uint8_t response = 0;
  auto runFromDoubleClick = [&] {
    window_->EventLoop([&] {
      if (window_->Event() == rt::event::kAlertKey && window_->KeyCode() == key::kMouseLeft2) {
        response = browse_->Ask(ChangeRecord);
        window_->LeaveEventLoop();
      }
      return 1;
    });
  };
  Highlight(2);
  const auto [id, name] = EditControls();
  ASSERT_TRUE(robot.DoubleClickCell(window_->Id(), kList, 2, 2));
  Key(name, key::kTab, "second");  // from the name column, Tab ends the row
  Key(id, key::kEsc);              // only reached when editing began in the first column
  runFromDoubleClick();
  EXPECT_EQ(response, RequestCompleted);
  EXPECT_EQ(window_->PropNumber(kList, rt::prop::kListMouseRow), 2);
  EXPECT_EQ(Table()[1], "20:second");
  auto drain = [] {
    while (rt::MyEvents().Wait(std::chrono::milliseconds(0))) {
    }
  };
  drain();
  // A click on another column of the row being edited moves the edit control there.
  Highlight(3);
  const auto [id2, name2] = EditControls();
  ASSERT_TRUE(robot.ClickCell(window_->Id(), kList, 3, 2));
  Key(name2, key::kTab, "third");
  Key(id2, key::kEsc);
  EXPECT_EQ(browse_->Ask(ChangeRecord), RequestCompleted);
  EXPECT_EQ(Table()[2], "30:third");
  drain();
}

TEST_F(EditInPlaceTest, DeleteRemovesTheHighlightedRecordWithoutALoop) {
  Highlight(3);
  EXPECT_EQ(browse_->Ask(DeleteRecord), RequestCompleted);
  EXPECT_EQ(Table(), (Rows{"10:doc10", "20:doc20", "40:doc40", "50:doc50", "60:doc60"}));
  EXPECT_EQ(Page(), (Rows{"10:doc10", "20:doc20", "40:doc40", "50:doc50"}));
}

TEST_F(EditInPlaceTest, ARowAnotherProcessDeletesWhileEditedIsReportedDeleted) {
  testing_support::OtherProcess other([](std::string_view) {
    auto file = testing_support::MakeDocsFile();
    if (file->Open(rt::kOpenReadWriteDenyNone) != 0) return false;
    rt::WriteInteger(file->Layout().Field(1), file->Record(), 20);
    return file->Get(*file->Key(testing_support::kDocsById)) == 0 && file->Delete() == 0;
  });
  ASSERT_TRUE(other.Started());
  Highlight(2);
  const auto [id, name] = EditControls();
  bool deleted = false;
  rt::EventMessage deleteNow;  // runs once the row is open
  deleteNow.task = [&] { deleted = other.Do(); };
  rt::MyEvents().Post(std::move(deleteNow));
  Key(id, key::kTab);
  Key(name, key::kEnter, "renamed");  // the save fails: the row stays
  Key(id, key::kEsc);
  EXPECT_EQ(browse_->Ask(ChangeRecord), RequestCancelled);
  EXPECT_TRUE(deleted);
  const auto messages = testing_support::MessagesOf(*backend_);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].text.find("deleted by another station"), std::string::npos);
  EXPECT_EQ(messages[0].text.find("changed by another station"), std::string::npos);
  EXPECT_EQ(Table(), (Rows{"10:doc10", "30:doc30", "40:doc40", "50:doc50", "60:doc60"}));
}

// Notes the name column's colour when the row is checked.
class ColourWatch : public EditEntry {
 public:
  explicit ColourWatch(rt::Window& window) : window_(window) {}
  std::uint8_t TakeAccepted(std::uint8_t action) override {
    seen = window_.ColumnColor(kList, 2);
    return EditEntry::TakeAccepted(action);
  }
  long seen = 0;

 private:
  rt::Window& window_;
};

TEST_F(EditInPlaceTest, ColumnThatCannotBeEditedIsGreyWhileTheRowIsEdited) {
  auto watch = std::make_shared<ColourWatch>(*window_);
  browse_->EditList->push_back({1, 0, watch, 0});
  browse_->EditList->push_back({2, 0, nullptr, 0});  // the name: not editable
  // With a colour of its own, and then without: each comes back when the row ends.
  for (const long own : {0x0000FFL, rt::kColorNone}) {
    window_->SetColumnColor(kList, 2, own);
    Highlight(1);
    Key(EditControls().first, key::kEnter);
    EXPECT_EQ(browse_->Ask(ChangeRecord), RequestCancelled);  // nothing changed
    EXPECT_EQ(watch->seen, rt::kColorGrayText);
    EXPECT_EQ(window_->ColumnColor(kList, 2), own);
    EXPECT_EQ(window_->ColumnColor(kList, 1), rt::kColorNone);
  }
}

}  // namespace
