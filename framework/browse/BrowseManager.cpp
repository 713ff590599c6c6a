// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/BrowseManager.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "framework/browse/EditInPlaceManager.h"
#include "framework/browse/HeldChanges.h"
#include "framework/browse/OtherClientsWatch.h"
#include "framework/browse/PopupQueryAdapter.h"
#include "framework/browse/QueryManager.h"
#include "framework/browse/StandardBehavior.h"
#include "framework/browse/StepLocator.h"
#include "framework/browse/StepLong.h"
#include "framework/data/FileManager.h"
#include "framework/data/RelationManager.h"
#include "framework/util/PopupManager.h"
#include "framework/window/RequestCodes.h"
#include "framework/window/ToolbarDispatcher.h"
#include "framework/window/WindowController.h"
#include "platform/runtime/expressions/Expression.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/values/Text.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/UiBackend.h"
#include "platform/runtime/windows/Window.h"

namespace ev = rt::event;

namespace {

// Sets a numeric property of a control only when it changes: every change redraws the list.
void SetNumber(rt::Window& w, std::int32_t control, int property, long value) {
  if (w.PropNumber(control, property) != value) w.SetProp(control, property, value);
}

}  // namespace

// ---- Window component ----

void BrowseWindowComponent::Kill() {
  browse_.Kill();
}
void BrowseWindowComponent::Reset(std::uint8_t force) {
  browse_.ResetSort(force != 0);
}
bool BrowseWindowComponent::ResetRequired() {
  return browse_.ApplyRange();
}
void BrowseWindowComponent::SetAlerts() {
  browse_.SetAlerts();
}
ErrorLevel BrowseWindowComponent::TakeEvent() {
  browse_.TakeEvent();
  return LevelQuiet;
}
void BrowseWindowComponent::Update() {
  browse_.UpdateViewRecord();
}
void BrowseWindowComponent::UpdateWindow() {
  browse_.UpdateWindow();
}

// ---- Set-up and release ----

BrowseManager::BrowseManager() = default;

BrowseManager::~BrowseManager() {
  if (Inited && !Killed) BrowseManager::Kill();
}

ErrorLevel BrowseManager::Init(std::int32_t listControl, void* positionField,
                               std::uint32_t positionLength, rt::View& view, rt::Queue& listQueue,
                               RelationManager& relationManager, WindowController& window) {
  Behavior = std::make_unique<StandardBehavior>();
  Behavior->Init(listQueue, listControl, positionField, positionLength, window.MyWindow);
  ListQueue = Behavior.get();
  ILC = Behavior.get();
  UseWaitCursor = 1;
  UseMRP = 1;
  PrevChoice = 0;
  RetainRow = 1;
  Window = &window;
  Sort = std::make_unique<SortQueue>();
  Fields = std::make_unique<FieldPairs>();
  Fields->Init();
  Processors = std::make_unique<std::vector<ProcessorEntry>>();
  Popup = std::make_shared<PopupManager>();
  Popup->Init();
  EditList = std::make_unique<std::vector<EditListEntry>>();
  const ErrorLevel result = ViewManager::Init(view, relationManager, Sort.get());
  window.AddItem(WindowComponent);
  Selecting = window.Request == SelectRecord ? 1 : 0;
  if (Selecting && Primary && Primary->Me) {
    // A table that cannot be used has been reported; there is no record to keep for the caller.
    if (const ErrorLevel used = Primary->Me->Use(kUseChange); used != LevelQuiet) return used;
    Buffer = Primary->Me->SaveBuffer();
  }
  return result;
}

void BrowseManager::Kill() {
  if (!Inited || Killed) return;
  // No callback runs once the subscription ends, before the files are let go.
  otherClients_.reset();
  if (Sort) {
    for (auto& entry : Sort->Entries) {
      auto& sort = static_cast<SortOrder&>(*entry);
      if (sort.Thumb) sort.Thumb->Kill();
      if (sort.Resets) {
        sort.Resets->Kill();
        sort.Resets.reset();
      }
    }
  }
  if (Window) Window->RemoveItem(WindowComponent);
  ViewManager::Kill();
  Sort.reset();
  Order = nullptr;
  if (Fields) {
    Fields->Kill();
    Fields.reset();
  }
  if (Popup) {
    Popup->Kill();
    Popup.reset();
  }
  ToolbarItem.reset();
  if (Query) Query->Kill();
  EIP.reset();  // the browse's own reference; one it made itself (FreeEIP) goes with it
  FreeEIP = 0;
  if (EditList) {
    for (EditListEntry& e : *EditList) {
      if (e.FreeUp) e.Control.reset();
    }
    EditList.reset();
  }
  Behavior.reset();
  ListQueue = nullptr;
  ILC = nullptr;
  if (Processors) {
    for (ProcessorEntry& p : *Processors) {
      if (p.P) p.P->Kill();
    }
    Processors.reset();
  }
  if (UseMRP && View) View->SetPrefetch(0);
}

