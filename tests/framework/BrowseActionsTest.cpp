// The browse's buttons, keys and popup over a real STORE table. The window controller's Run
// stands in for the update form: it writes through the file as the form would and answers.

#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLong.h"
#include "framework/data/FileManager.h"
#include "framework/data/RelationManager.h"
#include "framework/error/ErrorManager.h"
#include "framework/util/PopupManager.h"
#include "framework/window/RequestCodes.h"
#include "framework/window/WindowController.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"
#include "platform/store/StoreDriver.h"
#include "support/WorkDir.h"

namespace {

constexpr int kList = 1, kInsert = 2, kChange = 3, kDelete = 4, kView = 5, kQuery = 6;
constexpr int kRows = 5;

std::unique_ptr<rt::File> MakeDocs() {
  rt::RegisterStoreDriver();
  rt::RecordLayout layout("Doc");
  layout.AddField("DOC:ID", rt::FieldType::Long);
  layout.AddField("DOC:Name", rt::FieldType::String, 20);
  auto file = std::make_unique<rt::File>("DOCS", "DOC", "STORE", std::move(layout));
  file->AddKey("DOC:ID_Key", {{1, true, false}}, true, true);
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
  }
  ~DocManager() override { Shutdown(); }
};

// The update form: each call of Run goes to `form`.
class FormController : public WindowController {
 public:
  using WindowController::Run;
  std::function<std::uint8_t(std::uint8_t)> form;
  std::uint8_t Run(std::uint16_t, std::uint8_t request) override { return form(request); }
};

class BrowseActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("browse-actions");
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
    rt::ForgetThreadEvents(rt::ThreadNumber());
  }

  void Open(int first, int last, std::string_view filter = {}) {
    {
      auto file = MakeDocs();
      ASSERT_EQ(file->Open(0x42), 0);
      for (int id = first; id <= last; ++id) {
        rt::WriteInteger(file->Layout().Field(1), file->Record(), id);
        rt::WriteText(file->Layout().Field(2), file->Record(), "doc" + std::to_string(id));
        ASSERT_EQ(file->Add(), 0);
      }
      file->Close();
    }
    manager_ = std::make_unique<DocManager>(*file_, errors_);
    relations_ = std::make_unique<RelationManager>();
    relations_->Init(*manager_, 0);
    view_ = std::make_unique<rt::View>(*file_);
    rt::RecordLayout page("Page");
    page.AddField("Q:ID", rt::FieldType::Long);
    page.AddField("Q:Name", rt::FieldType::String, 20);
    page.AddField("Q:Pos", rt::FieldType::String, kPositionFieldSize);
    queue_ = std::make_unique<rt::Queue>(std::move(page));
    auto def = std::make_shared<rt::WindowDef>("ActionsTest", "LIST", "Documents");
    def->List("40R(2)|M~ID~C(0)@n-7@80L(2)|M~Name~L(2)@s20@")
        .At(0, 0, 200, rt::kListHeaderHeight + kRows * rt::kListRowHeight)
        .VScroll();
    for (const char* b : {"&Insert", "&Change", "&Delete", "&View", "&Query"})
      def->Button(b);
    window_ = std::make_unique<rt::Window>(def);
    window_->BindList(kList, queue_.get());
    ASSERT_TRUE(window_->Open());
    controller_.MyWindow = window_.get();
    controller_.VCRRequest = &vcr_;
    browse_ = std::make_unique<BrowseManager>();
    BrowseManager& b = *browse_;
    ASSERT_EQ(b.Init(kList, queue_->Field(3).Address(), kPositionFieldSize, *view_, *queue_,
                     *relations_, controller_),
              LevelQuiet);
    b.AddSortOrder(&thumb_, file_->Key(1));
    b.AddField(rt::AnyRef(file_->Record(), file_->Layout().Field(1)), queue_->Field(1));
    b.AddField(rt::AnyRef(file_->Record(), file_->Layout().Field(2)), queue_->Field(2));
    b.InsertControl = kInsert;
    b.ChangeControl = kChange;
    b.DeleteControl = kDelete;
    b.ViewControl = kView;
    b.QueryControl = kQuery;
    b.EditViaPopup = 1;
    b.AskProcedure = 1;
    if (!filter.empty()) b.SetFilter(std::string(filter));
    b.SetAlerts();
    b.ResetSort(true);
    b.UpdateWindow();
  }

  std::vector<int> Page() const {
    std::vector<int> ids;
    for (int r = 1; r <= queue_->Records(); ++r)
      ids.push_back(std::stoi(queue_->RowText(r, 1)));
    return ids;
  }
  int Highlighted() const {
    const int row = browse_->CurrentChoice;
    return row >= 1 && row <= queue_->Records() ? std::stoi(queue_->RowText(row, 1)) : 0;
  }
  void Highlight(int row) {
    window_->SetChoice(kList, row);
    browse_->CurrentChoice = row;
    browse_->UpdateBuffer();
  }
  void SetName(std::string_view name) {
    rt::WriteText(file_->Layout().Field(2), file_->Record(), std::string(name));
  }
  bool Disabled(int control) const {
    return window_->PropNumber(control, rt::prop::kDisabled) != 0;
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
  FormController controller_;
  std::int32_t vcr_ = 0;
  StepLong thumb_;
  std::unique_ptr<BrowseManager> browse_;
};

