#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "app/DemoData.h"
#include "app/Globals.h"
#include "app/Startup.h"
#include "framework/error/ErrorHooks.h"
#include "framework/util/IniManager.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "support/WorkDir.h"

namespace {

// The application's hooks give every started thread a clean request and its own table
// managers before its procedure runs.
TEST(StartupTest, StartedThreadsBeginWithNoRequestAndTheirOwnManagers) {
  rt::ClearHooks();
  auto backend = rt::InstallHeadlessBackend();
  testing_support::WorkDir work("startup");
  ASSERT_TRUE(work.Ok());
  RegisterApplicationHooks();
  std::atomic<int> seenRequest{-1};
  std::atomic<bool> hadManagers{false};
  std::atomic<bool> sameAsMain{true};
  rt::RunProgram([&] {
    StartGlobalErrors();
    CreateDemoDataManagers();
    GlobalRequest() = 6;
    auto* mainManager = DemoDataRelationManagerRef();
    rt::Start([&, mainManager](const std::vector<std::string>&) {
      seenRequest = GlobalRequest();
      hadManagers = DemoDataRelationManagerRef() != nullptr && DemoDataFileManagerRef() != nullptr;
      sameAsMain = DemoDataRelationManagerRef() == mainManager;
    });
    rt::JoinAllThreads();
    EXPECT_EQ(GlobalRequest(), 6);
  });
  rt::ClearHooks();
  EXPECT_EQ(seenRequest.load(), 0);
  EXPECT_TRUE(hadManagers.load());
  EXPECT_FALSE(sameAsMain.load());
}

// Program main starts the error manager and opens the INI manager before thread 1's table
// managers and the frame; after the frame it closes the INI manager, which writes the
// catalogue. A damaged INI file does not stop it. Thread 1's start hook builds no table
// managers: program main does.
TEST(StartupTest, ProgramMainBuildsInOrderAndClosesTheIniManagerAfterTheFrame) {
  rt::ClearHooks();
  auto backend = rt::InstallHeadlessBackend();
  testing_support::WorkDir work("program-main");
  ASSERT_TRUE(work.Ok());
  {
    std::ofstream ini("PageletDemo.INI", std::ios::binary);
    ini << "[Keep]\r\nk=v\r\n[Keep]\r\nk=dup\r\n[__Dont_Touch_Me__]\r\nSectors=7\r\n";
    ini << std::string("\0\x01\xff\xfe garbage", 12) << "\r\n";
  }
  RegisterApplicationHooks();
  std::atomic<int> framesRun{0};
  rt::RunProgram([&] {
    EXPECT_EQ(DemoDataRelationManagerRef(), nullptr);  // not from thread 1's start hook
    RunProgramMain([&] {
      ++framesRun;
      EXPECT_NE(GlobalErrors().Status, nullptr);
      EXPECT_EQ(IniMgr().FileName, ".\\PageletDemo.INI");
      ASSERT_NE(IniMgr().Sectors, nullptr);
      EXPECT_EQ(IniMgr().Sectors->Records(), 1);  // one record claimed and present (damaged)
      EXPECT_EQ(IniMgr().FetchValue("Keep", "k"), "v");
      EXPECT_NE(DemoDataRelationManagerRef(), nullptr);
      EXPECT_NE(DemoDataFileManagerRef(), nullptr);
    });
    EXPECT_EQ(IniMgr().Sectors, nullptr);  // closed after the frame
  });
  rt::ClearHooks();
  EXPECT_EQ(framesRun.load(), 1);
  std::ifstream in("PageletDemo.INI", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_NE(text.str().find("Sectors=1\r\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("k=dup"), std::string::npos);  // the rest of the file is kept
}

// A named pipe in place of the settings file: start-up says so at once and the frame runs
// with default settings; the pipe is left as it is. A watchdog releases a start-up blocked
// in opening the pipe (by opening its other end), so that the test fails instead of hanging.
TEST(StartupTest, SettingsFileThatIsAPipeIsReportedAndTheFrameRunsWithDefaults) {
  rt::ClearHooks();
  auto backend = rt::InstallHeadlessBackend();
  testing_support::WorkDir work("program-main-pipe");
  ASSERT_TRUE(work.Ok());
  ASSERT_EQ(::mkfifo("PageletDemo.INI", 0644), 0);
  std::atomic<bool> done{false};
  std::atomic<bool> blocked{false};
  std::thread watchdog([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (std::chrono::steady_clock::now() < deadline) continue;
      blocked = true;
      const int writer = ::open("PageletDemo.INI", O_WRONLY | O_NONBLOCK);
      if (writer >= 0) ::close(writer);
    }
  });
  RegisterApplicationHooks();
  std::atomic<int> framesRun{0};
  rt::RunProgram([&] {
    RunProgramMain([&] {
      ++framesRun;
      EXPECT_EQ(IniMgr().Sectors->Records(), 0);
      EXPECT_EQ(IniMgr().FetchValue("Any", "entry"), "");
    });
  });
  done = true;
  watchdog.join();
  rt::ClearHooks();
  EXPECT_FALSE(blocked.load()) << "start-up blocked on the pipe";
  EXPECT_EQ(framesRun.load(), 1);
  EXPECT_EQ(testing_support::CaptionsOf(*backend),
            std::vector<std::string>{"Settings File Unusable"});
  EXPECT_TRUE(std::filesystem::is_fifo("PageletDemo.INI"));
}

}  // namespace
