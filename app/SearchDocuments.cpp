// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SearchDocuments.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/DemoData.h"
#include "app/DemoDataRelationManager.h"
#include "app/Globals.h"
#include "app/ProcedureController.h"
#include "app/SearchQuery.h"
#include "app/TextIndexer.h"
#include "app/ViewBlob.h"
#include "framework/error/ErrorHooks.h"
#include "framework/error/ErrorManager.h"
#include "framework/util/ResizeManager.h"
#include "framework/window/RequestCodes.h"
#include "framework/window/ToolbarDispatcher.h"
#include "framework/window/WindowController.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/values/Text.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace {

constexpr char kModule[] = "PageletDemo$PageletDemo005";
constexpr char kWindow[] = "P1$SEARCH";
constexpr char kListFormat[] =
    "36R(2)|M~ID~C(0)@n-14@80L(2)|M~File Name~L(2)@s80@28R(2)|M~Page~C(0)@n-7@"
    "250L(2)|M~Text~L(2)@s255@";
constexpr std::size_t kQuerySize = 200;
// How the matched words stand out in the list's passages.
constexpr char kMarkOpen[] = "\xC2\xBB";   // »
constexpr char kMarkClose[] = "\xC2\xAB";  // «

void AddSearchMessages() {
  ErrorManager& errors = GlobalErrors();
  auto add = [&](int id, const char* text) {
    errors.AddErrorOnce(id, text, kSearchDocumentsCaption, LevelNotify);
  };
  add(kMsgSearchQuery, "%Message");
  add(kMsgSearchFailed, "The document index cannot be searched now:|%Message");
  add(kMsgSearchNoMatch, "No stored document holds:|%Message");
  add(kMsgSearchGone,
      "This document has been deleted or changed since the search.|The search is run again.");
}

struct ResultRow {
  std::int64_t record = 0;
  std::int32_t id = 0;
  std::string fileName;
  int page = 0;  // 0-based
  std::string passage;
  std::string matched;  // the first marked words, for the viewer's highlight
};

// The passage for the list: marks shown as » «, line breaks as blanks; and the first marked
// words.
void TakeSnippet(std::string_view snippet, std::string& passage, std::string& matched) {
  passage.clear();
  matched.clear();
  bool inMark = false;
  bool firstDone = false;
  for (char c : snippet) {
    if (c == rt::kTextMarkOpen) {
      passage += kMarkOpen;
      inMark = true;
    } else if (c == rt::kTextMarkClose) {
      passage += kMarkClose;
      inMark = false;
      if (!matched.empty()) firstDone = true;
    } else {
      const char shown = (c == '\n' || c == '\r' || c == '\t' || c == '\f') ? ' ' : c;
      passage += shown;
      if (inMark && !firstDone) matched += shown;
    }
  }
}

class SearchDocumentsController : public ProcedureController {
 public:
  SearchDocumentsController(rt::Window& window, ToolbarDispatcher& toolbar, ResizeManager& resizer,
                            rt::FixedString<kQuerySize>& query)
      : ProcedureController("SearchDocuments"),
        window_(window),
        toolbar_(toolbar),
        resizer_(resizer),
        query_(query) {}

  ErrorLevel Init() override {
    if (ErrorLevel r = InitProcedure(); r != LevelQuiet) return r;
    AddSearchMessages();
    FirstField = kSearchDocumentsQuery;
    SetToolbar(toolbar_);
    AddButton(kSearchDocumentsClose, RequestCompleted);
    // A table that does not open was reported; searching then says the index cannot be read.
    if (DemoDataRelationManager* relations = DemoDataRelationManagerRef()) {
      static_cast<void>(relations->Open());
      FilesOpened = 1;
    }
    OpenWindow(window_);
    window_.SetListSource(kSearchDocumentsList,
                          [this](int row, int column) { return Cell(row, column); });
    resizer_.Init(window_, 0, 0, 0);
    resizer_.SetStrategy(kSearchDocumentsList, PosFixLeft | PosFixTop,
                         SizeFixRight | SizeFixBottom);
    resizer_.SetStrategy(kSearchDocumentsQuery, PosFixLeft | PosFixTop,
                         SizeFixRight | SizeLockHeight);
    resizer_.SetStrategy(kSearchDocumentsFind, PosFixRight | PosFixTop,
                         SizeLockWidth | SizeLockHeight);
    for (int control : {kSearchDocumentsView, kSearchDocumentsClose})
      resizer_.SetStrategy(control, PosFixRight | PosFixBottom, SizeLockWidth | SizeLockHeight);
    resizer_.SetStrategy(kSearchDocumentsProgress, PosFixLeft | PosFixBottom,
                         SizeFixRight | SizeLockHeight);
    SetResize(resizer_);
    SetAlerts();
    TextIndexer::Subscribe(rt::ThreadNumber());
    ShowProgress();
    if (!rt::ClipText(query_.View()).empty()) Search(true);
    return LevelQuiet;
  }

