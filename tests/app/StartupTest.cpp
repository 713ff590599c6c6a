#include <gtest/gtest.h>

#include <atomic>
#include <optional>

#include "app/DemoData.h"
#include "app/Globals.h"
#include "app/Startup.h"
#include "framework/error/ErrorHooks.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/threads/Threads.h"
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

}  // namespace
