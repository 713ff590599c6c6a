// SPDX-License-Identifier: GPL-3.0-or-later
// Update forms on the document table: what insert, change, delete and cancel leave in a
// real table, the retry and cancel questions, and another station (a second process)
// changing or deleting the record while the form is open.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "OtherInstance.h"
#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/Globals.h"
#include "app/Startup.h"
#include "framework/error/ErrorHooks.h"
#include "framework/window/WindowController.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/Window.h"
#include "support/OtherProcess.h"
#include "support/Robot.h"
#include "support/TestDriver.h"
#include "support/WorkDir.h"

namespace {

using testing_support::Robot;
using Rows = std::map<int, std::string>;

constexpr char kModule[] = "FormRequestsTest";
constexpr char kWindowName[] = "FORM";
constexpr char kCaption[] = "Test Form";
constexpr int kIdEntry = 1;
constexpr int kNameEntry = 2;
constexpr int kOk = 3;
constexpr int kCancel = 4;
constexpr int kSave = 5;

void RegisterFormWindow() {
  auto def = std::make_shared<rt::WindowDef>(kModule, kWindowName, kCaption);
  def->Entry("n-14");
  def->Entry("s80");
  def->Button("&OK");
  def->Button("&Cancel");
  def->Button("&Save");
  rt::RegisterWindowDef(std::move(def));
}

// An update form on DemoData, set up as the application's document form sets up its own.
class TestForm : public WindowController {
 public:
  explicit TestForm(rt::Window& window) : window_(window) {}

  std::function<void(TestForm&)> configure;
  std::int32_t pending = NoNavigation;
  bool opened = false;

  ErrorLevel Init() override {
    GlobalErrors().SetProcedureName("TestForm");
    Request = GlobalRequest();
    if (ErrorLevel r = WindowController::Init(); r != LevelQuiet) return r;
    FirstField = kNameEntry;
    VCRRequest = &pending;
    Errors = &GlobalErrors();
    GlobalRequest() = 0;
    SetToolbar(toolbar_);
    HistoryKey = rt::key::kCtrlH;
    static_cast<void>(AddHistoryFile(RecordReference::Of(DemoData().Record(), DemoDataLayout()),
                                     RecordReference::Of(DemoDataRecall(), DemoDataLayout())));
    static_cast<void>(AddHistoryField(kIdEntry, kDemoDataIdField));
    static_cast<void>(AddHistoryField(kNameEntry, kDemoDataFileNameField));
    AddUpdateFile(*DemoDataFileManagerRef());
    AddButton(kCancel, RequestCancelled);
    static_cast<void>(DemoDataRelationManagerRef()->Open());
    FilesOpened = 1;
    Primary = DemoDataRelationManagerRef();
    OKControl = kOk;
    SaveControl = kSave;
    if (configure) configure(*this);
    if (PrimeUpdate() != LevelQuiet) return LevelNotify;
    OpenWindow(window_);
    opened = true;
    SetAlerts();
    return LevelQuiet;
  }
  ErrorLevel Kill() override {
    const ErrorLevel r = WindowController::Kill();
    if (r != LevelQuiet) return r;
    if (FilesOpened) static_cast<void>(DemoDataRelationManagerRef()->Close());
    GlobalErrors().SetProcedureName({}, true);
    return r;
  }

