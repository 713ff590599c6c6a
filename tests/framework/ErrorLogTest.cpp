// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/error/ErrorLog.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <thread>

#include "framework/error/ErrorHooks.h"
#include "framework/error/ErrorManager.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "support/WorkDir.h"

namespace {

namespace fs = std::filesystem;

using testing_support::ReadLines;

class ErrorLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("error-log");
    ASSERT_TRUE(work_->Ok());
    backend_ = rt::InstallHeadlessBackend();
    rt::ClearError();
  }
  void TearDown() override {
    rt::ClearError();
    work_.reset();
  }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
};

TEST_F(ErrorLogTest, FirstMessageCreatesTheFileAndLaterOnesAppend) {
  rt::ThreadLocal<ErrorStatus> status;
  {
    ErrorManager manager;
    manager.Start(status);
    manager.SetLogErrors(1);
    ASSERT_FALSE(fs::exists(kErrorLogFileName));
    manager.SetFile("DemoData");
    static_cast<void>(manager.Throw(6));
    ASSERT_TRUE(fs::exists(kErrorLogFileName));
    static_cast<void>(manager.Throw(28));
    // The log is closed between messages.
    EXPECT_FALSE(manager.StdErrorLog->IsFileOpen());
  }
  status.Destroy();
  auto lines = ReadLines(kErrorLogFileName);
  ASSERT_EQ(lines.size(), 2u);
  const std::regex format(R"(^\d{4}-\d{2}-\d{2}@\d{2}:\d{2}:\d{2} --> (.*)$)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, format)) << lines[0];
  EXPECT_EQ(match[1], "File DemoData could not be closed.  Error:  (0).");
  ASSERT_TRUE(std::regex_match(lines[1], match, format)) << lines[1];
  EXPECT_EQ(match[1], "There are no records available to process.");
}

TEST_F(ErrorLogTest, StampedLineReadsDateAtTimeArrowText) {
  ErrorLog log;
  ASSERT_EQ(log.Open(0), LevelQuiet);
  const std::string before = ErrorLog::Stamp();
  EXPECT_EQ(log.Take(ErrorLog::Stamp() + " --> Record not found"), LevelQuiet);
  const std::string after = ErrorLog::Stamp();
  log.Close(0);
  auto lines = ReadLines(kErrorLogFileName);
  ASSERT_EQ(lines.size(), 1u);
  const std::regex format(
      R"(^(\d{4}-(\d{2})-(\d{2})@(\d{2}):(\d{2}):(\d{2})) --> Record not found$)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, format)) << lines[0];
  EXPECT_GE(match[1].str(), before);
  EXPECT_LE(match[1].str(), after);
  EXPECT_LE(std::stoi(match[2]), 12);
  EXPECT_LE(std::stoi(match[3]), 31);
  EXPECT_LE(std::stoi(match[4]), 23);
  EXPECT_LE(std::stoi(match[5]), 59);
  EXPECT_LE(std::stoi(match[6]), 59);
}

TEST_F(ErrorLogTest, ExistingLogIsAppendedToAndErrorStateKept) {
  std::ofstream(kErrorLogFileName) << "earlier run\n";
  ErrorLog log;
  ASSERT_EQ(log.Open(0), LevelQuiet);
  // Writing the log leaves the reporting thread's error as it was.
  rt::SetError(rt::kNoRecordError);
  EXPECT_EQ(log.Take("this run"), LevelQuiet);
  EXPECT_EQ(rt::ErrorCode(), rt::kNoRecordError);
  log.Close(0);
  EXPECT_EQ(rt::ErrorCode(), rt::kNoRecordError);
  EXPECT_EQ(ReadLines(kErrorLogFileName), (std::vector<std::string>{"earlier run", "this run"}));
}

TEST_F(ErrorLogTest, LinesFromThreadsAndProcessesStayWhole) {
  constexpr int kWriters = 3;
  constexpr int kLines = 200;
  const auto lineOf = [](int writer, int i) {
    return "writer-" + std::to_string(writer) + "-line-" + std::to_string(i) + "-" +
           std::string(200, static_cast<char>('a' + writer));
  };
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ErrorLog log;
      bool ok = log.Open(0) == LevelQuiet;
      for (int i = 0; i < kLines; ++i)
        ok = log.Take(lineOf(w, i)) == LevelQuiet && ok;
      log.Close(0);
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  {
    // Threads of this process share one log object without a critical section of their own.
    ErrorLog shared;
    ASSERT_EQ(shared.Open(0), LevelQuiet);
    std::vector<std::thread> threads;
    for (int w = kWriters; w < 2 * kWriters; ++w) {
      threads.emplace_back([&shared, &lineOf, w] {
        for (int i = 0; i < kLines; ++i)
          shared.Take(lineOf(w, i));
      });
    }
    for (auto& t : threads)
      t.join();
    shared.Close(0);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  std::set<std::string> expected;
  for (int w = 0; w < 2 * kWriters; ++w) {
    for (int i = 0; i < kLines; ++i)
      expected.insert(lineOf(w, i));
  }
  auto lines = ReadLines(kErrorLogFileName);
  EXPECT_EQ(lines.size(), expected.size());
  EXPECT_EQ(std::set<std::string>(lines.begin(), lines.end()), expected);
}

TEST_F(ErrorLogTest, OpensNestAndForcedCloseEndsThem) {
  ErrorLog log;
  EXPECT_EQ(log.Open(0), LevelQuiet);
  EXPECT_EQ(log.Open(0), LevelQuiet);
  EXPECT_EQ(log.Close(0), LevelQuiet);
  EXPECT_TRUE(log.IsFileOpen());
  EXPECT_EQ(log.Take("still open"), LevelQuiet);
  EXPECT_EQ(log.Close(0), LevelQuiet);
  EXPECT_FALSE(log.IsFileOpen());
  EXPECT_EQ(log.Usage, 0);

  log.Open(0);
  log.Open(0);
  log.Open(0);
  EXPECT_EQ(log.Close(1), LevelQuiet);
  EXPECT_FALSE(log.IsFileOpen());
  EXPECT_EQ(log.Usage, 0);
  EXPECT_EQ(ReadLines(kErrorLogFileName), std::vector<std::string>{"still open"});
}

TEST_F(ErrorLogTest, UnmatchedCloseDoesNotBlockLaterOpens) {
  ErrorLog log;
  EXPECT_EQ(log.Take("nothing open"), LevelNotify);
  EXPECT_EQ(log.Close(0), LevelQuiet);
  EXPECT_EQ(log.Usage, 0);
  EXPECT_EQ(log.Open(0), LevelQuiet);
  EXPECT_TRUE(log.IsFileOpen());
  EXPECT_EQ(log.Take("written"), LevelQuiet);
  log.Close(0);
  EXPECT_EQ(ReadLines(kErrorLogFileName), std::vector<std::string>{"written"});
}

TEST_F(ErrorLogTest, LongAndMultiLineTextsStayOneBoundedLine) {
  ErrorLog log;
  log.Open(0);
  EXPECT_EQ(log.Take(std::string(3000, 'x')), LevelQuiet);
  EXPECT_EQ(log.Take("first\nsecond\r\nthird"), LevelQuiet);
  // Cutting never splits a multi-byte character.
  EXPECT_EQ(log.Take(std::string(1023, 'a') + "\xC3\xA9"), LevelQuiet);
  log.Close(0);
  auto lines = ReadLines(kErrorLogFileName);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string(kErrorLogLineLength, 'x'));
  EXPECT_EQ(lines[1], "first second  third");
  EXPECT_EQ(lines[2], std::string(1023, 'a'));
}

TEST_F(ErrorLogTest, UnwritableLogNeverStopsAMessage) {
  ErrorLog broken("no-such-dir/OrvError.Log");
  EXPECT_EQ(broken.Open(0), LevelNotify);
  EXPECT_EQ(broken.Take("lost"), LevelNotify);

  rt::ThreadLocal<ErrorStatus> status;
  {
    ErrorManager manager;
    manager.Start(status);
    manager.Init(&broken);
    manager.SetLogErrors(1);
    for (int i = 0; i < 2; ++i)
      EXPECT_EQ(manager.Throw(28), LevelNotify);
  }
  status.Destroy();
  auto transcript = backend_->Transcript();
  ASSERT_EQ(transcript.size(), 2u);
  EXPECT_EQ(transcript[1].caption, "No Records");
  EXPECT_EQ(broken.Usage, 0);
}

TEST_F(ErrorLogTest, HooksShareOneManagerAndGiveEachThreadItsOwnStatus) {
  rt::ClearHooks();
  RegisterErrorHooks();
  std::string seenInThread;
  ErrorManager* inMain = nullptr;
  ErrorManager* inThread = nullptr;
  rt::RunProgram([&] {
    StartGlobalErrors();
    inMain = &GlobalErrors();
    GlobalErrors().SetLogErrors(1);
    GlobalErrors().SetProcedureName("MainFrame");
    GlobalErrors().SetFile("main-file");
    rt::Start([&](const std::vector<std::string>&) {
      inThread = &GlobalErrors();
      GlobalErrors().SetProcedureName("BrowseData");
      GlobalErrors().AddError(900, "%Procedure:%File", "T", LevelNotify);
      static_cast<void>(GlobalErrors().Throw(900));
      GlobalErrors().SetProcedureName({}, true);
    });
    rt::JoinAllThreads();
    static_cast<void>(GlobalErrors().Throw(900));
  });
  rt::ClearHooks();
  EXPECT_EQ(inMain, inThread);
  auto transcript = backend_->Transcript();
  ASSERT_EQ(transcript.size(), 2u);
  EXPECT_EQ(transcript[0].text, "BrowseData:");
  EXPECT_EQ(transcript[1].text, "MainFrame:main-file");
  // Process end released the manager, which closed the log for good.
  EXPECT_EQ(ReadLines(kErrorLogFileName).size(), 2u);
}

}  // namespace
