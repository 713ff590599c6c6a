// Locators and thumb steps: the value <-> thumb mappings on their own, then on a browse over
// a real STORE table.

#include <gtest/gtest.h>

#include <optional>

#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLocator.h"
#include "framework/browse/StepLong.h"
#include "framework/browse/StepString.h"
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
#include "platform/store/StoreDriver.h"
#include "support/WorkDir.h"

namespace {

std::uint8_t PercentileOf(StepLong& step, std::int32_t value) {
  return step.GetPercentile(rt::AnyRef::Of(value));
}
std::uint8_t PercentileOf(StepLong& step, std::string text) {
  char buffer[32] = {};
  rt::AnyRef ref(buffer, rt::FieldType::String, sizeof buffer);
  ref.SetText(text);
  return step.GetPercentile(ref);
}
void Limits(StepLong& step, std::string first, std::string last) {
  char a[32] = {};
  char b[32] = {};
  rt::AnyRef(a, rt::FieldType::String, sizeof a).SetText(first);
  rt::AnyRef(b, rt::FieldType::String, sizeof b).SetText(last);
  step.SetLimit(rt::AnyRef(a, rt::FieldType::String, sizeof a),
                rt::AnyRef(b, rt::FieldType::String, sizeof b));
}

TEST(StepLongTest, MapsNumbersToThumbPositionsAndBack) {
  StepLong step;
  step.Init(1);
  std::int32_t first = 1;
  std::int32_t last = 201;
  step.SetLimit(rt::AnyRef::Of(first), rt::AnyRef::Of(last));
  EXPECT_EQ(PercentileOf(step, 1), 1);  // 0 is reported as 1
  EXPECT_EQ(PercentileOf(step, 101), 50);
  EXPECT_EQ(PercentileOf(step, 201), 100);
  // Values beyond the limits stay at the nearer end instead of wrapping round.
  EXPECT_EQ(PercentileOf(step, -5), 1);
  EXPECT_EQ(PercentileOf(step, 999), 100);
  EXPECT_DOUBLE_EQ(step.GetValue(0).ToDouble(), 1);
  EXPECT_DOUBLE_EQ(step.GetValue(25).ToDouble(), 51);
  EXPECT_DOUBLE_EQ(step.GetValue(100).ToDouble(), 201);

  // Descending: the first record holds the highest value and sits at the top.
  step.Init(1 | kStepDescending);
  step.SetLimit(rt::AnyRef::Of(last), rt::AnyRef::Of(first));
  EXPECT_EQ(step.Low, 1);
  EXPECT_EQ(step.High, 201);
  EXPECT_EQ(PercentileOf(step, 201), 1);
  EXPECT_EQ(PercentileOf(step, 1), 100);
  EXPECT_EQ(PercentileOf(step, 151), 25);
  EXPECT_DOUBLE_EQ(step.GetValue(10).ToDouble(), 181);

  // One value throughout: the middle.
  step.SetLimit(rt::AnyRef::Of(first), rt::AnyRef::Of(first));
  EXPECT_EQ(PercentileOf(step, 1), 50);
}

TEST(StepStringTest, PlacesTextsBetweenTheLimitsAndFindsTextsForPositions) {
  StepString step;
  step.Init(1, true);
  Limits(step, "doc Adams", "DOC Young");
  EXPECT_EQ(step.LowText, "DOC ADAMS");
  EXPECT_EQ(PercentileOf(step, "doc adams"), 1);
  EXPECT_EQ(PercentileOf(step, "doc young"), 100);
  EXPECT_EQ(PercentileOf(step, "Aaron"), 1);
  EXPECT_EQ(PercentileOf(step, "zz"), 100);
  // Between A and Y the thumb follows the letter after the shared prefix.
  const int m = PercentileOf(step, "doc Miller");
  EXPECT_GT(m, 45);
  EXPECT_LT(m, 60);
  EXPECT_EQ(step.GetText(0), "DOC ADAMS");
  EXPECT_EQ(step.GetText(100), "DOC YOUNG");
  for (int p : {10, 50, 90}) {
    const std::string text = step.GetText(static_cast<std::uint8_t>(p));
    EXPECT_EQ(text.substr(0, 4), "DOC ");
    EXPECT_NEAR(PercentileOf(step, text), p, 1) << text;
  }

  // Descending: the first record (the highest text) at the top.
  step.Init(1 | kStepDescending, false);
  Limits(step, "pear", "apple");
  EXPECT_EQ(PercentileOf(step, "pear"), 1);
  EXPECT_EQ(PercentileOf(step, "apple"), 100);
  EXPECT_GT(PercentileOf(step, "cherry"), PercentileOf(step, "kiwi"));
  EXPECT_EQ(step.GetText(0), "pear");
  char field[20] = {};
  step.SetFreeElement(rt::AnyRef(field, rt::FieldType::String, sizeof field), 100);
  EXPECT_EQ(std::string(field, 5), "apple");
}

// ---- On a browse over a real table ----

constexpr int kList = 1;
constexpr int kRows = 5;

std::unique_ptr<rt::File> MakeFruit() {
  rt::RegisterStoreDriver();
  rt::RecordLayout layout("Fruit");
  layout.AddField("FRU:ID", rt::FieldType::Long);
  layout.AddField("FRU:Name", rt::FieldType::String, 20);
  auto file = std::make_unique<rt::File>("FRUIT", "FRU", "STORE", std::move(layout));
  file->AddKey("FRU:ID_Key", {{1, true, false}}, true, true);
  file->AddKey("FRU:Name_Key", {{2, true, true}}, true);
  file->AddKey("FRU:NameDown_Key", {{2, false, true}}, true);
  file->AddKey("FRU:IDDown_Key", {{1, false, false}}, true);
  return file;
}

class FruitManager : public FileManager {
 public:
  FruitManager(rt::File& file, ErrorManager& errors) {
    File = &file;
    Errors = &errors;
    FileManager::Init();
    FileManager::InitFile(file, errors);
    for (int k = 1; k <= 4; ++k)
      AddKey(*file.Key(k), "");
  }
  ~FruitManager() override { Shutdown(); }
};

class StepBrowseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("steps");
    ASSERT_TRUE(work_->Ok());
    backend_ = rt::InstallHeadlessBackend();
    rt::ClearError();
    errors_.Start(status_);
    file_ = MakeFruit();
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