 private:
  rt::Window& window_;
  ToolbarDispatcher toolbar_;
};

// The number an ID entry shows (its picture right-aligns it).
std::string IdShown(Robot& robot, int id) {
  const std::string text = robot.ScreenText(id, kIdEntry);
  return text.substr(std::min(text.find_first_not_of(' '), text.size()));
}

struct Outcome {
  std::uint8_t response = 0;
  bool opened = false;
};

// The record the browse would hand to the form: a new one primed and added, or an existing
// one read.
void PrimeNew() {
  ASSERT_EQ(DemoDataFileManagerRef()->PrepareRecord(), LevelQuiet);
}
std::function<void()> ReadRecord(std::int32_t id) {
  return [id] {
    SetDemoDataId(id);
    ASSERT_EQ(DemoData().Get(DemoDataIdKey()), 0);
  };
}

// Reads record `id` under watch, as the browse does before it runs the form.
std::function<void()> WatchRecord(std::int32_t id) {
  return [id] {
    SetDemoDataId(id);
    static_cast<void>(DemoData().Watch());
    ASSERT_EQ(DemoData().Get(DemoDataIdKey()), 0);
  };
}

class FormRequestsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("form-requests");
    ASSERT_TRUE(work_->Ok());
    rt::ClearHooks();
    backend_ = rt::InstallHeadlessBackend();
    RegisterApplicationHooks();
    RegisterFormWindow();
  }
  void TearDown() override {
    rt::ClearHooks();
    work_.reset();
  }

  // Runs `body` as program main (thread 1) on a table of three documents 1-3.
  void InProgram(const std::function<void()>& body) {
    rt::RunProgram([&] {
      StartGlobalErrors();
      CreateDemoDataManagers();
      static_cast<void>(DemoDataRelationManagerRef()->Open());
      for (const char* name : {"one.pdf", "two.pdf", "three.pdf"}) {
        static_cast<void>(DemoDataFileManagerRef()->PrepareRecord());
        SetDemoDataFileName(name);
        static_cast<void>(DemoDataRelationManagerRef()->Insert());
      }
      static_cast<void>(DemoDataRelationManagerRef()->Close());
      body();
    });
  }

  // The table as thread 1 reads it.
  static Rows Table() {
    Rows rows;
    static_cast<void>(DemoDataRelationManagerRef()->Open());
    rt::File& file = DemoData();
    static_cast<void>(file.Set(DemoDataIdKey()));
    while (file.Next() == 0)
      rows[DemoDataId()] = std::string(rt::ClipText(DemoDataFileName()));
    static_cast<void>(DemoDataRelationManagerRef()->Close());
    return rows;
  }

  // Runs the form on a thread of its own for `request`; `prepare` runs there first. `drive`
  // acts as the user while the window is open; a window left open is closed afterwards.
  Outcome RunForm(std::uint8_t request, const std::function<void()>& prepare,
                  const std::function<void(TestForm&)>& configure,
                  const std::function<void(Robot&, int)>& drive) {
    Outcome outcome;
    rt::Start([&](const std::vector<std::string>&) {
      static_cast<void>(DemoDataRelationManagerRef()->Open());
      if (prepare) prepare();
      auto window = rt::Window::Prepare(kModule, kWindowName);
      window->Bind(kIdEntry, rt::AnyRef(DemoData().Record(), DemoDataLayout().Field(1)));
      window->Bind(kNameEntry, rt::AnyRef(DemoData().Record(), DemoDataLayout().Field(2)));
      GlobalRequest() = request;
      TestForm form(*window);
      form.configure = configure;
      outcome.response = form.Run();
      outcome.opened = form.opened;
      static_cast<void>(DemoDataRelationManagerRef()->Close());
    });
    if (drive) {
      Robot robot(backend_);
      const int id = robot.WaitForWindow(kCaption);
      EXPECT_NE(id, 0);
      if (id != 0 && robot.WaitIdle()) {
        drive(robot, id);
        if (robot.Window(id)) robot.CloseWindow(id);
        EXPECT_TRUE(robot.WaitClosed(id));
      }
    }
    rt::JoinAllThreads();
    return outcome;
  }

  std::vector<std::string> Captions() const {
    std::vector<std::string> captions;
    for (const auto& m : testing_support::MessagesOf(*backend_))
      captions.push_back(m.caption);
    return captions;
  }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
};

const Rows kSeeded{{1, "one.pdf"}, {2, "two.pdf"}, {3, "three.pdf"}};

