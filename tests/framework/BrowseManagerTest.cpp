// SPDX-License-Identifier: GPL-3.0-or-later
// The browse over a real STORE table, driven directly on the test thread: a list that shows
// five rows, a view on the ID key, and the headless backend recording messages.

#include "framework/browse/BrowseManager.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <thread>

#include "framework/browse/StandardBehavior.h"
#include "framework/browse/StepLong.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/files/FilePosition.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "support/BrowseFixture.h"
#include "support/Robot.h"
#include "support/WorkDir.h"

namespace {

constexpr int kList = 1;
constexpr int kChange = 2;
constexpr int kDelete = 3;
constexpr int kRows = 5;  // rows the list shows

class BrowseTest : public testing_support::BrowseFixtureTest {
 protected:
  BrowseTest() : BrowseFixtureTest("browse") {}

  void AddRows(std::initializer_list<int> ids) {
    testing_support::DocRows rows;
    for (int id : ids)
      rows.emplace_back(id, "doc" + std::to_string(id));
    EXPECT_TRUE(testing_support::AddDocs(rows));
  }

  // Builds the browse; `configure` runs before the first fill.
  void Open(const std::function<void(BrowseManager&)>& configure = {}) {
    f_->Open({.thumb = &thumb_, .buttons = {"&Change", "&Delete"}}, configure);
  }

  std::vector<int> Page() const { return f_->Page(); }
  int Highlighted() const { return f_->Highlighted(); }
  int RecordId() const { return f_->RecordId(); }
  void Scroll(int event) {
    f_->Browse->TakeScroll(event);
    f_->Browse->UpdateWindow();
  }
  long Thumb() const { return f_->Thumb(); }
  std::vector<std::string> Captions() const { return testing_support::CaptionsOf(*backend_); }