  void AddRows(const std::vector<std::pair<int, std::string>>& rows) {
    auto file = MakeFruit();
    ASSERT_EQ(file->Open(0x42), 0);
    ASSERT_EQ(file->SetTransactionMember(true), 0);
    ASSERT_EQ(rt::StartTransaction(10), 0);
    for (const auto& [id, name] : rows) {
      rt::WriteInteger(file->Layout().Field(1), file->Record(), id);
      rt::WriteText(file->Layout().Field(2), file->Record(), name);
      ASSERT_EQ(file->Add(), 0);
    }
    ASSERT_EQ(rt::CommitTransaction(), 0);
    file->Close();
  }

  rt::AnyRef Field(int n) { return rt::AnyRef(file_->Record(), file_->Layout().Field(n)); }

  // A browse in the order of `key` with the given thumb step and a locator without an entry
  // control (or with control 2, an entry, when `entry`).
  void Open(int key, StepLong* thumb, bool entry = false) {
    manager_ = std::make_unique<FruitManager>(*file_, errors_);
    relations_ = std::make_unique<RelationManager>();
    relations_->Init(*manager_, 0);
    view_ = std::make_unique<rt::View>(*file_);
    rt::RecordLayout layout("Page");
    layout.AddField("Q:ID", rt::FieldType::Long);
    layout.AddField("Q:Name", rt::FieldType::String, 20);
    layout.AddField("Q:Pos", rt::FieldType::String, kPositionFieldSize);
    queue_ = std::make_unique<rt::Queue>(layout);
    auto def = std::make_shared<rt::WindowDef>("StepTest", "LIST", "Fruit");
    def->List("40R(2)|M~ID~C(0)@n-7@80L(2)|M~Name~L(2)@s20@")
        .At(0, 0, 200, rt::kListHeaderHeight + kRows * rt::kListRowHeight)
        .VScroll();
    def->Entry("s20");
    window_ = std::make_unique<rt::Window>(def);
    window_->BindList(kList, queue_.get());
    ASSERT_TRUE(window_->Open());
    controller_.MyWindow = window_.get();
    browse_ = std::make_unique<BrowseManager>();
    BrowseManager& b = *browse_;
    ASSERT_EQ(b.Init(kList, queue_->Field(3).Address(), kPositionFieldSize, *view_, *queue_,
                     *relations_, controller_),
              LevelQuiet);
    b.AddSortOrder(thumb, file_->Key(key));
    locator_.Init(entry ? 2 : 0, key == 1 || key == 4 ? Field(1) : Field(2), true, b);
    b.AddLocator(&locator_);
    b.AddField(Field(1), queue_->Field(1));
    b.AddField(Field(2), queue_->Field(2));
    b.SetAlerts();
    b.ResetSort(true);
    b.UpdateWindow();
  }

