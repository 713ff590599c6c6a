#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "app/DemoData.h"
#include "app/Globals.h"
#include "app/Startup.h"
#include "framework/browse/EditInPlaceWindows.h"
#include "framework/error/ErrorHooks.h"
#include "framework/error/HistoryPresenter.h"
#include "framework/util/IniManager.h"
#include "platform/runtime/threads/HookNames.h"
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

}  // namespace