TEST_F(FormRequestsTest, CancelledInsertRemovesItsPrimedRecordAndAsksOnlyAfterChanges) {
  InProgram([&] {
    // Nothing typed: no question, and the record added when priming is gone again.
    Outcome quiet = RunForm(InsertRecord, PrimeNew, {}, [](Robot& robot, int id) {
      EXPECT_EQ(IdShown(robot, id), "4");
      EXPECT_TRUE(robot.Press(id, kCancel));
    });
    EXPECT_EQ(quiet.response, RequestCancelled);
    EXPECT_TRUE(Captions().empty());
    EXPECT_EQ(Table(), kSeeded);

    // Typed: the question is asked; declining keeps the form, confirming discards.
    bool openAfterNo = false;
    Outcome asked = RunForm(
        InsertRecord, PrimeNew, [](TestForm& f) { f.CancelAction = 2; },
        [&](Robot& robot, int id) {
          EXPECT_TRUE(robot.Type(id, kNameEntry, "picked.pdf"));
          robot.Answer(rt::kButtonNo);
          EXPECT_TRUE(robot.Press(id, kCancel));
          ASSERT_TRUE(robot.WaitIdle());
          openAfterNo = robot.Window(id).has_value();
          robot.Answer(rt::kButtonYes);
          EXPECT_TRUE(robot.Press(id, kCancel));
        });
    EXPECT_TRUE(openAfterNo);
    EXPECT_EQ(asked.response, RequestCancelled);
    EXPECT_EQ(Captions(),
              (std::vector<std::string>{"Changes will be lost!", "Changes will be lost!"}));
    EXPECT_EQ(Table(), kSeeded);

    // With the default cancel action the form offers to save: No discards as well.
    backend_->ClearTranscript();
    RunForm(InsertRecord, PrimeNew, {}, [](Robot& robot, int id) {
      EXPECT_TRUE(robot.Type(id, kNameEntry, "unsaved.pdf"));
      robot.Answer(rt::kButtonNo);
      EXPECT_TRUE(robot.Press(id, kCancel));
    });
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Save Record"}));
    EXPECT_EQ(Table(), kSeeded);

    // A record stored with Save stays when the form is then cancelled.
    RunForm(InsertRecord, PrimeNew, {}, [](Robot& robot, int id) {
      EXPECT_TRUE(robot.Type(id, kNameEntry, "saved.pdf"));
      EXPECT_TRUE(robot.Press(id, kSave));
      ASSERT_TRUE(robot.WaitIdle());
      EXPECT_TRUE(robot.Press(id, kCancel));
    });
    Rows withSaved = kSeeded;
    withSaved[4] = "saved.pdf";
    EXPECT_EQ(Table(), withSaved);
  });
}