  void SetAlerts() override {
    WindowController::SetAlerts();
    window_.Alert(kSearchDocumentsList, rt::key::kEnter);
    window_.Alert(kSearchDocumentsList, rt::key::kMouseLeft2);
  }

  ErrorLevel Kill() override {
    return KillProcedure([&] {
      TextIndexer::Unsubscribe(rt::ThreadNumber());
      index_.reset();
      if (FilesOpened)
        if (DemoDataRelationManager* relations = DemoDataRelationManagerRef())
          static_cast<void>(relations->Close());  // never fails
    });
  }

  ErrorLevel TakeAccepted() override {
    switch (MyWindow ? MyWindow->Accepted() : 0) {
      case kSearchDocumentsFind:
        MyWindow->Update();
        Search(true);
        break;
      case kSearchDocumentsView:
        OpenChosen();
        break;
      default:
        break;
    }
    return WindowController::TakeAccepted();
  }

  ErrorLevel TakeFieldEvent() override {
    if (MyWindow && MyWindow->Field() == kSearchDocumentsList &&
        MyWindow->Event() == rt::event::kAlertKey &&
        (MyWindow->KeyCode() == rt::key::kEnter || MyWindow->KeyCode() == rt::key::kMouseLeft2)) {
      OpenChosen();
      return LevelNotify;
    }
    return WindowController::TakeFieldEvent();
  }

  ErrorLevel TakeWindowEvent() override {
    if (MyWindow && MyWindow->Event() == TextIndexer::kProgressEvent) {
      ShowProgress();
      return LevelNotify;
    }
    return WindowController::TakeWindowEvent();
  }

 private:
  std::string Cell(int row, int column) const {
    if (row < 0) return std::to_string(rows_.size());
    if (row < 1 || row > static_cast<int>(rows_.size())) return {};
    const ResultRow& r = rows_[static_cast<std::size_t>(row - 1)];
    switch (column) {
      case 1:
        return std::to_string(r.id);
      case 2:
        return r.fileName;
      case 3:
        return std::to_string(r.page + 1);
      case 4:
        return r.passage;
      default:
        return {};
    }
  }

  // The index, opened on first use (the table may have been made after the window opened).
  rt::TextIndex* Index() {
    if (!index_ && TextIndexer::OpenIndex(index_) != rt::kNoError) index_.reset();
    return index_.get();
  }

  void ShowProgress() {
    rt::TextProgress progress;
    std::string text;
    if (Index() && index_->Progress(progress) == rt::kNoError) {
      text = std::to_string(progress.done) + " of " + std::to_string(progress.documents) +
             " documents indexed";
      if (progress.withoutText > 0)
        text += " (" + std::to_string(progress.withoutText) +
                " without text, password-protected or damaged)";
    } else {
      text = "The document index is not available.";
    }
    window_.SetProp(kSearchDocumentsProgress, rt::prop::kText, text);
  }

