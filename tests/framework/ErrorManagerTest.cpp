// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/error/ErrorManager.h"
#include "framework/error/ProcedureNameScope.h"
#include "support/WorkDir.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <optional>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "framework/error/DefaultErrorTable.h"
#include "framework/error/HistoryPresenter.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/windows/HeadlessBackend.h"

namespace {

namespace fs = std::filesystem;

using testing_support::ReadLines;

class ErrorManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("error-manager");
    ASSERT_TRUE(work_->Ok());
    dir_ = work_->Path();
    backend_ = rt::InstallHeadlessBackend();
    rt::ClearError();
    manager_.Start(status_);
  }
  void TearDown() override {
    SetHistoryPresenter(nullptr);
    manager_.Kill();
    status_.Destroy();
    work_.reset();
  }
  std::vector<rt::UiRequest> Messages() const { return testing_support::MessagesOf(*backend_); }

  std::optional<testing_support::WorkDir> work_;
  fs::path dir_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  rt::ThreadLocal<ErrorStatus> status_;
  ErrorManager manager_;
};

// Identifiers outside the default table, for entries the tests add.
constexpr std::uint16_t kTestId = 900;
constexpr std::uint16_t kOtherId = 901;

TEST_F(ErrorManagerTest, DefaultTableHoldsEveryEntryWithItsLevel) {
  std::set<int> ask = {3, 10, 11, 38, 39, 40, 41, 42, 43};
  std::set<int> fatal = {12, 24, 26, 29, 32, 51, 52, 53, 54};
  int found = 0;
  for (int id = 0; id <= 60; ++id) {
    ErrorEntry entry;
    if (manager_.FindError(static_cast<std::uint16_t>(id), entry) != LevelQuiet) continue;
    ++found;
    const int expected = ask.count(id)     ? LevelAsk
                         : fatal.count(id) ? LevelFatal
                         : id == 45        ? LevelInternal
                                           : LevelNotify;
    EXPECT_EQ(entry.Fatality, expected) << "entry " << id;
    EXPECT_FALSE(entry.Title.empty()) << "entry " << id;
  }
  EXPECT_EQ(found, 54);

  ErrorEntry entry;
  ASSERT_EQ(manager_.FindError(26, entry), LevelQuiet);
  EXPECT_EQ(entry.Message,
            "%File has an invalid File structure.|Error: %ErrorCode - %Error|FileError: "
            "%FileErrorCode - %FileError|");
  ASSERT_EQ(manager_.FindError(48, entry), LevelQuiet);
  EXPECT_EQ(entry.Message, "The following SMTP Error occurred: %Message ");
  ASSERT_EQ(manager_.FindError(55, entry), LevelQuiet);
  EXPECT_EQ(entry.Message, "Poorly Formed Comment String \"%Message\" at Position %Field.");
  EXPECT_EQ(entry.Title, "Report Writer Error");
  EXPECT_EQ(manager_.FindError(17, entry), LevelNotify);
  EXPECT_EQ(manager_.FindError(35, entry), LevelNotify);
}

TEST_F(ErrorManagerTest, PlaceholdersAreFilledFromTheThreadsStatus) {
  manager_.AddError(kTestId, "[%FileErrorCode][%FileError][%File][%key][%ERRORCODE][%Error]", "T",
                    LevelQuiet);
  rt::SetError(5, "Access Denied", "13", "permission denied");
  manager_.SetErrors();
  manager_.SetFile("DemoData   ");
  manager_.SetKey("DEM:ID_Key");
  manager_.SelectError(kTestId);
  EXPECT_EQ(manager_.ExpandText(),
            "[13][permission denied][DemoData][DEM:ID_Key][5][Access Denied]");
}

TEST_F(ErrorManagerTest, ErrorTextTakesTheDriversDetailOnlyForDriverCodes) {
  manager_.AddError(kTestId, "%ErrorText", "T", LevelQuiet);
  for (int code : {90, 100, 47}) {
    rt::SetError(code, "runtime says", "S1", "driver says");
    manager_.SetErrors();
    manager_.SelectError(kTestId);
    EXPECT_EQ(manager_.ExpandText(), "driver says (S1)") << code;
  }
  rt::SetError(33, "runtime says", "S1", "driver says");
  manager_.SetErrors();
  manager_.SelectError(kTestId);
  EXPECT_EQ(manager_.ExpandText(), "runtime says (33)");
}