int BrowseManager::AddSortOrder(StepLong* thumb, const rt::FileKey* key) {
  const int result = AddOrder(key);
  if (SortOrder* sort = CurrentSort()) {
    sort->Thumb = thumb;
    sort->Resets = std::make_unique<FieldPairs>();
    sort->Resets->Init();
  }
  return result;
}

void BrowseManager::AddLocator(StepLocator* locator) {
  if (SortOrder* sort = CurrentSort()) sort->Locator = locator;
}

void BrowseManager::AddField(void* recordField, std::uint32_t recordLength, void* queueField,
                             std::uint32_t queueLength) {
  AddField(rt::AnyRef(recordField, rt::FieldType::String, recordLength),
           rt::AnyRef(queueField, rt::FieldType::String, queueLength));
}

void BrowseManager::AddField(std::int32_t& recordField, std::int32_t& queueField) {
  AddField(rt::AnyRef::Of(recordField), rt::AnyRef::Of(queueField));
}

void BrowseManager::AddField(const rt::AnyRef& recordField, const rt::AnyRef& queueField) {
  if (Fields) Fields->AddPair(recordField, queueField);
}

void BrowseManager::SetUseWaitCursor(bool on) {
  UseWaitCursor = on ? 1 : 0;
}

void BrowseManager::WaitCursor(bool on) {
  if (UseWaitCursor) SetWaitCursor(on);
}

void BrowseManager::SetWaitCursor(bool on) {
  rt::Backend()->SetWaitCursor(on);
}

rt::Window* BrowseManager::ListWindow() const {
  if (Behavior) return Behavior->ListWindow();
  return Window && Window->MyWindow ? Window->MyWindow : rt::Window::Active();
}

std::int32_t BrowseManager::VisibleItems() {
  return ILC ? ILC->GetItems() : 0;
}

std::int32_t BrowseManager::Records() {
  const std::int32_t rows = ListQueue ? ListQueue->Records() : 0;
  if (SortOrder* sort = CurrentSort(); sort && sort->Locator) sort->Locator->SetEnabled(rows > 0);
  if (rows == 0) CurrentChoice = 0;
  return rows;
}

void BrowseManager::PostNewSelection() {
  rt::Window* w = ListWindow();
  const bool rightUp = w && w->KeyCode() == rt::key::kMouseRightUp;
  if (PrevChoice == 0 && CurrentChoice == 0 && !rightUp) return;
  PrevChoice = CurrentChoice;
  if (ILC) ILC->SetChoice(CurrentChoice);
  PostToList(ev::kNewSelection);
}

void BrowseManager::ShowNewSelection() {
  HeldChanges held(ListWindow());
  UpdateWindow();
  PostNewSelection();
}

void BrowseManager::PostToList(int event) {
  if (ILC) PostToControl(event, ILC->GetControl());
}

void BrowseManager::PostToControl(int event, std::int32_t control) {
  if (rt::Window* w = ListWindow()) static_cast<void>(w->Post(event, control));
}

void BrowseManager::ClearPrimaryRecord() {
  if (Primary && Primary->Me && Primary->Me->File) Primary->Me->File->ClearRecord();
}

// ---- Reading ----

ErrorLevel BrowseManager::Next() {
  const ErrorLevel result = ViewManager::Next();
  if (result == LevelNotify) UpdateResets();
  if (result == LevelFatal) PostToControl(ev::kCloseWindow, 0);
  return result;
}

ErrorLevel BrowseManager::Previous() {
  const ErrorLevel result = ViewManager::Previous();
  if (result == LevelNotify) UpdateResets();
  if (result == LevelFatal) PostToControl(ev::kCloseWindow, 0);
  return result;
}

