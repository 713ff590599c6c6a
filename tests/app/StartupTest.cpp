// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "app/BrowseData.h"
#include "app/DemoData.h"
#include "app/DemoDataRelationManager.h"
#include "app/Globals.h"
#include "app/MainFrame.h"
#include "app/Startup.h"
#include "framework/browse/EditInPlaceWindows.h"
#include "framework/error/ErrorHooks.h"
#include "framework/error/HistoryPresenter.h"
#include "framework/util/IniManager.h"
#include "platform/runtime/threads/HookNames.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/store/Store.h"
#include "support/PgServer.h"
#include "support/Robot.h"
#include "support/TestDriver.h"
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

// The shared objects join the program through hooks of their own: while it runs, the message
// window presents the error history and the edit-in-place windows stand prepared; when it has
// ended they are gone. Process end and thread end run the hooks in reverse: the INI manager
// is released before the error manager, and a thread's error status is freed after its table
// managers and before its file records and its file-open registry object.
TEST(StartupTest, SharedObjectsComeAndGoInTheirOrder) {
  rt::ClearHooks();
  auto backend = rt::InstallHeadlessBackend();
  testing_support::WorkDir work("startup-order");
  ASSERT_TRUE(work.Ok());
  RegisterApplicationHooks();
  const std::vector<std::string> names = rt::RegisteredHookNames();
  auto at = [&names](std::string_view name) {
    auto found = std::find(names.begin(), names.end(), name);
    EXPECT_NE(found, names.end()) << name;
    return found - names.begin();
  };
  EXPECT_LT(at("errors"), at("INI manager"));
  EXPECT_LT(at("file open registry"), at("document table files"));
  EXPECT_LT(at("document table files"), at("error status"));
  EXPECT_LT(at("error status"), at("document table managers"));

  bool prepared = false;
  bool presenter = false;
  rt::RunProgram([&] {
    prepared = PreparedMultiWindow() != nullptr && PreparedTextWindow() != nullptr;
    presenter = static_cast<bool>(CurrentHistoryPresenter());
  });
  rt::ClearHooks();
  EXPECT_TRUE(prepared);
  EXPECT_TRUE(presenter);
  EXPECT_EQ(PreparedMultiWindow(), nullptr);
  EXPECT_EQ(PreparedTextWindow(), nullptr);
  EXPECT_FALSE(CurrentHistoryPresenter());
}

// Waits for a child process to end; its wait status, or nothing when it is still running
// after `timeout` (it is then killed).
std::optional<int> WaitExit(pid_t pid, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status;
}