TEST_F(FormRequestsTest, InsertActionsCloseOrOfferAnotherRecord) {
  InProgram([&] {
    // 2: the insert closes the form.
    Outcome closed = RunForm(InsertRecord, PrimeNew, {}, [](Robot& robot, int id) {
      EXPECT_TRUE(robot.Type(id, kNameEntry, "a.pdf"));
      EXPECT_TRUE(robot.Press(id, kOk));
      EXPECT_TRUE(robot.WaitClosed(id));
    });
    EXPECT_EQ(closed.response, RequestCompleted);

    // 4: "Record Added" asks for another; Yes gives a fresh numbered record, No closes.
    std::vector<std::string> screens;
    Outcome asked = RunForm(
        InsertRecord, PrimeNew, [](TestForm& f) { f.InsertAction = kInsertAskNext; },
        [&](Robot& robot, int id) {
          EXPECT_TRUE(robot.Type(id, kNameEntry, "b.pdf"));
          robot.Answer(rt::kButtonYes);
          EXPECT_TRUE(robot.Press(id, kOk));
          ASSERT_TRUE(robot.WaitIdle());
          screens = {IdShown(robot, id), robot.ScreenText(id, kNameEntry)};
          EXPECT_TRUE(robot.Type(id, kNameEntry, "c.pdf"));
          robot.Answer(rt::kButtonNo);
          EXPECT_TRUE(robot.Press(id, kOk));
          EXPECT_TRUE(robot.WaitClosed(id));
        });
    EXPECT_EQ(screens, (std::vector<std::string>{"6", ""}));
    EXPECT_EQ(asked.response, RequestCompleted);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Record Added", "Record Added"}));

    // 3: another record at once; cancelling it removes only that one and still reports
    // the one inserted.
    Outcome another = RunForm(
        InsertRecord, PrimeNew, [](TestForm& f) { f.InsertAction = kInsertNext; },
        [&](Robot& robot, int id) {
          EXPECT_TRUE(robot.Type(id, kNameEntry, "d.pdf"));
          EXPECT_TRUE(robot.Press(id, kOk));
          ASSERT_TRUE(robot.WaitIdle());
          EXPECT_EQ(IdShown(robot, id), "8");
          EXPECT_TRUE(robot.Press(id, kCancel));
        });
    EXPECT_EQ(another.response, RequestCompleted);
    Rows expected = kSeeded;
    expected.insert({{4, "a.pdf"}, {5, "b.pdf"}, {6, "c.pdf"}, {7, "d.pdf"}});
    EXPECT_EQ(Table(), expected);
  });
}

TEST_F(FormRequestsTest, DeleteRequestsAndUnchangedChange) {
  InProgram([&] {
    // Deleted at once, with confirmation: the window never opens.
    backend_->PushAnswer(rt::kButtonNo);
    Outcome declined = RunForm(DeleteRecord, ReadRecord(1), {}, {});
    backend_->PushAnswer(rt::kButtonYes);
    Outcome confirmed = RunForm(DeleteRecord, ReadRecord(2), {}, {});
    EXPECT_FALSE(declined.opened || confirmed.opened);
    EXPECT_EQ(declined.response, RequestCancelled);
    EXPECT_EQ(confirmed.response, RequestCompleted);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Confirm Delete", "Confirm Delete"}));
    EXPECT_EQ(Table(), (Rows{{1, "one.pdf"}, {3, "three.pdf"}}));

    // Deleted on completion, without a question.
    Outcome onOk = RunForm(
        DeleteRecord, ReadRecord(3), [](TestForm& f) { f.DeleteAction = kDeleteOnCompletion; },
        [](Robot& robot, int id) {
          EXPECT_TRUE(robot.Press(id, kOk));
          EXPECT_TRUE(robot.WaitClosed(id));
        });
    EXPECT_EQ(onOk.response, RequestCompleted);
    EXPECT_EQ(Table(), (Rows{{1, "one.pdf"}}));

    // A change completed without modification: completed unless a navigation is pending.
    Outcome unchanged = RunForm(ChangeRecord, ReadRecord(1), {}, [](Robot& robot, int id) {
      EXPECT_TRUE(robot.Press(id, kOk));
      EXPECT_TRUE(robot.WaitClosed(id));
    });
    Outcome navigating = RunForm(
        ChangeRecord, ReadRecord(1), [](TestForm& f) { f.pending = NavigateNext; },
        [](Robot& robot, int id) {
          EXPECT_TRUE(robot.Press(id, kOk));
          EXPECT_TRUE(robot.WaitClosed(id));
        });
    EXPECT_EQ(unchanged.response, RequestCompleted);
    EXPECT_EQ(navigating.response, RequestCancelled);
    EXPECT_EQ(Captions().size(), 2u);  // no question since the deletes
  });
}