void BrowseManager::SetQueueRecord() {
  if (Fields) Fields->AssignLeftToRight();
  if (ListQueue && View) {
    View->Position(position_);
    ListQueue->SetViewPosition(position_);
  }
}

void BrowseManager::UpdateBuffer() {
  if (!ListQueue || !Fields) return;
  if (ListQueue->Records() > 0) {
    ListQueue->GetRow(CurrentChoice);
    Fields->AssignRightToLeft();
  } else {
    Fields->ClearLeft();
  }
}

void BrowseManager::UpdateResets() {
  if (SortOrder* sort = CurrentSort(); sort && sort->Resets) sort->Resets->AssignRightToLeft();
}

void BrowseManager::BeginScan() {
  if (scanDepth_++ == 0 && QuickScan && Primary) Primary->SetQuickScan(1);
}

void BrowseManager::EndScan() {
  if (scanDepth_ > 0 && --scanDepth_ == 0 && QuickScan && Primary) Primary->SetQuickScan(0);
}

void BrowseManager::Fetch(std::uint8_t direction) {
  if (!ListQueue || !View) return;
  const bool forward = direction == kFillForward;
  // A fill of more than one row reads one snapshot of the table.
  std::optional<ScanScope> scan;
  if (ItemsToFill > 1) scan.emplace(*this);
  std::string edge;
  bool compareEdge = false;
  if (ListQueue->Records() > 0) {
    ListQueue->GetRow(forward ? ListQueue->Records() : 1);
    edge = ListQueue->GetViewPosition();
    if (View->Reset(edge) != rt::kNoError) static_cast<void>(ReportViewError());
    compareEdge = true;
  }
  // Under UseMRP the view reads ahead the rows still wanted, at most kMaxPrefetch per trip,
  // whenever nothing else has set its read-ahead.
  auto sizePrefetch = [&] {
    if (UseMRP && View->Prefetch() == 0) View->SetPrefetch(std::min(ItemsToFill, kMaxPrefetch));
  };
  sizePrefetch();
  while (ItemsToFill > 0) {
    sizePrefetch();
    const ErrorLevel result = forward ? Next() : Previous();
    if (result == LevelNotify) break;
    if (result == LevelFatal) break;
    if (compareEdge) {
      compareEdge = false;
      if (View->Position() == edge) continue;  // the edge row itself
    }
    if (ListQueue->Records() >= LastItems) {
      ListQueue->GetRow(forward ? 1 : ListQueue->Records());
      ListQueue->Delete();
    }
    SetQueueRecord();
    if (forward) {
      ListQueue->Insert();
    } else {
      ListQueue->InsertAt(1);
    }
    --ItemsToFill;
  }
}

// ---- The thumb ----

void BrowseManager::ResetThumbLimits() {
  const WaitScope wait(*this);
  SortOrder* sort = CurrentSort();
  if (sort && sort->Thumb && !sort->FreeElement.IsNull() && sort->Thumb->LimitNeeded() && View &&
      (AllowUnfilled || Records() >= VisibleItems())) {
    // The limit reads pass through the record buffer: the highlighted record is put back.
    rt::File* file = Primary && Primary->Me ? Primary->Me->File : nullptr;
    std::vector<std::uint8_t> record;
    if (file) record.assign(file->Record(), file->Record() + file->RecordSize());
    double high = 0;
    // The last record of the order, then the first; the read-ahead is the view's own.
    {
      const ScanScope scan(*this);
      static_cast<void>(ResetToStart());
      View->SetPrefetch(0);
      if (Previous() == LevelQuiet) high = sort->FreeElement.Number();
      static_cast<void>(ResetToStart());
      View->SetPrefetch(0);
      if (Next() == LevelQuiet) sort->Thumb->SetLimit(sort->FreeElement, rt::AnyRef::Of(high));
    }
    if (file) std::copy(record.begin(), record.end(), file->Record());
  }
  UpdateThumb();
}

