// The browse over a real STORE table, driven directly on the test thread: a list that shows
// five rows, a view on the ID key, and the headless backend recording messages.

#include "framework/browse/BrowseManager.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "framework/browse/StandardBehavior.h"
#include "framework/browse/StepLong.h"
#include "framework/data/FileManager.h"
#include "framework/data/RelationManager.h"
#include "framework/error/ErrorManager.h"
#include "framework/window/WindowController.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/files/FileTransaction.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"
#include "platform/store/StoreDriver.h"
#include "support/WorkDir.h"

namespace {

constexpr int kList = 1;
constexpr int kChange = 2;
constexpr int kDelete = 3;
constexpr int kRows = 5;  // rows the list shows

std::unique_ptr<rt::File> MakeDocs() {
  rt::RegisterStoreDriver();
  rt::RecordLayout layout("Doc");
  layout.AddField("DOC:ID", rt::FieldType::Long);
  layout.AddField("DOC:Name", rt::FieldType::String, 20);
  auto file = std::make_unique<rt::File>("DOCS", "DOC", "STORE", std::move(layout));
  file->AddKey("DOC:ID_Key", {{1, true, false}}, true, true);
  file->AddKey("DOC:Name_Key", {{2, true, true}}, true);
  return file;
}

class DocManager : public FileManager {
 public:
  DocManager(rt::File& file, ErrorManager& errors) {
    File = &file;
    Errors = &errors;
    FileManager::Init();
    FileManager::InitFile(file, errors);
    AddKey(*file.Key(1), "");
    AddKey(*file.Key(2), "By name");
  }
  ~DocManager() override { Shutdown(); }
};

rt::RecordLayout QueueLayout() {
  rt::RecordLayout layout("Page");
  layout.AddField("Q:ID", rt::FieldType::Long);
  layout.AddField("Q:Name", rt::FieldType::String, 20);
  layout.AddField("Q:Pos", rt::FieldType::String, kPositionFieldSize);
  return layout;
}

std::shared_ptr<rt::WindowDef> BrowseWindow() {
  auto def = std::make_shared<rt::WindowDef>("BrowseTest", "LIST", "Documents");
  def->List("40R(2)|M~ID~C(0)@n-7@80L(2)|M~Name~L(2)@s20@")
      .At(0, 0, 200, rt::kListHeaderHeight + kRows * rt::kListRowHeight)
      .VScroll();
  def->Button("&Change");
  def->Button("&Delete");
  return def;
}

class BrowseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("browse");
    ASSERT_TRUE(work_->Ok());
    backend_ = rt::InstallHeadlessBackend();
    rt::ClearError();
    errors_.Start(status_);
    file_ = MakeDocs();
    ASSERT_EQ(file_->Create(), 0);
  }
  void TearDown() override {
    browse_.reset();
    if (window_) window_->Close();
    view_.reset();
    if (relations_) relations_->Kill();
    relations_.reset();
    manager_.reset();
    file_.reset();
    errors_.Kill();
    status_.Destroy();
    work_.reset();
  }

  void AddRows(std::initializer_list<int> ids) {
    auto file = MakeDocs();
    ASSERT_EQ(file->Open(0x42), 0);
    for (int id : ids) {
      file->ClearRecord();
      rt::WriteInteger(file->Layout().Field(1), file->Record(), id);
      rt::WriteText(file->Layout().Field(2), file->Record(), "doc" + std::to_string(id));
      ASSERT_EQ(file->Add(), 0);
    }
    file->Close();
  }
  void AddRange(int first, int last) {
    auto file = MakeDocs();
    ASSERT_EQ(file->Open(0x42), 0);
    ASSERT_EQ(file->SetTransactionMember(true), 0);
    ASSERT_EQ(rt::StartTransaction(10), 0);
    for (int id = first; id <= last; ++id) {
      rt::WriteInteger(file->Layout().Field(1), file->Record(), id);
      rt::WriteText(file->Layout().Field(2), file->Record(), "doc" + std::to_string(id));
      ASSERT_EQ(file->Add(), 0);
    }
    ASSERT_EQ(rt::CommitTransaction(), 0);
    file->Close();
  }

  void MakeManagers() {
    manager_ = std::make_unique<DocManager>(*file_, errors_);
    relations_ = std::make_unique<RelationManager>();
    relations_->Init(*manager_, 0);
    view_ = std::make_unique<rt::View>(*file_);
  }

  // Builds the browse; `configure` runs before the first fill.
  void Open(const std::function<void(BrowseManager&)>& configure = {}) {
    MakeManagers();
    queue_ = std::make_unique<rt::Queue>(QueueLayout());
    window_ = std::make_unique<rt::Window>(BrowseWindow());
    window_->BindList(kList, queue_.get());
    ASSERT_TRUE(window_->Open());
    controller_.MyWindow = window_.get();
    browse_ = std::make_unique<BrowseManager>();
    BrowseManager& b = *browse_;
    ASSERT_EQ(b.Init(kList, queue_->Field(3).Address(), kPositionFieldSize, *view_, *queue_,
                     *relations_, controller_),
              LevelQuiet);
    b.AddSortOrder(&thumb_, file_->Key(1));
    b.AddField(rt::AnyRef(file_->Record(), file_->Layout().Field(1)), queue_->Field(1));
    b.AddField(rt::AnyRef(file_->Record(), file_->Layout().Field(2)), queue_->Field(2));
    b.ChangeControl = kChange;
    b.DeleteControl = kDelete;
    if (configure) configure(b);
    b.SetAlerts();
    b.ResetSort(true);
    b.UpdateWindow();
  }

  std::vector<int> Page() const {
    std::vector<int> ids;
    for (int r = 1; r <= queue_->Records(); ++r)
      ids.push_back(static_cast<int>(std::stol(queue_->RowText(r, 1))));
    return ids;
  }
  int Highlighted() const {
    const int row = browse_->CurrentChoice;
    return row >= 1 && row <= queue_->Records() ? std::stoi(queue_->RowText(row, 1)) : 0;
  }
  int RecordId() const {
    return static_cast<int>(rt::ReadInteger(file_->Layout().Field(1), file_->Record()));
  }
  void Scroll(int event) {
    browse_->TakeScroll(event);
    browse_->UpdateWindow();
  }
  long Thumb() const { return window_->PropNumber(kList, rt::prop::kVScrollPos); }
  std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (auto& m : testing_support::MessagesOf(*backend_))
      out.push_back(m.caption);
    return out;
  }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  rt::ThreadLocal<ErrorStatus> status_;
  ErrorManager errors_;
  std::unique_ptr<rt::File> file_;
  std::unique_ptr<DocManager> manager_;
  std::unique_ptr<RelationManager> relations_;
  std::unique_ptr<rt::View> view_;
  std::unique_ptr<rt::Queue> queue_;
  std::unique_ptr<rt::Window> window_;
  WindowController controller_;
  StepLong thumb_;
  std::unique_ptr<BrowseManager> browse_;
};

