// The browse over a table whose driver announces other clients' changes: the test plays the
// other client (writing through a STORE handle of its own) and the driver's listening thread.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/browse/BrowseManager.h"
#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "support/AnnouncingStore.h"
#include "support/BrowseFixture.h"

namespace {

constexpr int kList = testing_support::BrowseFixture::kList;
constexpr int kPumped = rt::event::kUser + 1;  // marks the end of what was queued so far

class OtherClientsTest : public testing_support::BrowseFixtureTest {
 protected:
  OtherClientsTest() : BrowseFixtureTest("otherclients", Registered()) {}
  static std::string Registered() {
    testing_support::RegisterAnnouncingStore();
    return testing_support::kAnnouncingStoreName;
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

}  // namespace