  // Runs the query; `tell` says when nothing was found.
  void Search(bool tell) {
    rows_.clear();
    std::vector<rt::TextTerm> terms;
    std::string message;
    const std::string input(rt::ClipText(query_.View()));
    if (!SearchQuery::Parse(input, terms, message)) {
      ShowRows();
      static_cast<void>(GlobalErrors().ThrowMessage(kMsgSearchQuery, message));
      return;
    }
    std::vector<rt::TextHit> hits;
    rt::TextIndex* index = Index();
    if (index == nullptr || index->Search(terms, kSearchDocumentsLimit, hits) != rt::kNoError) {
      const std::string why = rt::ErrorText();
      index_.reset();
      ShowRows();
      static_cast<void>(GlobalErrors().ThrowMessage(kMsgSearchFailed, why));
      return;
    }
    rt::File& table = DemoData();
    for (const rt::TextHit& hit : hits) {
      ResultRow row;
      row.record = hit.record;
      row.page = hit.page;
      table.SkipBlobsOnNextRead();
      if (table.GetByPointer(hit.record) != rt::kNoError) continue;  // deleted just now
      row.id = DemoDataId();
      // The name without its folder: the passage needs the room more.
      row.fileName =
          std::filesystem::path(std::string(rt::ClipText(DemoDataFileName()))).filename().string();
      TakeSnippet(hit.snippet, row.passage, row.matched);
      rows_.push_back(std::move(row));
    }
    ShowRows();
    if (rows_.empty() && tell)
      static_cast<void>(GlobalErrors().ThrowMessage(kMsgSearchNoMatch, input));
  }

  void ShowRows() {
    window_.Display(kSearchDocumentsList);
    window_.SetChoice(kSearchDocumentsList, rows_.empty() ? 0 : 1);
    ShowProgress();
  }

  // The viewer on the highlighted row's document, at the page of the match.
  void OpenChosen() {
    const int choice = window_.Choice(kSearchDocumentsList);
    if (choice < 1 || choice > static_cast<int>(rows_.size())) return;
    const ResultRow row = rows_[static_cast<std::size_t>(choice - 1)];
    rt::File& table = DemoData();
    if (table.GetByPointer(row.record) != rt::kNoError) {
      static_cast<void>(GlobalErrors().ThrowMessage(kMsgSearchGone, ""));
      Search(false);
      return;
    }
    ViewBlobStart start;
    start.page = row.page;
    start.text = row.matched;
    ViewBlob(table, kDemoDataBlob, start);
  }

  rt::Window& window_;
  ToolbarDispatcher& toolbar_;
  ResizeManager& resizer_;
  rt::FixedString<kQuerySize>& query_;
  std::unique_ptr<rt::TextIndex> index_;
  std::vector<ResultRow> rows_;
};

}  // namespace

void RegisterSearchDocumentsWindow() {
  if (rt::FindWindowDef(kModule, kWindow)) return;
  auto def = std::make_shared<rt::WindowDef>(kModule, kWindow, kSearchDocumentsCaption);
  def->font = "MS Sans Serif";
  def->pos = {0, 0, 440, 250};
  def->Prompt("&Find:").At(6, 8, 24, 10);                                                    // 1
  def->Entry("s200").At(32, 6, 340, 12).Tip("Words, \"a phrase\" or the start of a word*");  // 2
  def->Button("&Search").At(378, 5, 56, 14).Default().Tip("Search the stored documents");    // 3
  def->List(kListFormat).At(6, 24, 428, 196).VScroll().Tip("Pages that match, best first");  // 4
  def->Prompt("").At(6, 230, 300, 10);                                                       // 5
  def->Button("&View").At(316, 228, 56, 14).Tip("View the document at this page");           // 6
  def->Button("&Close").At(378, 228, 56, 14).Icon("WACLOSE.ICO").Tip("Close Window");        // 7
  rt::RegisterWindowDef(std::move(def));
}

void SearchDocuments() {
  SearchDocuments({});
}

void SearchDocuments(std::string_view initialQuery) {
  RegisterSearchDocumentsWindow();
  if (DemoDataRelationManagerRef() == nullptr) return;
  auto query = std::make_unique<rt::FixedString<kQuerySize>>();
  query->Clear();
  *query = initialQuery;
  auto window = rt::Window::Prepare(kModule, kWindow);
  if (!window) return;
  window->Bind(kSearchDocumentsQuery, query->Ref());
  ToolbarDispatcher toolbar;
  auto resizer = std::make_unique<ResizeManager>();
  auto controller = std::make_unique<SearchDocumentsController>(*window, toolbar, *resizer, *query);
  GlobalResponse() = controller->Run();
  resizer.reset();
  controller.reset();
  window.reset();
  query.reset();
}