TEST_F(FormRequestsTest, AnotherStationsChangeIsShownAndYoursRecalled) {
  testing_support::OtherProcess other(testing_support::OtherInstanceCommand,
                                      testing_support::AsOtherProgram);
  ASSERT_TRUE(other.Started());
  InProgram([&] {
    std::vector<std::string> screens;
    Rows afterRefusal;
    Outcome outcome = RunForm(ChangeRecord, ReadRecord(2), {}, [&](Robot& robot, int id) {
      EXPECT_TRUE(robot.Type(id, kNameEntry, "mine.pdf"));
      ASSERT_TRUE(other.Do("store 2 theirs.pdf"));
      EXPECT_TRUE(robot.Press(id, kOk));
      ASSERT_TRUE(robot.WaitIdle());
      afterRefusal = Table();
      screens.push_back(robot.ScreenText(id, kNameEntry));
      EXPECT_TRUE(robot.SendKey(id, kNameEntry, rt::key::kCtrlH));
      ASSERT_TRUE(robot.WaitIdle());
      screens.push_back(robot.ScreenText(id, kNameEntry));
      EXPECT_TRUE(robot.Press(id, kOk));
      EXPECT_TRUE(robot.WaitClosed(id));
    });
    auto messages = testing_support::MessagesOf(*backend_);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "Record Was Not Updated");
    EXPECT_NE(messages[0].text.find("Those changes will now be displayed"), std::string::npos);
    EXPECT_EQ(afterRefusal.at(2), "theirs.pdf");
    EXPECT_EQ(screens, (std::vector<std::string>{"theirs.pdf", "mine.pdf"}));
    EXPECT_EQ(outcome.response, RequestCompleted);
    EXPECT_EQ(Table().at(2), "mine.pdf");
  });
}

TEST_F(FormRequestsTest, AnotherStationsDeleteIsReportedAndNothingComesBack) {
  testing_support::OtherProcess other(testing_support::OtherInstanceCommand,
                                      testing_support::AsOtherProgram);
  ASSERT_TRUE(other.Started());
  InProgram([&] {
    bool stayedOpen = false;
    Outcome outcome = RunForm(
        ChangeRecord, ReadRecord(2), [](TestForm& f) { f.CancelAction = 2; },
        [&](Robot& robot, int id) {
          EXPECT_TRUE(robot.Type(id, kNameEntry, "mine.pdf"));
          ASSERT_TRUE(other.Do("delete 2"));
          EXPECT_TRUE(robot.Press(id, kOk));
          ASSERT_TRUE(robot.WaitIdle());
          stayedOpen = robot.Window(id).has_value();
          robot.Answer(rt::kButtonYes);
          EXPECT_TRUE(robot.Press(id, kCancel));
        });
    EXPECT_TRUE(stayedOpen);
    auto messages = testing_support::MessagesOf(*backend_);
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages[0].text.find("changed or deleted by another station"), std::string::npos);
    EXPECT_EQ(outcome.response, RequestCancelled);
    EXPECT_EQ(Table(), (Rows{{1, "one.pdf"}, {3, "three.pdf"}}));
  });
}

// The browse read the row under watch; before the user confirms, the other station changes
// or deletes it. The delete neither throws their change away nor reports success for nothing.
TEST_F(FormRequestsTest, AnotherStationsChangeOrDeleteStopsYourDelete) {
  testing_support::OtherProcess other(testing_support::OtherInstanceCommand,
                                      testing_support::AsOtherProgram);
  ASSERT_TRUE(other.Started());
  InProgram([&] {
    auto readThen = [&other](std::int32_t id, const char* command) {
      return [&other, id, command] {
        WatchRecord(id)();
        ASSERT_TRUE(other.Do(command));
      };
    };
    backend_->PushAnswer(rt::kButtonYes);
    Outcome changed = RunForm(DeleteRecord, readThen(2, "store 2 theirs.pdf"), {}, {});
    EXPECT_EQ(changed.response, RequestCancelled);
    EXPECT_EQ(Table(), (Rows{{1, "one.pdf"}, {2, "theirs.pdf"}, {3, "three.pdf"}}));
    auto messages = testing_support::MessagesOf(*backend_);
    ASSERT_EQ(messages.size(), 2u);  // no offer to delete again unseen
    EXPECT_EQ(messages[0].caption, "Confirm Delete");
    EXPECT_NE(messages[1].text.find("changed by another station"), std::string::npos);

    // Seen (read again), their version can be deleted.
    backend_->PushAnswer(rt::kButtonYes);
    EXPECT_EQ(RunForm(DeleteRecord, WatchRecord(2), {}, {}).response, RequestCompleted);
    EXPECT_EQ(Table(), (Rows{{1, "one.pdf"}, {3, "three.pdf"}}));

    backend_->ClearTranscript();
    backend_->PushAnswer(rt::kButtonYes);
    Outcome gone = RunForm(DeleteRecord, readThen(3, "delete 3"), {}, {});
    EXPECT_EQ(gone.response, RequestCancelled);
    messages = testing_support::MessagesOf(*backend_);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[1].text.find("deleted by another station"), std::string::npos);
    EXPECT_EQ(Table(), (Rows{{1, "one.pdf"}}));
  });
}