void BrowseManager::UpdateThumb() {
  rt::Window* w = ListWindow();
  if (!w || !ILC) return;
  const std::int32_t control = ILC->GetControl();
  const std::int32_t rows = Records();
  const std::int32_t items = VisibleItems();
  if (!(HasThumb && (rows >= items || AllowUnfilled))) {
    SetNumber(*w, control, rt::prop::kVScroll, 0L);
    return;
  }
  SetNumber(*w, control, rt::prop::kVScroll, 1L);
  SortOrder* sort = CurrentSort();
  if (!sort || !sort->Thumb || sort->FreeElement.IsNull()) {
    UpdateThumbFixed();
    return;
  }
  if (!Loaded || LoadPending) return;
  UpdateBuffer();
  long pos = sort->Thumb->GetPercentile(sort->FreeElement);
  if (rows == items) {
    // A page that shows exactly the list's rows puts the thumb at the very end.
    if (pos == 1) pos = 0;
    if (pos == 99) pos = 100;
  }
  SetNumber(*w, control, rt::prop::kVScrollPos, pos);
}

void BrowseManager::UpdateThumbFixed() {
  rt::Window* w = ListWindow();
  if (!w || !ILC) return;
  const std::int32_t control = ILC->GetControl();
  const std::int32_t rows = ListQueue ? ListQueue->Records() : 0;
  const std::int32_t items = VisibleItems();
  long pos = 50;
  const bool selfScrolling = w->PropNumber(control, rt::prop::kImmediate) == 0;
  if (FileLoaded && items < rows) {
    if (CurrentChoice <= 1) {
      pos = 0;
    } else if (!selfScrolling) {
      pos = std::lround(static_cast<double>(CurrentChoice) * (rows - items) / rows);
    }
  } else if (ItemsToFill > 0) {
    // The last fetch ran out of records: the highlight is at an end of the data.
    if (CurrentEvent == ev::kScrollDown || CurrentEvent == ev::kPageDown ||
        CurrentEvent == ev::kScrollBottom) {
      // A list that scrolls itself takes the row count as its end position.
      if (CurrentChoice == rows) pos = selfScrolling ? rows : 100;
    } else if (CurrentChoice == 1) {
      pos = 0;
    }
  }
  if (!(selfScrolling && FileLoaded)) SetNumber(*w, control, rt::prop::kVScrollPos, pos);
}

// ---- Re-reading the highlighted record ----

bool BrowseManager::RecordMissing() {
  if (Primary && Primary->Me) static_cast<void>(Primary->Me->Throw(kMsgRecordChangedElsewhere));
  return true;
}

void BrowseManager::UpdateViewRecord() {
  if (!ListQueue || !View || ListQueue->Records() == 0) return;
  const std::int32_t choice = ILC ? ILC->Choice() : 0;
  if (choice >= 1 && choice <= ListQueue->Records()) CurrentChoice = choice;
  if (ListQueue->GetRow(CurrentChoice) != rt::kNoError) return;
  const std::string position = ListQueue->GetViewPosition();
  View->Watch();
  int e = View->Reget(position);
  if (e == rt::kNoDriverError) {
    const std::string saved = View->Position();
    View->Reset(position);
    View->Watch();
    e = View->Next();
    if (e == rt::kNoError && View->Position() != position) e = rt::kRecordNotFoundError;
    if (!saved.empty()) View->Reset(saved);
  }
  if (e != rt::kNoError) NeedRefresh = RecordMissing() ? 1 : 0;
}

// ---- Window ----