  std::string Highlighted() const {
    const int row = browse_->CurrentChoice;
    if (row < 1 || row > queue_->Records()) return {};
    return std::string(rt::ClipText(queue_->RowText(row, 2)));
  }
  void Type(char c) {
    window_->SetKeyCode(c);
    browse_->TakeKey();
  }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  rt::ThreadLocal<ErrorStatus> status_;
  ErrorManager errors_;
  std::unique_ptr<rt::File> file_;
  std::unique_ptr<FruitManager> manager_;
  std::unique_ptr<RelationManager> relations_;
  std::unique_ptr<rt::View> view_;
  std::unique_ptr<rt::Queue> queue_;
  std::unique_ptr<rt::Window> window_;
  WindowController controller_;
  StepLocator locator_;
  std::unique_ptr<BrowseManager> browse_;
};

const std::vector<std::pair<int, std::string>> kFruit = {
    {1, "apple"}, {2, "banana"}, {3, "Berry"}, {4, "cherry"}, {5, "date"},
    {6, "fig"},   {7, "grape"},  {8, "kiwi"},  {9, "lemon"},  {10, "mango"}};

TEST_F(StepBrowseTest, TypedCharactersStepToTheNextMatchOrLocateByValue) {
  AddRows(kFruit);
  Open(2, nullptr);
  EXPECT_EQ(Highlighted(), "apple");
  // The next row starts with the character: the highlight moves down one row.
  Type('B');
  EXPECT_EQ(Highlighted(), "banana");
  Type('B');
  EXPECT_EQ(Highlighted(), "Berry");
  // Otherwise the list is positioned at the first name at or after the character.
  Type('G');
  EXPECT_EQ(Highlighted(), "grape");
  Type('D');  // before the highlight: found all the same
  EXPECT_EQ(Highlighted(), "date");
  Type('Z');  // after every name: the end of the list
  EXPECT_EQ(Highlighted(), "mango");
  // Keys that type no character are left to the browse.
  for (int code : {rt::key::kCtrl + 'A', rt::key::kDown, rt::key::kDelete, rt::key::kF1}) {
    window_->SetKeyCode(code);
    EXPECT_FALSE(locator_.TakeKey()) << code;
  }
  EXPECT_EQ(Highlighted(), "mango");
}

TEST_F(StepBrowseTest, DescendingOrderLocatesTheLastNameStartingWithTheCharacter) {
  AddRows(kFruit);
  Open(3, nullptr);
  EXPECT_EQ(Highlighted(), "mango");
  // The character followed by code 254 finds the highest name that starts with it.
  Type('B');
  EXPECT_EQ(Highlighted(), "Berry");
  Type('C');
  EXPECT_EQ(Highlighted(), "cherry");
}

TEST_F(StepBrowseTest, DescendingNumbersLocateTheTypedDigit) {
  AddRows(kFruit);
  Open(4, nullptr);
  EXPECT_EQ(Highlighted(), "mango");  // ID 10
  Type('5');
  EXPECT_EQ(Highlighted(), "date");  // ID 5
}

TEST_F(StepBrowseTest, EntryControlFollowsWhetherTheListHasRows) {
  Open(2, nullptr, true);
  EXPECT_FALSE(window_->Prop(2, rt::prop::kDisabled).empty());
  Type('A');  // nothing to locate in an empty table
  EXPECT_EQ(Highlighted(), "");
  browse_.reset();
  window_->Close();
  AddRows(kFruit);
  Open(2, nullptr, true);
  EXPECT_TRUE(window_->Prop(2, rt::prop::kDisabled).empty());
}

TEST_F(StepBrowseTest, ThumbPositionsFindTheRecordsTheyStandFor) {
  std::vector<std::pair<int, std::string>> rows;
  for (int id = 1; id <= 1001; ++id)
    rows.emplace_back(id, "n" + std::to_string(id));
  AddRows(rows);
  StepLong thumb;
  thumb.Init(1);
  Open(1, &thumb);
  EXPECT_EQ(thumb.Low, 1);
  EXPECT_EQ(thumb.High, 1001);
  for (int p : {10, 50, 90}) {
    // What a thumb drag does: the value at the position, then a refill from there.
    thumb.SetFreeElement(Field(1), static_cast<std::uint8_t>(p));
    browse_->ResetFromBuffer();
    EXPECT_EQ(Highlighted(), "n" + std::to_string(p * 10 + 1));
    EXPECT_EQ(window_->PropNumber(kList, rt::prop::kVScrollPos), p);
  }
}

}  // namespace