// Writes that fail ask whether to try again: Yes retries, Cancel stays with the focus back
// on the first field, No gives up (and closes, unless the form is inserting). A delete
// answered with a button it did not offer stays as Cancel does.
TEST_F(FormRequestsTest, FailedUpdatesAndDeletesAskToRetry) {
  testing_support::OtherProcess other(testing_support::OtherInstanceCommand,
                                      testing_support::AsOtherProgram);
  ASSERT_TRUE(other.Started());
  InProgram([&] {
    auto count = [&](const char* caption) {
      const auto all = Captions();
      return std::count(all.begin(), all.end(), caption);
    };
    // A change to the number of another record cannot be written.
    std::vector<bool> stayed;
    std::vector<int> focus;
    Outcome change = RunForm(
        ChangeRecord, ReadRecord(2), [](TestForm& f) { f.CancelAction = 2; },
        [&](Robot& robot, int id) {
          EXPECT_TRUE(robot.Type(id, kIdEntry, "1"));
          for (int answer : {rt::kButtonOk, rt::kButtonYes, rt::kButtonOk, rt::kButtonCancel})
            robot.Answer(answer);
          EXPECT_TRUE(robot.Press(id, kOk));
          ASSERT_TRUE(robot.WaitIdle());
          stayed.push_back(robot.Window(id).has_value());
          focus.push_back(robot.Focused(id));
          for (int answer : {rt::kButtonOk, rt::kButtonNo, rt::kButtonYes})
            robot.Answer(answer);  // ... and "Changes will be lost!" when it closes
          EXPECT_TRUE(robot.Press(id, kOk));
          EXPECT_TRUE(robot.WaitClosed(id));
        });
    EXPECT_EQ(count("Record Update Error"), 3);
    EXPECT_EQ(change.response, RequestCancelled);
    EXPECT_EQ(Table(), kSeeded);

    // Inserted with Save, then changed to a number in use: No keeps the inserting form.
    backend_->ClearTranscript();
    Outcome insert = RunForm(
        InsertRecord, PrimeNew, [](TestForm& f) { f.CancelAction = 2; },
        [&](Robot& robot, int id) {
          EXPECT_TRUE(robot.Type(id, kNameEntry, "saved.pdf"));
          EXPECT_TRUE(robot.Press(id, kSave));
          ASSERT_TRUE(robot.WaitIdle());
          EXPECT_TRUE(robot.Type(id, kIdEntry, "1"));
          robot.Answer(rt::kButtonOk);
          robot.Answer(rt::kButtonNo);
          EXPECT_TRUE(robot.Press(id, kOk));
          ASSERT_TRUE(robot.WaitIdle());
          stayed.push_back(robot.Window(id).has_value());
          robot.Answer(rt::kButtonYes);
          EXPECT_TRUE(robot.Press(id, kCancel));
        });
    EXPECT_EQ(count("Record Update Error"), 1);
    EXPECT_EQ(insert.response, RequestCancelled);
    Rows withSaved = kSeeded;
    withSaved[4] = "saved.pdf";
    EXPECT_EQ(Table(), withSaved);

    // A transaction on the server locks only the rows it writes: the hold below, which keeps
    // every other station from writing, is the local file's.
    if (testing_support::OnServer()) {
      EXPECT_EQ(stayed, std::vector<bool>(2, true));
      EXPECT_EQ(focus, std::vector<int>{kNameEntry});
      return;
    }
    // Another station keeps the table from being written while the delete on completion
    // runs (after a second's wait instead of the usual five).
    backend_->ClearTranscript();
    Outcome deleted = RunForm(
        DeleteRecord, ReadRecord(3),
        [](TestForm& f) {
          f.DeleteAction = kDeleteOnCompletion;
          EXPECT_EQ(DemoData().Send("RECOVER=1"), 0);
        },
        [&](Robot& robot, int id) {
          ASSERT_TRUE(other.Do("hold"));
          // Yes tries again; a button not offered stays; Cancel stays; No closes.
          for (int answer : {rt::kButtonOk, rt::kButtonYes, rt::kButtonOk, rt::kButtonOk}) {
            robot.Answer(answer);
          }
          EXPECT_TRUE(robot.Press(id, kOk));
          ASSERT_TRUE(robot.WaitIdle());
          stayed.push_back(robot.Window(id).has_value());
          robot.Answer(rt::kButtonOk);
          robot.Answer(rt::kButtonCancel);
          EXPECT_TRUE(robot.Press(id, kOk));
          ASSERT_TRUE(robot.WaitIdle());
          stayed.push_back(robot.Window(id).has_value());
          robot.Answer(rt::kButtonOk);
          robot.Answer(rt::kButtonNo);
          EXPECT_TRUE(robot.Press(id, kOk));
          EXPECT_TRUE(robot.WaitClosed(id));
          EXPECT_TRUE(other.Do("release"));
        });
    EXPECT_EQ(count("Record Delete Error"), 4);
    EXPECT_EQ(deleted.response, RequestCancelled);
    EXPECT_EQ(Table(), withSaved);  // nothing deleted
    EXPECT_EQ(stayed, std::vector<bool>(4, true));
    EXPECT_EQ(focus, std::vector<int>{kNameEntry});
  });
}