using Ids = std::vector<int>;

TEST_F(BrowseTest, ViewManagerTurnsRangesAndNamedFiltersIntoTheViewsFilter) {
  AddRange(1, 9);
  MakeManagers();
  ViewManager vm;
  ASSERT_EQ(vm.Init(*view_, *relations_), LevelQuiet);
  vm.AddOrder(file_->Key(1));
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
    read.push_back(static_cast<int>(rt::ReadInteger(file_->Layout().Field(1), file_->Record())));
  EXPECT_EQ(read, (std::vector<int>{3, 5, 6}));
  vm.SetNamedFilter("", "9 - QBE");
  EXPECT_EQ(vm.FilterText(), "DOC:ID >= 3 AND DOC:ID <= 6 AND (DOC:ID <> 4)");

  // A fixed range on a case-blind text key: the value quoted, its quote doubled.
  char nameSource[20] = {};
  char name[20] = {};
  EXPECT_EQ(vm.AddOrder(file_->Key(2)), 2);
  OrderEntry& byName = *vm.CurrentOrder();
  byName.LimitType = kRangeFixed;
  byName.RangeList->AddPair(rt::AnyRef(nameSource, rt::FieldType::String, 20),
                            rt::AnyRef(name, rt::FieldType::String, 20));
  rt::AnyRef(name, rt::FieldType::String, 20).SetText("o'brien");
  EXPECT_EQ(vm.FilterText(), "UPPER(DOC:Name) = UPPER('o''brien')");
  EXPECT_EQ(vm.FreeElementPosition(), 0);  // the range fixes the whole key
  vm.PrepareRecord();
  EXPECT_EQ(rt::ReadText(file_->Layout().Field(2), file_->Record()).substr(0, 7), "o'brien");

  // Orders: "*" replaces, otherwise appended; selecting the current order changes nothing.
  vm.AppendOrder("*-DOC:ID");
  vm.AppendOrder("DOC:Name");
  EXPECT_EQ(*vm.CurrentOrder()->Order, "-DOC:ID,DOC:Name");
  vm.ApplyOrder();
  EXPECT_FALSE(vm.FieldAscending(rt::AnyRef(file_->Record(), file_->Layout().Field(1))));
  EXPECT_TRUE(vm.FieldAscending(rt::AnyRef(file_->Record(), file_->Layout().Field(2))));
  EXPECT_FALSE(vm.SelectOrder(2));
  EXPECT_TRUE(vm.SelectOrder(1));
  EXPECT_EQ(*vm.CurrentOrder()->Order, "DOC:ID");
  vm.Kill();
  EXPECT_TRUE(Captions().empty());
}