void BrowseManager::SetAlerts() {
  rt::Window* w = ListWindow();
  if (!w || !ILC) return;
  const std::int32_t list = ILC->GetControl();
  w->Alert(list, rt::key::kMouseLeft2);
  w->Alert(list, rt::key::kMouseRightUp);
  w->Alert(list, rt::key::kApps);
  HasThumb = w->PropNumber(list, rt::prop::kVScroll) != 0 ? 1 : 0;
  w->SetProp(list, rt::prop::kVScroll, 0L);
  if (Sort) {
    for (auto& entry : Sort->Entries) {
      auto& sort = static_cast<SortOrder&>(*entry);
      if (sort.Locator) sort.Locator->SetAlerts(list);
    }
  }
  if (!Popup) return;
  // Popup entries that mimic the buttons, and the list keys that press them.
  struct Action {
    std::int32_t control;
    bool wanted;
    int key;
    const char* name;  // the name seed; "!" takes the button's own text
    const char* text;
  };
  const Action edits[] = {
      {InsertControl, EditViaPopup != 0, rt::key::kInsert, "!&Insert", "&Insert"},
      {ChangeControl, EditViaPopup != 0, rt::key::kCtrlEnter, "!&Change", "&Change"},
      {DeleteControl, EditViaPopup != 0, rt::key::kDelete, "!&Delete", "&Delete"},
      {ViewControl, EditViaPopup != 0, rt::key::kShiftEnter, "!&View", "&View"},
      {PrintControl, true, 0, "!&Print", "&Print"},
  };
  for (const Action& a : edits) {
    if (!a.wanted || !a.control) continue;
    Popup->AddItemMimic(a.name, a.control, a.text);
    if (a.key) w->Alert(list, a.key);
  }
  if (QueryControl) {
    if (Popup->GetItems() > 0) Popup->AddItem("-", "Separator2");
    Popup->AddItemMimic("!&Query", QueryControl, "&Query");
    if (Query && Query->QkSupport) {
      PopupQueryAdapter adapter(*Popup);
      Query->SetPopupEntries(adapter, QueryControl);
    }
  }
  if (SelectControl && Selecting) Popup->AddItemMimic("!&Select", SelectControl, "&Select");
  if (ToolControl) {
    Popup->AddItem("-", "ToolSeparator2");
    Popup->SetToolbox(Popup->AddItemMimic("!&Toolbox", ToolControl, "&Toolbox"), false);
  }
}

void BrowseManager::UpdateWindow() {
  rt::Window* w = ListWindow();
  // The list goes to the screen once, with its rows and thumb together.
  HeldChanges held(w);
  SortOrder* sort = CurrentSort();
  if (sort && sort->Locator) sort->Locator->UpdateWindow();
  const bool hasRows = Records() > 0;
  if (w) {
    for (std::int32_t control : {ChangeControl, DeleteControl, PrintControl, ViewControl}) {
      if (control && w->Exists(control)) w->Disable(control, !hasRows);
    }
    if (SelectControl && w->Exists(SelectControl)) {
      if (Selecting) {
        w->Disable(SelectControl, false);
        if (hasRows && Window && Window->Request == SelectRecord)
          w->SetProp(SelectControl, rt::prop::kDefaultButton, 1L);
      } else {
        w->Disable(SelectControl, true);
        if (HideSelect) w->Hide(SelectControl, true);
      }
    }
  }
  UpdateThumb();
  if (Toolbar) Toolbar->UpdateTarget();
  if (w && ILC) {
    w->Display(ILC->GetControl());
    if (ILC->Choice() != CurrentChoice) ILC->SetChoice(CurrentChoice);
  }
}

// ---- Update procedure ----

std::uint8_t BrowseManager::Ask(std::uint8_t request) {
  std::uint8_t response = RequestCancelled;
  do {
    if (Window && Window->VCRRequest) *Window->VCRRequest = 0;
    // The release of the right button that opened the popup menu is not the form's key.
    if (rt::Window* w = ListWindow(); w && w->KeyCode() == rt::key::kMouseRightUp) w->SetKeyCode(0);
    if (AskProcedure) {
      if (request == InsertRecord && PrepareRecord() != LevelQuiet) return RequestCancelled;
      response = Window ? Window->Run(static_cast<std::uint16_t>(AskProcedure), request)
                        : static_cast<std::uint8_t>(RequestCancelled);
      ResetFromAsk(request, response);
    } else {
      response = AskInPlace(request);
    }
  } while (Window && Window->VCRRequest && *Window->VCRRequest != 0);
  return response;
}

std::uint8_t BrowseManager::AskInPlace(std::uint8_t request) {
  if (!ILC || !ListQueue || !Fields) return RequestCancelled;
  if (!EIP) {
    EIP = std::make_shared<EditInPlaceManager>();
    FreeEIP = 1;
  }
  EditInPlaceManager& eip = *EIP;
  eip.Arrow = &ArrowAction;
  eip.Enter = &EnterAction;
  eip.EQ = EditList.get();
  eip.Fields = Fields.get();
  eip.FocusLoss = &FocusLossAction;
  eip.Tab = &TabAction;
  eip.DeleteKeyAction = DeleteAction;
  eip.BC = this;
  eip.ListControl = ILC->GetControl();
  eip.Errors = Window && Window->Errors ? Window->Errors
                                        : (Primary && Primary->Me ? Primary->Me->Errors : nullptr);
  eip.VCRRequest = Window ? Window->VCRRequest : nullptr;
  return eip.Run(0, request);
}