// With DisableCancelButton, Cancel cannot be pressed after a successful Save until the form
// is used again.
TEST_F(FormRequestsTest, SavingDisablesCancelUntilTheFormIsUsedAgain) {
  InProgram([&] {
    std::vector<bool> cancelEnabled;
    Outcome outcome = RunForm(
        InsertRecord, PrimeNew, [](TestForm& f) { f.DisableCancelButton = 1; },
        [&](Robot& robot, int id) {
          cancelEnabled.push_back(robot.Enabled(id, kCancel));
          EXPECT_TRUE(robot.Type(id, kNameEntry, "first.pdf"));
          EXPECT_TRUE(robot.Press(id, kSave));  // inserts
          ASSERT_TRUE(robot.WaitIdle());
          cancelEnabled.push_back(robot.Enabled(id, kCancel));
          EXPECT_TRUE(robot.Type(id, kNameEntry, "second.pdf"));
          ASSERT_TRUE(robot.WaitIdle());
          cancelEnabled.push_back(robot.Enabled(id, kCancel));
          EXPECT_TRUE(robot.Press(id, kSave));  // changes
          ASSERT_TRUE(robot.WaitIdle());
          cancelEnabled.push_back(robot.Enabled(id, kCancel));
          EXPECT_TRUE(robot.Press(id, kOk));
          EXPECT_TRUE(robot.WaitClosed(id));
        });
    EXPECT_EQ(cancelEnabled, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(outcome.response, RequestCompleted);
    Rows expected = kSeeded;
    expected[4] = "second.pdf";
    EXPECT_EQ(Table(), expected);
  });
}

}  // namespace