TEST_F(BrowseTest, PagesThroughTheTableHoldingOnlyTheVisibleRowsWithTheThumbFollowing) {
  AddRange(1, 50);
  Open();
  EXPECT_EQ(Page(), (Ids{1, 2, 3, 4, 5}));
  EXPECT_EQ(Highlighted(), 1);
  EXPECT_EQ(RecordId(), 1);
  EXPECT_EQ(window_->Prop(kList, rt::prop::kVScroll), "1");
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
  rt::WriteInteger(file_->Layout().Field(1), file_->Record(), 25);
  browse_->ResetFromBuffer();
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
  window_->SetChoice(kList, 4);
  browse_->TakeNewSelection();
  ASSERT_EQ(Highlighted(), 40);
  AddRows({15, 25});  // above the highlight, from elsewhere
  view_->Flush();
  browse_->ResetSort(true);
  EXPECT_EQ(Page(), (Ids{20, 25, 30, 40, 50}));
  EXPECT_EQ(browse_->CurrentChoice, 4);
  EXPECT_EQ(RecordId(), 40);

  browse_->RetainRow = 0;
  browse_->ResetSort(true);
  EXPECT_EQ(Page(), (Ids{40, 50, 60, 70, 80}));
  EXPECT_EQ(browse_->CurrentChoice, 1);
}

TEST_F(BrowseTest, RecordDeletedElsewhereIsReportedAndTheRefillDropsIt) {
  AddRows({1, 2, 3, 4, 5, 6, 7});
  Open();
  window_->SetChoice(kList, 3);
  browse_->TakeNewSelection();
  ASSERT_EQ(Highlighted(), 3);
  std::thread other([] {
    auto file = MakeDocs();
    ASSERT_EQ(file->Open(0x42), 0);
    rt::WriteInteger(file->Layout().Field(1), file->Record(), 3);
    ASSERT_EQ(file->Get(*file->Key(1)), 0);
    ASSERT_EQ(file->Delete(), 0);
    file->Close();
  });
  other.join();
  browse_->UpdateViewRecord();
  EXPECT_EQ(browse_->NeedRefresh, 1);
  ASSERT_EQ(Captions(), std::vector<std::string>{"Record Retrieval Error"});
  EXPECT_NE(testing_support::MessagesOf(*backend_)[0].text.find("changed or deleted"),
            std::string::npos);

  browse_->ResetQueue(kRefillPage);
  EXPECT_EQ(Page(), (Ids{1, 2, 4, 5, 6}));
  EXPECT_EQ(browse_->CurrentChoice, 1);  // the old highlight is gone: back to the top row
}

TEST_F(BrowseTest, HiddenListIsFilledOnlyWhenShownUnlessActiveInvisible) {
  AddRange(1, 8);
  Open([&](BrowseManager&) { window_->Hide(kList); });
  EXPECT_TRUE(Page().empty());
  EXPECT_EQ(browse_->LoadPending, 1);
  window_->Hide(kList, false);
  EXPECT_TRUE(browse_->ApplyRange() || browse_->LoadPending);
  browse_->ResetSort(false);
  EXPECT_EQ(Page(), (Ids{1, 2, 3, 4, 5}));
  EXPECT_EQ(browse_->LoadPending, 0);

  window_->Hide(kList);
  browse_->ActiveInvisible = 1;
  browse_->ScrollEnd(rt::event::kScrollBottom);
  browse_->ResetSort(true);
  EXPECT_EQ(Page(), (Ids{4, 5, 6, 7, 8}));
}