using Ids = std::vector<int>;

TEST(ServerFilterRewrite, EachSqlCallBecomesAComparisonWithAnEmptyString) {
  EXPECT_EQ(RewriteServerFilter("SQL(a > 1)"), " ''=SQL(a > 1)");
  EXPECT_EQ(RewriteServerFilter("X=1 AND SQL (b)|~SQL(c)"), "X=1 AND  ''=SQL(b)|~ ''=SQL(c)");
  EXPECT_EQ(RewriteServerFilter("MYSQL(a) OR DOC:ID=1"), "MYSQL(a) OR DOC:ID=1");
  EXPECT_EQ(RewriteServerFilter("SQL"), "SQL");
}

TEST_F(BrowseActionsTest, PopupMimicsTheButtonsAndEmptyPageDisablesRecordActions) {
  Open(1, 0);
  PopupManager& popup = *browse_->Popup;
  ASSERT_EQ(popup.GetItems(), 6);
  EXPECT_EQ(std::string((*popup.PopupItems)[0].Text.View()), "!&Insert");
  EXPECT_EQ((*popup.PopupItems)[0].ControlID, kInsert);
  EXPECT_EQ(std::string((*popup.PopupItems)[4].Text.View()), "-");
  EXPECT_EQ((*popup.PopupItems)[5].ControlID, kQuery);
  EXPECT_TRUE(window_->IsAlerted(kList, rt::key::kCtrlEnter));
  EXPECT_TRUE(window_->IsAlerted(kList, rt::key::kShiftEnter));
  EXPECT_TRUE(Disabled(kChange) && Disabled(kDelete) && Disabled(kView));
  EXPECT_FALSE(Disabled(kInsert));
  // On the empty list only Insert reaches its button.
  window_->SetKeyCode(rt::key::kDelete);
  EXPECT_FALSE(browse_->TakeKey());
  window_->SetKeyCode(rt::key::kInsert);
  EXPECT_TRUE(browse_->TakeKey());
}

TEST_F(BrowseActionsTest, ChangedRecordLeavingTheFilterIsDroppedAndCancelKeepsThePage) {
  Open(1, 9, "DOC:Name <> 'gone'");
  Highlight(2);
  controller_.form = [&](std::uint8_t request) {
    EXPECT_EQ(request, ChangeRecord);
    SetName("renamed");
    EXPECT_EQ(file_->Put(), 0);
    return static_cast<std::uint8_t>(RequestCompleted);
  };
  browse_->TakeAcceptedControl(kChange);
  EXPECT_EQ(Page(), (Ids{1, 2, 3, 4, 5}));
  EXPECT_EQ(Highlighted(), 2);

  controller_.form = [&](std::uint8_t) {
    SetName("gone");
    EXPECT_EQ(file_->Put(), 0);
    return static_cast<std::uint8_t>(RequestCompleted);
  };
  browse_->TakeAcceptedControl(kChange);
  EXPECT_EQ(Page(), (Ids{1, 3, 4, 5, 6}));
  EXPECT_EQ(Highlighted(), 3);

  // The last record leaving the result: the page closes up from above.
  browse_->TakeScroll(rt::event::kScrollBottom);
  browse_->TakeAcceptedControl(kChange);
  EXPECT_EQ(Page(), (Ids{4, 5, 6, 7, 8}));
  EXPECT_EQ(Highlighted(), 8);

  controller_.form = [&](std::uint8_t) { return static_cast<std::uint8_t>(RequestCancelled); };
  browse_->TakeAcceptedControl(kChange);
  EXPECT_EQ(Page(), (Ids{4, 5, 6, 7, 8}));
  EXPECT_EQ(Highlighted(), 8);
}

TEST_F(BrowseActionsTest, DeleteKeepsTheRowIndexAndInsertAnotherRunsTheFormAgain) {
  Open(1, 9);
  Highlight(3);
  controller_.form = [&](std::uint8_t request) {
    EXPECT_EQ(request, DeleteRecord);
    EXPECT_EQ(file_->Delete(), 0);
    return static_cast<std::uint8_t>(RequestCompleted);
  };
  browse_->TakeAcceptedControl(kDelete);
  EXPECT_EQ(Page(), (Ids{1, 2, 4, 5, 6}));
  EXPECT_EQ(Highlighted(), 4);

  int runs = 0;
  controller_.form = [&](std::uint8_t request) {
    EXPECT_EQ(request, InsertRecord);
    ++runs;
    if (runs == 1) vcr_ = NavigateInsert;
    rt::WriteInteger(file_->Layout().Field(1), file_->Record(), 20 + runs);
    SetName("new");
    EXPECT_EQ(file_->Add(), 0);
    return static_cast<std::uint8_t>(RequestCompleted);
  };
  browse_->TakeAcceptedControl(kInsert);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(vcr_, 0);
  EXPECT_EQ(Highlighted(), 22);
  EXPECT_EQ(Page().back(), 22);
}

}  // namespace