TEST_F(ErrorManagerTest, SubstitutionNeverLoopsAndIsCut) {
  manager_.AddError(kTestId, "a %Message b %Message", "T", LevelQuiet);
  manager_.SelectError(kTestId);
  static_cast<void>(
      manager_.ThrowMessage(kOtherId, "%message"));  // equal to its placeholder: left as it is
  manager_.SelectError(kTestId);
  EXPECT_EQ(manager_.ExpandText(), "a %Message b %Message");

  static_cast<void>(manager_.ThrowMessage(kOtherId, "x%Message"));
  manager_.SelectError(kTestId);
  EXPECT_EQ(manager_.ExpandText(), "a x%Message b x%Message");

  // A value inserted early is scanned by the later placeholders.
  manager_.AddError(kTestId, "%File", "T", LevelQuiet);
  manager_.SetFile("table-%Key");
  manager_.SetKey("k1");
  manager_.SelectError(kTestId);
  EXPECT_EQ(manager_.ExpandText(), "table-k1");

  // Values are cut to their buffers, the expanded text to its own limit.
  manager_.SetFile(std::string(5000, 'f'));
  EXPECT_EQ(status_->FileName.size(), kErrorNameSize - 1);
  manager_.AddError(kTestId, "%File%File%File", "T", LevelQuiet);
  manager_.SelectError(kTestId);
  EXPECT_EQ(manager_.ExpandText(), std::string(kExpandedTextLength, 'f'));
}

TEST_F(ErrorManagerTest, PreviousAndCategoryPlaceholders) {
  manager_.AddError(kTestId, "now: %Previous / %Category", "T", LevelQuiet, "Data");
  manager_.SelectError(29);
  manager_.SelectError(kTestId);
  EXPECT_EQ(manager_.ExpandText(),
            "now: File %File could not be opened.  Error: %ErrorText. / Data");
  manager_.SelectError(kOtherId);  // absent: an empty entry
  manager_.SelectError(kTestId);
  EXPECT_EQ(manager_.ExpandText(), "now:  / Data");
}

TEST_F(ErrorManagerTest, LevelsDecideWhatIsShownAndReturned) {
  // Unknown identifier: nothing shown, quiet.
  EXPECT_EQ(manager_.Throw(kOtherId), LevelQuiet);
  EXPECT_TRUE(Messages().empty());

  backend_->PushAnswer(rt::kButtonYes);
  EXPECT_EQ(manager_.Throw(10), LevelQuiet);
  backend_->PushAnswer(rt::kButtonNo);
  EXPECT_EQ(manager_.Throw(10), LevelCancel);
  manager_.AddError(kTestId, "Cancel?", "Cancel level", LevelCancel);
  backend_->PushAnswer(rt::kButtonYes);
  EXPECT_EQ(manager_.Throw(kTestId), LevelQuiet);
  // Any answer but Yes (a box closed some other way) declines.
  backend_->PushAnswer(rt::kButtonCancel);
  EXPECT_EQ(manager_.Throw(kTestId), LevelCancel);

  manager_.SetFile("DemoData");
  EXPECT_EQ(manager_.Throw(4), LevelNotify);

  auto messages = Messages();
  ASSERT_EQ(messages.size(), 5u);
  EXPECT_EQ(messages[0].caption, "Changes will be lost!");
  EXPECT_EQ(messages[0].buttons, rt::kButtonYes | rt::kButtonNo);
  EXPECT_EQ(messages[0].defaultButton, rt::kButtonYes);
  EXPECT_EQ(messages[4].caption, "Record Insert Error");
  EXPECT_EQ(messages[4].buttons, rt::kButtonOk);
  // "|" breaks the shown text into lines.
  EXPECT_EQ(messages[4].text,
            "An error was experienced during the creation of a record.\nFile: DemoData\nError: "
            " (0).");
}

TEST_F(ErrorManagerTest, SilentAnswersTheDefaultButLogsAndRecords) {
  manager_.SetSilent(1);
  manager_.SetLogErrors(1);
  manager_.SetHistoryThreshold(-1);
  backend_->PushAnswer(rt::kButtonNo);  // must not be consumed
  EXPECT_EQ(manager_.Throw(11), LevelQuiet);
  EXPECT_EQ(manager_.MessageById(41, 70, rt::kButtonCancel), rt::kButtonCancel);
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(manager_.HistorySnapshot().size(), 1u);
  EXPECT_EQ(ReadLines(kErrorLogFileName).size(), 1u);
}