TEST_F(BrowseTest, EndOfDataTopsThePageUpFromAboveUnlessAllowUnfilled) {
  AddRange(1, 7);
  Open();
  rt::WriteInteger(file_->Layout().Field(1), file_->Record(), 6);
  browse_->CurrentChoice = 1;
  browse_->ResetFromBuffer();
  EXPECT_EQ(Page(), (Ids{3, 4, 5, 6, 7}));
  EXPECT_EQ(Highlighted(), 6);

  browse_->AllowUnfilled = 1;
  rt::WriteInteger(file_->Layout().Field(1), file_->Record(), 6);
  browse_->CurrentChoice = 1;
  browse_->ResetFromBuffer();
  EXPECT_EQ(Page(), (Ids{6, 7}));
  EXPECT_EQ(Highlighted(), 6);
  EXPECT_EQ(window_->Prop(kList, rt::prop::kVScroll), "1");  // a short page keeps its bar
}

TEST_F(BrowseTest, EmptyTableShowsAnEmptyListWithChangeAndDeleteDisabled) {
  Open();
  EXPECT_TRUE(Page().empty());
  EXPECT_EQ(browse_->CurrentChoice, 0);
  EXPECT_EQ(window_->Prop(kChange, rt::prop::kDisabled), "1");
  EXPECT_EQ(window_->Prop(kDelete, rt::prop::kDisabled), "1");
  EXPECT_EQ(window_->Prop(kList, rt::prop::kVScroll), "");
  Scroll(rt::event::kPageDown);  // nothing to scroll
  EXPECT_TRUE(Page().empty());

  AddRows({1});
  browse_->ResetSort(true);
  browse_->UpdateWindow();
  EXPECT_EQ(Page(), (Ids{1}));
  EXPECT_EQ(window_->Prop(kChange, rt::prop::kDisabled), "");
  EXPECT_TRUE(Captions().empty());
}

TEST_F(BrowseTest, FilterThatDoesNotParseIsReportedOnceAndTheBrowseGoesOnUnfiltered) {
  AddRange(1, 9);
  Open();
  browse_->SetFilter("DOC:ID > 6");
  browse_->ResetSort(true);
  EXPECT_EQ(Page(), (Ids{7, 8, 9}));

  browse_->SetFilter("DOC:ID >> 6 AND (");
  browse_->ResetSort(true);
  browse_->ResetSort(true);
  EXPECT_EQ(Captions(), std::vector<std::string>{"View Open Error"});
  EXPECT_EQ(Page(), (Ids{5, 6, 7, 8, 9}));  // unfiltered again, around the highlight
  EXPECT_EQ(Highlighted(), 7);
}

TEST_F(BrowseTest, ListRowsShowTheFormatsPicturesAndTheQueueKeepsExactPositions) {
  AddRange(1, 3);
  Open();
  // The window shows the page formatted by the columns' pictures.
  const auto& columns = window_->Columns(kList);
  ASSERT_EQ(columns.size(), 2u);
  EXPECT_EQ(columns[0].header, "ID");
  EXPECT_EQ(window_->PropNumber(kList, rt::prop::kItems), kRows);

  StandardBehavior& behavior = *browse_->Behavior;
  // A position ending in blanks and zeros comes back byte for byte.
  const std::string odd("\x01\x02 \0 ", 5);
  behavior.SetViewPosition(odd);
  EXPECT_EQ(behavior.GetViewPosition(), odd);
  // Reading past the last row leaves the buffer alone and the error set.
  ASSERT_EQ(behavior.GetRow(2), 0);
  EXPECT_NE(behavior.GetRow(4), 0);
  EXPECT_NE(rt::ErrorCode(), 0);
  EXPECT_EQ(queue_->Field(1).Integer(), 2);
  window_->SetChoice(kList, 1);
  EXPECT_EQ(behavior.GetLine(), 1);
}

}  // namespace