// Waits until the process blocks `signal` (its watcher has taken the signal over).
[[maybe_unused]] bool WaitBlocked(pid_t pid, int signal) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("SigBlk:", 0) != 0) continue;
      const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
      if (mask & (1ull << (signal - 1))) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool ExitedCleanly(const std::optional<int>& status) {
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

// SIGTERM and SIGINT close the program as File > Exit does. The program's own run in a
// child process, headless: with a browse open on an insert, SIGTERM closes everything and
// the record the insert had added goes again. The real program on the offscreen desktop
// ends cleanly on either signal.
TEST(StartupTest, SignalsCloseTheProgramAsExitDoes) {
  rt::ClearHooks();
  auto backend = rt::InstallHeadlessBackend();
  testing_support::WorkDir work("signals");
  ASSERT_TRUE(work.Ok());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    const int code = RunApplication([&](const std::function<void()>& programMain) {
      std::thread user([&] {
        testing_support::Robot robot(backend);
        const int frame = robot.WaitForWindow("Pagelet Demo");
        const int browse =
            frame != 0 && robot.WaitIdle() && robot.ChooseMenu(frame, kMainFrameBrowseData)
                ? robot.WaitForWindow(kBrowseDataCaption)
                : 0;
        const bool inserting = browse != 0 && robot.WaitIdle() &&
                               robot.Press(browse, kBrowseDataInsert) &&
                               robot.WaitForWindow("Record Will Be Added") != 0 && robot.WaitIdle();
        const char c = inserting ? '1' : '0';
        [[maybe_unused]] auto written = write(ready[1], &c, 1);
      });
      const int result = rt::RunProgram(programMain);
      user.join();
      return result;
    });
    _exit(code == 0 ? 0 : 3);
  }
  close(ready[1]);
  char c = 0;
  pollfd p{ready[0], POLLIN, 0};
  const bool inserting = poll(&p, 1, 30000) == 1 && read(ready[0], &c, 1) == 1 && c == '1';
  close(ready[0]);
  EXPECT_TRUE(inserting);
  kill(child, SIGTERM);
  EXPECT_TRUE(ExitedCleanly(WaitExit(child, std::chrono::seconds(30))));
  int rows = -1;
  RegisterApplicationHooks();
  rt::RunProgram([&] {
    StartGlobalErrors();
    CreateDemoDataManagers();
    if (DemoDataRelationManagerRef()->Open() != LevelQuiet) return;
    rt::File& file = DemoData();
    rows = 0;
    static_cast<void>(file.Set(DemoDataIdKey()));
    while (file.Next() == 0)
      ++rows;
    static_cast<void>(DemoDataRelationManagerRef()->Close());
  });
  rt::ClearHooks();
  EXPECT_EQ(rows, 0);  // the insert's record was added, and removed again

#ifdef PAGELET_PROGRAM
  for (int signal : {SIGTERM, SIGINT}) {
    const pid_t program = fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      execl(PAGELET_PROGRAM, PAGELET_PROGRAM, static_cast<char*>(nullptr));
      _exit(127);
    }
    EXPECT_TRUE(WaitBlocked(program, signal));
    kill(program, signal);
    EXPECT_TRUE(ExitedCleanly(WaitExit(program, std::chrono::seconds(30)))) << signal;
  }
#endif
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

// The settings file's [Table] section chooses the table's driver: PGSTORE puts the table on
// the server its connection string names (the password shown nowhere), an unknown driver is
// reported and the table stays in its local file.
TEST(StartupTest, TableSectionChoosesTheDriver) {
  std::string why;
  testing_support::PgServer* server = testing_support::PgServer::Shared(&why);
  if (!server) GTEST_SKIP() << "no database server for the tests: " << why;
  ASSERT_TRUE(server->Clear());
  for (const std::string driver : {"pgstore", "NOSUCH"}) {
    rt::ClearHooks();
    auto backend = rt::InstallHeadlessBackend();
    testing_support::WorkDir work("table-section");
    ASSERT_TRUE(work.Ok());
    std::ofstream("PageletDemo.INI", std::ios::binary)
        << "[Table]\r\nDriver=" << driver << "\r\nConnection=" << server->Conninfo()
        << " password=sekrit7\r\n";
    RegisterApplicationHooks();
    bool onServer = false;
    rt::RunProgram([&] {
      RunProgramMain([&] {
        rt::File& f = DemoData();
        ASSERT_EQ(f.Create(), 0);
        ASSERT_EQ(f.Open(rt::kOpenReadWriteDenyNone), 0);
        onServer = f.SqlDriver();
        static_cast<void>(f.Close());
      });
    });
    rt::ClearHooks();
    ChooseDemoDataDriver(testing_support::TestDriver());
    const std::vector<std::string> captions = testing_support::CaptionsOf(*backend);
    for (const rt::UiRequest& message : testing_support::MessagesOf(*backend))
      EXPECT_EQ(message.text.find("sekrit7"), std::string::npos) << message.text;
    if (driver == "pgstore") {
      EXPECT_TRUE(onServer);
      EXPECT_TRUE(captions.empty());
      EXPECT_TRUE(server->Exec("SELECT count(*) FROM \"DEMODATA\""));
      EXPECT_FALSE(std::filesystem::exists("DEMODATA.sqlite"));
    } else {
      EXPECT_FALSE(onServer);
      EXPECT_EQ(captions, std::vector<std::string>{"Unknown Table Driver"});
      EXPECT_TRUE(std::filesystem::exists("DEMODATA.sqlite"));
    }
  }
}

}  // namespace