TEST_F(ErrorManagerTest, MessageByIdAsksWithTheGivenButtonsWithoutLogOrHistory) {
  manager_.SetLogErrors(1);
  manager_.SetHistoryThreshold(-1);
  backend_->PushAnswer(rt::kButtonNo);
  EXPECT_EQ(manager_.MessageById(41, 70, rt::kButtonCancel), rt::kButtonNo);
  auto messages = Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Save Record");
  EXPECT_EQ(messages[0].buttons, 70);
  EXPECT_EQ(messages[0].defaultButton, rt::kButtonCancel);
  EXPECT_TRUE(manager_.HistorySnapshot().empty());
  EXPECT_FALSE(fs::exists(kErrorLogFileName));
}

TEST_F(ErrorManagerTest, HistoryKeepsTheNewestUpToTheThreshold) {
  EXPECT_EQ(manager_.GetCategory(4), "Orv");
  manager_.SetCategory(4, "Insert");
  manager_.SetHistoryThreshold(3);
  for (int i = 1; i <= 5; ++i)
    static_cast<void>(manager_.ThrowMessage(i == 5 ? 4 : 15, std::to_string(i)));

  auto history = manager_.HistorySnapshot();
  ASSERT_EQ(history.size(), 3u);
  EXPECT_EQ(history[0].Txt, "Adding this record creates a duplicate entry for the key: 3");
  EXPECT_EQ(history[1].Txt, "Adding this record creates a duplicate entry for the key: 4");
  EXPECT_EQ(history[0].Category, "Orv");
  EXPECT_EQ(history[2].Id, 4);
  EXPECT_EQ(history[2].Category, "Insert");
  // With history on, only the view level (fatal by default) is presented.
  EXPECT_TRUE(Messages().empty());
}

// The history goes to the presenter the message window registers; without one, its texts go
// to the runtime's message box, oldest first and one a line.
TEST_F(ErrorManagerTest, HistoryGoesToTheRegisteredPresenterElseToTheMessageBox) {
  manager_.SetHistoryThreshold(-1);
  manager_.SetHistoryViewLevel(LevelNotify);
  static_cast<void>(manager_.ThrowMessage(15, "a"));
  static_cast<void>(manager_.ThrowMessage(15, "b|c"));
  auto messages = Messages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[1].caption, "Duplicate Key Error");
  EXPECT_EQ(messages[1].text,
            "Adding this record creates a duplicate entry for the key: a\n"
            "Adding this record creates a duplicate entry for the key: b\nc");

  std::vector<std::string> presented;
  SetHistoryPresenter([&](ErrorManager& errors, std::string_view caption, std::int32_t icon,
                          int buttons, int defaultButton) {
    presented.push_back(std::string(caption) + "/" + std::to_string(icon) + "/" +
                        std::to_string(buttons) + "/" +
                        std::to_string(errors.HistorySnapshot().size()));
    return defaultButton == rt::kButtonOk ? rt::kButtonHelp : 0;
  });
  EXPECT_EQ(manager_.ShowHistoryWindow("Shown", 7, rt::kButtonOk, rt::kButtonOk), rt::kButtonHelp);
  manager_.ViewHistory();
  EXPECT_EQ(presented, (std::vector<std::string>{"Shown/7/1/2", "Errors History/0/129/2"}));
  EXPECT_EQ(Messages().size(), 2u);
  SetHistoryPresenter(nullptr);
  manager_.ViewHistory();
  EXPECT_EQ(Messages().size(), 3u);
}

TEST_F(ErrorManagerTest, LaterEntriesHideEarlierOnesUntilRemoved) {
  manager_.AddError(10, "Replaced", "New title", LevelNotify);
  manager_.SelectError(10);
  EXPECT_EQ(manager_.GetTitle(), "New title");
  EXPECT_EQ(manager_.GetFatality(), LevelNotify);
  manager_.RemoveError(10);
  manager_.SelectError(10);
  EXPECT_EQ(manager_.GetTitle(), "Changes will be lost!");
  // Identifiers compare on 16 bits.
  manager_.AddError(0xFFFF, "wide", "W", LevelQuiet);
  ErrorEntry entry;
  EXPECT_EQ(manager_.FindError(0xFFFF, entry), LevelQuiet);
  EXPECT_EQ(manager_.GetCategory(-1), "Orv");
}