  StepLong thumb_;
};

using Ids = std::vector<int>;

TEST_F(BrowseTest, ViewManagerTurnsRangesAndNamedFiltersIntoTheViewsFilter) {
  testing_support::AddDocRange(1, 9);
  f_->MakeManagers();
  ViewManager vm;
  ASSERT_EQ(vm.Init(*f_->View, *f_->Relations), LevelQuiet);
  vm.AddOrder(f_->Docs->Key(1));
  EXPECT_EQ(vm.FilterText(), "");

  // A bounds range on the ID, its values following their sources.
  std::int32_t lowSource = 3, highSource = 6, low = 0, high = 0;
  OrderEntry& byId = *vm.CurrentOrder();
  byId.LimitType = kRangeBounds;
  byId.RangeList->AddPair(rt::AnyRef::Of(lowSource), rt::AnyRef::Of(low));
  byId.RangeList->AddPair(rt::AnyRef::Of(highSource), rt::AnyRef::Of(high));
  EXPECT_TRUE(vm.ApplyRange());
  EXPECT_FALSE(vm.ApplyRange());
  EXPECT_EQ(vm.FilterText(), "DOC:ID >= 3 AND DOC:ID <= 6");
  vm.SetFilter("DOC:ID <> 4");
  vm.SetNamedFilter("DOC:ID > 0", "9 - QBE");
  EXPECT_EQ(vm.FilterText(), "DOC:ID >= 3 AND DOC:ID <= 6 AND (DOC:ID > 0) AND (DOC:ID <> 4)");
  ASSERT_EQ(vm.ResetToStart(), LevelQuiet);
  std::vector<int> read;
  while (vm.Next() == LevelQuiet)
    read.push_back(
        static_cast<int>(rt::ReadInteger(f_->Docs->Layout().Field(1), f_->Docs->Record())));
  EXPECT_EQ(read, (std::vector<int>{3, 5, 6}));
  vm.SetNamedFilter("", "9 - QBE");
  EXPECT_EQ(vm.FilterText(), "DOC:ID >= 3 AND DOC:ID <= 6 AND (DOC:ID <> 4)");

  // A fixed range on a case-blind text key: the value quoted, its quote doubled.
  char nameSource[20] = {};
  char name[20] = {};
  EXPECT_EQ(vm.AddOrder(f_->Docs->Key(2)), 2);
  OrderEntry& byName = *vm.CurrentOrder();
  byName.LimitType = kRangeFixed;
  byName.RangeList->AddPair(rt::AnyRef(nameSource, rt::FieldType::String, 20),
                            rt::AnyRef(name, rt::FieldType::String, 20));
  rt::AnyRef(name, rt::FieldType::String, 20).SetText("o'brien");
  EXPECT_EQ(vm.FilterText(), "UPPER(DOC:Name) = UPPER('o''brien')");
  EXPECT_EQ(vm.FreeElementPosition(), 0);  // the range fixes the whole key
  static_cast<void>(vm.PrepareRecord());
  EXPECT_EQ(rt::ReadText(f_->Docs->Layout().Field(2), f_->Docs->Record()).substr(0, 7), "o'brien");

  // Orders: "*" replaces, otherwise appended; selecting the current order changes nothing.
  vm.AppendOrder("*-DOC:ID");
  vm.AppendOrder("DOC:Name");
  EXPECT_EQ(*vm.CurrentOrder()->Order, "-DOC:ID,DOC:Name");
  static_cast<void>(vm.ApplyOrder());
  EXPECT_FALSE(vm.FieldAscending(rt::AnyRef(f_->Docs->Record(), f_->Docs->Layout().Field(1))));
  EXPECT_TRUE(vm.FieldAscending(rt::AnyRef(f_->Docs->Record(), f_->Docs->Layout().Field(2))));
  EXPECT_FALSE(vm.SelectOrder(2));
  EXPECT_TRUE(vm.SelectOrder(1));
  EXPECT_EQ(*vm.CurrentOrder()->Order, "DOC:ID");
  vm.Kill();
  EXPECT_TRUE(Captions().empty());
}

TEST_F(BrowseTest, PagesThroughTheTableHoldingOnlyTheVisibleRowsWithTheThumbFollowing) {
  testing_support::AddDocRange(1, 50);
  Open();
  EXPECT_EQ(Page(), (Ids{1, 2, 3, 4, 5}));
  EXPECT_EQ(Highlighted(), 1);
  EXPECT_EQ(RecordId(), 1);
  EXPECT_EQ(f_->Window->Prop(kList, rt::prop::kVScroll), "1");
  EXPECT_EQ(Thumb(), 0);  // the first record: 1 snaps to 0 on a full page

  Scroll(rt::event::kPageDown);
  EXPECT_EQ(Page(), (Ids{6, 7, 8, 9, 10}));
  EXPECT_EQ(Highlighted(), 6);  // a full page read keeps the screen row

  Scroll(rt::event::kScrollBottom);
  EXPECT_EQ(Page(), (Ids{46, 47, 48, 49, 50}));
  EXPECT_EQ(Highlighted(), 50);
  EXPECT_EQ(Thumb(), 100);

  // Past the end nothing is read and the highlight stays on the last row.
  Scroll(rt::event::kPageDown);
  Scroll(rt::event::kScrollDown);
  EXPECT_EQ(Page(), (Ids{46, 47, 48, 49, 50}));
  EXPECT_EQ(Highlighted(), 50);

  Scroll(rt::event::kScrollUp);
  Scroll(rt::event::kPageUp);
  EXPECT_EQ(Page(), (Ids{41, 42, 43, 44, 45}));
  EXPECT_EQ(Highlighted(), 44);

  // A record in the middle of the order puts the thumb in the middle.
  rt::WriteInteger(f_->Docs->Layout().Field(1), f_->Docs->Record(), 25);
  f_->Browse->ResetFromBuffer();
  EXPECT_EQ(Page(), (Ids{22, 23, 24, 25, 26}));
  EXPECT_EQ(Highlighted(), 25);
  EXPECT_EQ(Thumb(), 48);  // (25 - 1) x 100 / (50 - 1), truncated

  Scroll(rt::event::kScrollTop);
  EXPECT_EQ(Page(), (Ids{1, 2, 3, 4, 5}));
  EXPECT_EQ(Highlighted(), 1);
  EXPECT_EQ(Thumb(), 0);
}

TEST_F(BrowseTest, RefillKeepsTheHighlightedRecordOnItsScreenRowOrMovesItToTheTop) {
  AddRows({10, 20, 30, 40, 50, 60, 70, 80, 90});
  Open();
  f_->Window->SetChoice(kList, 4);
  f_->Browse->TakeNewSelection();
  ASSERT_EQ(Highlighted(), 40);
  AddRows({15, 25});  // above the highlight, from elsewhere
  f_->View->Flush();
  f_->Browse->ResetSort(true);
  EXPECT_EQ(Page(), (Ids{20, 25, 30, 40, 50}));
  EXPECT_EQ(f_->Browse->CurrentChoice, 4);
  EXPECT_EQ(RecordId(), 40);

  f_->Browse->RetainRow = 0;
  f_->Browse->ResetSort(true);
  EXPECT_EQ(Page(), (Ids{40, 50, 60, 70, 80}));
  EXPECT_EQ(f_->Browse->CurrentChoice, 1);
}

TEST_F(BrowseTest, RecordDeletedElsewhereIsReportedAndTheRefillDropsIt) {
  AddRows({1, 2, 3, 4, 5, 6, 7});
  Open();
  f_->Window->SetChoice(kList, 3);
  f_->Browse->TakeNewSelection();
  ASSERT_EQ(Highlighted(), 3);
  std::thread other([] {
    auto file = testing_support::MakeDocsFile();
    ASSERT_EQ(file->Open(rt::kOpenReadWriteDenyNone), 0);
    rt::WriteInteger(file->Layout().Field(1), file->Record(), 3);
    ASSERT_EQ(file->Get(*file->Key(1)), 0);
    ASSERT_EQ(file->Delete(), 0);
    static_cast<void>(file->Close());
  });
  other.join();
  f_->Browse->UpdateViewRecord();
  EXPECT_EQ(f_->Browse->NeedRefresh, 1);
  ASSERT_EQ(Captions(), std::vector<std::string>{"Record Retrieval Error"});
  EXPECT_NE(testing_support::MessagesOf(*backend_)[0].text.find("changed or deleted"),
            std::string::npos);

  f_->Browse->ResetQueue(kRefillPage);
  EXPECT_EQ(Page(), (Ids{1, 2, 4, 5, 6}));
  EXPECT_EQ(f_->Browse->CurrentChoice, 1);  // the old highlight is gone: back to the top row
}

TEST_F(BrowseTest, HiddenListIsFilledOnlyWhenShownUnlessActiveInvisible) {
  testing_support::AddDocRange(1, 8);
  Open([&](BrowseManager&) { f_->Window->Hide(kList); });
  EXPECT_TRUE(Page().empty());
  EXPECT_EQ(f_->Browse->LoadPending, 1);
  f_->Window->Hide(kList, false);
  EXPECT_TRUE(f_->Browse->ApplyRange() || f_->Browse->LoadPending);
  f_->Browse->ResetSort(false);
  EXPECT_EQ(Page(), (Ids{1, 2, 3, 4, 5}));
  EXPECT_EQ(f_->Browse->LoadPending, 0);

  f_->Window->Hide(kList);
  f_->Browse->ActiveInvisible = 1;
  f_->Browse->ScrollEnd(rt::event::kScrollBottom);
  f_->Browse->ResetSort(true);
  EXPECT_EQ(Page(), (Ids{4, 5, 6, 7, 8}));
}

TEST_F(BrowseTest, EndOfDataTopsThePageUpFromAboveUnlessAllowUnfilled) {
  testing_support::AddDocRange(1, 7);
  Open();
  rt::WriteInteger(f_->Docs->Layout().Field(1), f_->Docs->Record(), 6);
  f_->Browse->CurrentChoice = 1;
  f_->Browse->ResetFromBuffer();
  EXPECT_EQ(Page(), (Ids{3, 4, 5, 6, 7}));
  EXPECT_EQ(Highlighted(), 6);

  f_->Browse->AllowUnfilled = 1;
  rt::WriteInteger(f_->Docs->Layout().Field(1), f_->Docs->Record(), 6);
  f_->Browse->CurrentChoice = 1;
  f_->Browse->ResetFromBuffer();
  EXPECT_EQ(Page(), (Ids{6, 7}));
  EXPECT_EQ(Highlighted(), 6);
  EXPECT_EQ(f_->Window->Prop(kList, rt::prop::kVScroll), "1");  // a short page keeps its bar
}

TEST_F(BrowseTest, TableThatGoesAwayUnderTheBrowseIsReportedAndClosesTheWindow) {
  testing_support::AddDocRange(1, 50);
  Open();
  ASSERT_EQ(Page(), (Ids{1, 2, 3, 4, 5}));
  static_cast<void>(f_->Docs->Close());  // behind the managers' backs
  Scroll(rt::event::kScrollBottom);
  const auto captions = Captions();
  // Positioning fails first ("View Open Error"), then the read, which ends the browse.
  ASSERT_FALSE(captions.empty());
  EXPECT_EQ(captions.back(), "Record Retrieval Error");
  bool closing = false;  // the window itself is closed, so that its controller takes it
  while (auto m = rt::MyEvents().Wait(std::chrono::milliseconds(0)))
    closing = closing || (m->event == rt::event::kCloseWindow && m->control == 0);
  EXPECT_TRUE(closing);
}

TEST_F(BrowseTest, EmptyTableShowsAnEmptyListWithChangeAndDeleteDisabled) {
  Open();
  EXPECT_TRUE(Page().empty());
  EXPECT_EQ(f_->Browse->CurrentChoice, 0);
  EXPECT_EQ(f_->Window->Prop(kChange, rt::prop::kDisabled), "1");
  EXPECT_EQ(f_->Window->Prop(kDelete, rt::prop::kDisabled), "1");
  EXPECT_EQ(f_->Window->Prop(kList, rt::prop::kVScroll), "");
  Scroll(rt::event::kPageDown);  // nothing to scroll
  EXPECT_TRUE(Page().empty());

  AddRows({1});
  f_->Browse->ResetSort(true);
  f_->Browse->UpdateWindow();
  EXPECT_EQ(Page(), (Ids{1}));
  EXPECT_EQ(f_->Window->Prop(kChange, rt::prop::kDisabled), "");
  EXPECT_TRUE(Captions().empty());
}

TEST_F(BrowseTest, FilterThatDoesNotParseIsReportedEachTimeAndShowsNoRows) {
  testing_support::AddDocRange(1, 9);
  Open();
  f_->Browse->SetFilter("DOC:ID > 6");
  f_->Browse->ResetSort(true);
  EXPECT_EQ(Page(), (Ids{7, 8, 9}));

  // Reported on every application (a refresh applies the filter more than once), and no
  // row passes for a match of a filter nobody could apply.
  f_->Browse->SetFilter("DOC:ID >> 6 AND (");
  f_->Browse->ResetSort(true);
  const std::size_t first = Captions().size();
  EXPECT_GE(first, 1u);
  EXPECT_TRUE(Page().empty());
  f_->Browse->ResetSort(true);
  EXPECT_GT(Captions().size(), first);
  EXPECT_TRUE(Page().empty());
  const std::size_t shown = Captions().size();
  EXPECT_EQ(Captions(), std::vector<std::string>(shown, "View Open Error"));

  f_->Browse->SetFilter("DOC:ID < 3");
  f_->Browse->ResetSort(true);
  EXPECT_EQ(Page(), (Ids{1, 2}));
  EXPECT_EQ(Captions().size(), shown);
}

TEST_F(BrowseTest, ListRowsShowTheFormatsPicturesAndTheQueueKeepsExactPositions) {
  testing_support::AddDocRange(1, 3);
  Open();
  // The window shows the page formatted by the columns' pictures.
  const auto& columns = f_->Window->Columns(kList);
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(columns[0].header, "ID");
  EXPECT_EQ(f_->Window->PropNumber(kList, rt::prop::kItems), kRows);

  StandardBehavior& behavior = *f_->Browse->Behavior;
  // A position ending in blanks and zeros comes back byte for byte.
  const std::string odd("\x01\x02 \0 ", 5);
  behavior.SetViewPosition(odd);
  EXPECT_EQ(behavior.GetViewPosition(), odd);
  // So does the longest position the runtime gives: the field holds it beside its length.
  const std::string longest = std::string(rt::kMaxPositionSize - 2, 'p') + " ";
  behavior.SetViewPosition(longest + '\0');
  EXPECT_EQ(behavior.GetViewPosition(), longest + '\0');
  // Reading past the last row leaves the buffer alone and the error set.
  ASSERT_EQ(behavior.GetRow(2), 0);
  EXPECT_NE(behavior.GetRow(4), 0);
  EXPECT_NE(rt::ErrorCode(), 0);
  EXPECT_EQ(f_->Queue->Field(1).Integer(), 2);
  f_->Window->SetChoice(kList, 1);
  EXPECT_EQ(behavior.GetLine(), 1);
}

TEST_F(BrowseTest, ResetFieldsRefillTheEndOfDataRestoresThemAndReplacedOrdersTakeOver) {
  AddRows({10, 20, 30, 40, 50, 60, 70, 80});
  std::int32_t group = 1;
  std::int32_t remembered = 0;
  Open([&](BrowseManager& b) {
    b.CurrentSort()->Resets->AddPair(rt::AnyRef::Of(group), rt::AnyRef::Of(remembered));
  });
  EXPECT_EQ(remembered, 1);  // remembered by the first fill
  AddRows({15});
  f_->View->Flush();
  f_->Browse->ResetSort(false);  // nothing changed: no refill
  EXPECT_EQ(Page(), (Ids{10, 20, 30, 40, 50}));
  group = 2;
  EXPECT_TRUE(f_->Browse->ApplyRange());
  f_->Browse->ResetSort(false);
  EXPECT_EQ(Page(), (Ids{10, 15, 20, 30, 40}));
  EXPECT_EQ(remembered, 2);

  // Reading past the end of the data puts the remembered value back.
  group = 9;
  Scroll(rt::event::kScrollBottom);
  EXPECT_EQ(group, 9);
  Scroll(rt::event::kScrollDown);
  EXPECT_EQ(group, 2);

  // A replaced order keeps what it replaced, once, and brings its own thumb.
  f_->Browse->ReplaceSort(nullptr, nullptr, "-DOC:ID");
  Scroll(rt::event::kScrollTop);
  EXPECT_EQ(Page(), (Ids{80, 70, 60, 50, 40}));
  EXPECT_EQ(f_->Browse->SavedSort, 1);
  EXPECT_EQ(f_->Browse->SavedSortString, "DOC:ID");
  EXPECT_EQ(f_->Browse->SavedThumb, &thumb_);
  f_->Browse->ReplaceSort(nullptr, &thumb_, "DOC:ID");
  EXPECT_EQ(f_->Browse->SavedSortString, "DOC:ID");
  Scroll(rt::event::kScrollTop);
  EXPECT_EQ(Page(), (Ids{10, 15, 20, 30, 40}));
}

TEST_F(BrowseTest, LoadedFilePagesByTheHighlightAndItsThumbCountsRows) {
  testing_support::AddDocRange(1, 20);
  f_->Open({.buttons = {"&Change"}}, [&](BrowseManager& b) {
    b.FileLoaded = 1;
    f_->Window->SetProp(kList, rt::prop::kImmediate, 1L);
  });
  EXPECT_EQ(f_->Browse->LastItems, kWholeFile);
  EXPECT_EQ(Page().size(), 20u);  // every row, though the list shows five
  // Paging moves the highlight by the list's rows; the thumb runs over the 15 rows the list
  // scrolls, at the highlight's share of all rows.
  Scroll(rt::event::kPageDown);
  EXPECT_EQ(Highlighted(), 6);
  EXPECT_EQ(RecordId(), 6);
  EXPECT_EQ(Thumb(), 5);  // 6 x 15 / 20, rounded
  Scroll(rt::event::kScrollBottom);
  EXPECT_EQ(Highlighted(), 20);
  EXPECT_EQ(Thumb(), 15);
  Scroll(rt::event::kScrollDown);
  EXPECT_EQ(Highlighted(), 20);
  EXPECT_EQ(Page().size(), 20u);
  Scroll(rt::event::kPageUp);
  EXPECT_EQ(Highlighted(), 15);
  EXPECT_EQ(Thumb(), 11);

  // A drag to row 3 of 15 puts the highlight a fifth of the way down.
  testing_support::Robot robot(backend_);
  ASSERT_TRUE(robot.DragThumb(f_->Window->Id(), kList, 3));
  f_->Window->EventLoop([&] {
    static_cast<void>(f_->Controller.TakeEvent());
    if (rt::MyEvents().Empty()) f_->Window->LeaveEventLoop();
    return 1;
  });
  EXPECT_EQ(Highlighted(), 4);
  EXPECT_EQ(Thumb(), 3);
  Scroll(rt::event::kScrollTop);
  EXPECT_EQ(Thumb(), 0);
}

}  // namespace