void BrowseManager::ResetFromAsk(std::uint8_t& request, std::uint8_t& response) {
  std::int32_t navigation = 0;
  // The refill and the thumb limits read one snapshot of the table.
  {
    const ScanScope scan(*this);
    if (response == RequestCompleted) {
      std::string filter;
      if (View) {
        View->Flush();
        filter = View->Filter().substr(0, kFilterLength);
        // Calls the server evaluates are taken out of the local test.
        if (Primary && Primary->Me && Primary->Me->File && Primary->Me->File->SqlDriver())
          filter = RewriteServerFilter(filter);
      }
      if (request == DeleteRecord) {
        if (ListQueue && ListQueue->GetRow(CurrentChoice) == rt::kNoError) ListQueue->Delete();
        ResetQueue(kRefillPage);
      } else if (request == ChangeRecord && !PassesFilter(filter)) {
        // The changed record left the result: its row goes, the rest of the page stays.
        if (ListQueue && ListQueue->GetRow(CurrentChoice) == rt::kNoError) ListQueue->Delete();
        ResetQueue(kRefillPage);
      } else {
        ResetFromFile();
      }
    } else {
      ResetQueue(kRefillPage);
    }
    navigation = Window && Window->VCRRequest ? *Window->VCRRequest : 0;
    if (navigation == NavigateInsert || (navigation == NavigateNext && request == InsertRecord)) {
      request = InsertRecord;
      // The next record is a new one: the file forgets its current record and the buffer.
      if (Primary && Primary->Me && Primary->Me->File) {
        static_cast<void>(Primary->Me->File->GetByPointer(0));
        rt::ClearError();
      }
      ClearPrimaryRecord();
    } else if (navigation != 0) {
      TakeVCRScroll(navigation);
    }
    if (navigation == 0) ResetThumbLimits();
  }
  if (navigation == 0) {
    ShowNewSelection();
    if (rt::Window* w = ListWindow(); w && ILC) w->Select(ILC->GetControl());
  }
}

bool BrowseManager::PassesFilter(const std::string& filter) {
  if (filter.find_first_not_of(' ') == std::string::npos) return true;
  rt::Expression test;
  if (test.Compile(filter) != rt::kNoError) {
    rt::ClearError();
    return true;  // what cannot be judged here stays on the page; the next refill decides
  }
  int error = rt::kNoError;
  const bool passes = test.Test(&error);
  if (error != rt::kNoError) {
    rt::ClearError();
    return true;
  }
  return passes;
}

std::string RewriteServerFilter(std::string_view filter) {
  std::string text(filter.substr(0, kFilterLength));
  // Length of "SQL *(" starting at `at`, or 0 when there is no call there.
  auto callAt = [&](std::size_t at) -> std::size_t {
    if (at + 3 > text.size() || !rt::SameName(std::string_view(text).substr(at, 3), "SQL"))
      return 0;
    std::size_t end = at + 3;
    while (end < text.size() && text[end] == ' ')
      ++end;
    return end < text.size() && text[end] == '(' ? end + 1 - at : 0;
  };
  static constexpr std::string_view kReplacement = " ''=SQL(";
  std::size_t scan = 0;
  while (scan + 4 <= text.size()) {
    std::size_t found = std::string::npos;
    std::size_t length = 0;
    for (std::size_t at = scan; at < text.size(); ++at) {
      const bool boundary =
          at == scan || std::string_view(" |(~").find(text[at - 1]) != std::string_view::npos;
      if (boundary) {
        length = callAt(at);
        if (length) {
          found = at;
          break;
        }
      }
    }
    if (found == std::string::npos) break;
    if (text.size() - length + kReplacement.size() > kFilterLength) break;
    text.replace(found, length, kReplacement);
    scan = found + kReplacement.find('S') + 1;
  }
  return text;
}

void BrowseManager::SetUsePopup(bool on) {
  UsePopup = on ? 1 : 0;
}

void BrowseManager::SetUseMRP(bool on) {
  UseMRP = on ? 1 : 0;
}

bool BrowseManager::GetUseMRP() {
  return UseMRP != 0;
}