TEST_F(ErrorManagerTest, DamagedPackedTableAddsNothing) {
  auto table = DefaultErrorTable();
  std::vector<std::uint8_t> truncated(table.begin(), table.end() - 3);
  manager_.RemoveError(56);
  EXPECT_EQ(manager_.AddErrors(truncated), LevelNotify);
  ErrorEntry entry;
  EXPECT_EQ(manager_.FindError(56, entry), LevelNotify);
  std::vector<std::uint8_t> trailing(table.begin(), table.end());
  trailing.push_back(0);
  EXPECT_EQ(manager_.AddErrors(trailing), LevelNotify);
  EXPECT_EQ(manager_.AddErrors({}), LevelNotify);
  EXPECT_EQ(manager_.AddErrors(table), LevelQuiet);
  EXPECT_EQ(manager_.FindError(56, entry), LevelQuiet);
}

TEST_F(ErrorManagerTest, ProcedureNamesAreKeptPerThread) {
  manager_.AddError(kTestId, "in %Procedure", "T", LevelQuiet);
  manager_.SetProcedureName("MainFrame  ");
  std::string inThread;
  std::string afterRemove;
  rt::Start([&](const std::vector<std::string>&) {
    manager_.SetProcedureName("BrowseData");
    manager_.SetProcedureName("UpdateData");
    manager_.SelectError(kTestId);
    inThread = manager_.ExpandText();
    manager_.SetProcedureName({}, true);
    afterRemove = manager_.ExpandText();
    manager_.SetProcedureName({}, true);
  });
  rt::JoinAllThreads();
  EXPECT_EQ(inThread, "in UpdateData");
  EXPECT_EQ(afterRemove, "in BrowseData");
  manager_.SelectError(kTestId);
  EXPECT_EQ(manager_.ExpandText(), "in MainFrame");
  {
    // A procedure's scope pops only the name it pushed, once, and at the latest at its end.
    ProcedureNameScope scope;
    scope.Enter(manager_, "FindText");
    scope.Enter(manager_, "ViewBlob");
    EXPECT_EQ(manager_.GetProcedureName(), "ViewBlob");
    scope.Leave();
    scope.Leave();
    EXPECT_EQ(manager_.GetProcedureName(), "MainFrame");
    scope.Enter(manager_, "FindText");
  }
  EXPECT_EQ(manager_.GetProcedureName(), "MainFrame");
  manager_.SetProcedureName({}, true);
  EXPECT_EQ(manager_.GetProcedureName(), "");
}

TEST_F(ErrorManagerTest, ConcurrentReportsNeverMixValuesOrTearLogLines) {
  manager_.AddError(kTestId, "%File|%Key|%Message", "T", LevelNotify);
  manager_.SetSilent(1);
  manager_.SetLogErrors(1);
  constexpr int kRounds = 300;
  std::atomic<int> mixed{0};
  for (int t = 0; t < 3; ++t) {
    rt::Start([&, t](const std::vector<std::string>&) {
      const std::string tag = "t" + std::to_string(t);
      for (int i = 0; i < kRounds; ++i) {
        const std::string n = tag + "-" + std::to_string(i);
        manager_.SetFile("file-" + n);
        manager_.SetKey("key-" + n);
        static_cast<void>(manager_.ThrowMessage(kTestId, "msg-" + n));
        if (manager_.ExpandText() != "file-" + n + "|key-" + n + "|msg-" + n) ++mixed;
      }
    });
  }
  rt::JoinAllThreads();
  EXPECT_EQ(mixed.load(), 0);

  const std::regex line(
      R"(^\d{4}-\d{2}-\d{2}@\d{2}:\d{2}:\d{2} --> file-(t\d-\d+)\|key-(t\d-\d+)\|msg-(t\d-\d+)$)");
  auto lines = ReadLines(kErrorLogFileName);
  ASSERT_EQ(lines.size(), 3u * kRounds);
  for (const std::string& text : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text, match, line)) << text;
    EXPECT_EQ(match[1], match[2]);
    EXPECT_EQ(match[1], match[3]);
  }
}

TEST_F(ErrorManagerTest, FatalMessageIsShownLoggedAndEndsTheApplication) {
  manager_.SetLogErrors(1);
  manager_.SetFile("DemoData");
  EXPECT_EXIT(static_cast<void>(manager_.Throw(29)), ::testing::ExitedWithCode(0), "");
  // Silent still ends it.
  manager_.SetSilent(1);
  EXPECT_EXIT(static_cast<void>(manager_.Throw(45)), ::testing::ExitedWithCode(0), "");

  auto lines = ReadLines(dir_ / kErrorLogFileName);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(" --> File DemoData could not be opened.  Error:  (0).  Press OK to end "
                          "this application"),
            std::string::npos);
  EXPECT_NE(lines[1].find("Attempt to use file (DemoData) before it was opened  Press OK"),
            std::string::npos);
}

}  // namespace
