// SPDX-License-Identifier: GPL-3.0-or-later
// The browse over a table whose driver announces other clients' changes: first with the test
// playing the other client (writing through a STORE handle of its own) and the driver's
// listening thread, then on a table of the test run's database server, where a second handle
// is another client of the server and the driver hears of its changes itself.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "framework/browse/BrowseManager.h"
#include "platform/pgstore/PgStore.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "support/AnnouncingStore.h"
#include "support/BrowseFixture.h"
#include "support/PgServer.h"

namespace {

constexpr int kList = testing_support::BrowseFixture::kList;
constexpr int kPumped = rt::event::kUser + 1;  // marks the end of what was queued so far

class OtherClientsTest : public testing_support::BrowseFixtureTest {
 protected:
  explicit OtherClientsTest(const std::string& driver = Registered())
      : BrowseFixtureTest("otherclients", driver) {}
  static std::string Registered() {
    testing_support::RegisterAnnouncingStore();
    return testing_support::kAnnouncingStoreName;
  }
  void SetUp() override {
    // An earlier test of this process forgot this thread's queue (TearDown), which makes
    // other threads' posts to it fail: the driver's thread posts here.
    rt::ThreadEvents(rt::ThreadNumber());
    BrowseFixtureTest::SetUp();
  }

  // Runs the window's loop over what is queued now; returns the refills it asked for.
  int Pump() {
    int refills = 0;
    EXPECT_TRUE(f_->Window->Post(kPumped));
    f_->Window->EventLoop([&] {
      if (f_->Window->Event() == kEventOtherClients && f_->Window->Field() == kList) ++refills;
      if (f_->Window->Event() == kPumped) f_->Window->LeaveEventLoop();
      static_cast<void>(f_->Controller.TakeEvent());
      return 1;
    });
    return refills;
  }
  // Waits (at most 10 s) until a refill is queued; false when none came.
  bool AwaitAnnouncement() {
    for (int i = 0; i < 500; ++i) {
      if (rt::MyEvents().Holds(kEventOtherClients, kList)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  std::string Name(int row) const { return std::string(rt::ClipText(f_->Queue->RowText(row, 2))); }
};

using Ids = std::vector<int>;

TEST_F(OtherClientsTest, PageFollowsInsertsChangesAndDeletesKeepingTheHighlight) {
  testing_support::DocRows rows;
  for (int id = 10; id <= 90; id += 10)
    rows.emplace_back(id, "doc" + std::to_string(id));
  ASSERT_TRUE(testing_support::AddDocs(rows));
  f_->Open();
  EXPECT_EQ(testing_support::AnnouncingSubscribers(), 1);
  f_->Window->SetChoice(kList, 3);
  f_->Browse->CurrentChoice = 3;
  EXPECT_EQ(f_->Page(), (Ids{10, 20, 30, 40, 50}));

  // An insert above the highlight: the highlighted record keeps its screen row.
  ASSERT_TRUE(testing_support::AddDocs({{25, "doc25"}}));
  EXPECT_EQ(testing_support::AnnounceOtherClientsChange(), 1);
  EXPECT_EQ(Pump(), 1);
  EXPECT_EQ(f_->Page(), (Ids{20, 25, 30, 40, 50}));
  EXPECT_EQ(f_->Highlighted(), 30);
  EXPECT_EQ(f_->RecordId(), 30);

  // A burst of announcements gives one refill, which shows the change.
  ASSERT_TRUE(testing_support::RenameDoc(40, "renamed"));
  EXPECT_EQ(testing_support::AnnounceOtherClientsChange(5), 5);
  EXPECT_EQ(Pump(), 1);
  EXPECT_EQ(Name(4), "renamed");
  EXPECT_EQ(f_->Highlighted(), 30);

  // The highlighted record deleted: its successor takes its place and its screen row.
  ASSERT_TRUE(testing_support::RemoveDoc(30));
  testing_support::AnnounceOtherClientsChange();
  EXPECT_EQ(Pump(), 1);
  EXPECT_EQ(f_->Page(), (Ids{20, 25, 40, 50, 60}));
  EXPECT_EQ(f_->Highlighted(), 40);
  EXPECT_EQ(f_->Browse->CurrentChoice, 3);

  // Deleted from the end of the table: the last record left is highlighted.
  f_->Browse->TakeScroll(rt::event::kScrollBottom);
  EXPECT_EQ(f_->Highlighted(), 90);
  ASSERT_TRUE(testing_support::RemoveDoc(90));
  testing_support::AnnounceOtherClientsChange();
  EXPECT_EQ(Pump(), 1);
  EXPECT_EQ(f_->Page(), (Ids{40, 50, 60, 70, 80}));
  EXPECT_EQ(f_->Highlighted(), 80);

  // Closed: the subscription ends and nothing more is posted.
  f_->Browse->Kill();
  EXPECT_EQ(testing_support::AnnouncingSubscribers(), 0);
  EXPECT_EQ(testing_support::AnnounceOtherClientsChange(), 0);
  EXPECT_EQ(Pump(), 0);
}

// The table on the server: the driver of the browse's table hears another client's commits.
class OtherClientsServerTest : public OtherClientsTest {
 protected:
  OtherClientsServerTest() : OtherClientsTest(Server()) {}
  static std::string Server() {
    const testing_support::PgServer* server = testing_support::PgServer::Shared();
    if (!server) return Registered();
    rt::RegisterPgDriver(server->Conninfo());
    return rt::kPgDriverName;
  }
};

TEST_F(OtherClientsServerTest, BrowseOnTheServerSeesAnotherClientsInsertAndDelete) {
  std::string why;
  if (!testing_support::PgServer::Shared(&why)) GTEST_SKIP() << why;
  const std::string other = rt::kPgDriverName;
  ASSERT_TRUE(testing_support::AddDocs({{10, "doc10"}, {20, "doc20"}, {30, "doc30"}}, other));
  f_->Open();
  f_->Window->SetChoice(kList, 2);
  f_->Browse->CurrentChoice = 2;
  EXPECT_EQ(f_->Page(), (Ids{10, 20, 30}));

  ASSERT_TRUE(testing_support::AddDocs({{15, "doc15"}}, other));
  ASSERT_TRUE(AwaitAnnouncement());
  EXPECT_GE(Pump(), 1);
  EXPECT_EQ(f_->Page(), (Ids{10, 15, 20, 30}));
  EXPECT_EQ(f_->Highlighted(), 20);

  ASSERT_TRUE(testing_support::RemoveDoc(20, other));
  ASSERT_TRUE(AwaitAnnouncement());
  EXPECT_GE(Pump(), 1);
  EXPECT_EQ(f_->Page(), (Ids{10, 15, 30}));
  EXPECT_EQ(f_->Highlighted(), 30);
}

}  // namespace
