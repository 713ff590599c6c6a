#include "framework/browse/BrowseManager.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

#include "framework/browse/EditInPlaceManager.h"
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

// Holds a window's changes while in scope: they reach the screen once, together.
class HeldChanges {
 public:
  explicit HeldChanges(rt::Window* w) : w_(w) {
    if (w_) w_->HoldChanges(true);
  }
  ~HeldChanges() {
    if (w_) w_->HoldChanges(false);
  }
  HeldChanges(const HeldChanges&) = delete;
  HeldChanges& operator=(const HeldChanges&) = delete;

 private:
  rt::Window* w_;
};

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
    Primary->Me->Use(3);
    Buffer = Primary->Me->SaveBuffer();
  }
  return result;
}

void BrowseManager::Kill() {
  if (!Inited || Killed) return;
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
  rt::Window* w = ListWindow();
  if (!w || !w->IsOpen()) return;
  rt::EventMessage m;
  m.event = event;
  m.control = control;
  m.windowId = w->Id();
  rt::PostMessage(w->Thread(), std::move(m));
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
  const bool scan = ItemsToFill > 1;
  if (scan) BeginScan();
  std::string edge;
  bool compareEdge = false;
  if (ListQueue->Records() > 0) {
    ListQueue->GetRow(forward ? ListQueue->Records() : 1);
    edge = ListQueue->GetViewPosition();
    if (View->Reset(edge) != rt::kNoError) ReportViewError();
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
  if (scan) EndScan();
}

// ---- Filling the page ----

std::int32_t BrowseManager::Locate(const std::string& target) {
  if (target.empty()) return 1;
  const std::int32_t rows = ListQueue->Records();
  for (std::int32_t i = 1; i <= rows; ++i) {
    ListQueue->GetRow(i);
    if (ListQueue->GetViewPosition() == target) return i;
  }
  return 0;
}

void BrowseManager::ResetQueue(std::uint8_t mode) {
  if (!ListQueue || !ILC || !View) return;
  std::string target;
  bool wasEmpty = false;
  std::int32_t shift = 0;
  if (!ActiveInvisible && !ILC->GetVisible()) {
    LoadPending = 1;
    return;
  }
  Loaded = 1;
  LoadPending = 0;
  WaitCursor(true);
  if (CurrentChoice == 0) CurrentChoice = 1;
  if (mode == kRefillPage) {
    if (ListQueue->Records() > 0) {
      if (ListQueue->GetRow(CurrentChoice) != rt::kNoError) ListQueue->GetRow(ListQueue->Records());
      target = ListQueue->GetViewPosition();
      ListQueue->GetRow(1);
      Open();
      if (View->Reset(ListQueue->GetViewPosition()) != rt::kNoError) ReportViewError();
    } else {
      wasEmpty = true;
      ResetToStart();
    }
  } else if (mode == kRefillFromView && RetainRow) {
    if (LastItems > 0 && LastItems < CurrentChoice) {
      // The page shrank below the highlight: drop rows from the top so it stays visible.
      target = ListQueue->GetViewPosition();
      for (std::int32_t n = ListQueue->Records() - LastItems; n > 0 && CurrentChoice > 1; --n) {
        ListQueue->GetRow(1);
        ListQueue->Delete();
        --CurrentChoice;
      }
      ILC->SetChoice(CurrentChoice);
      ListQueue->GetRow(CurrentChoice);
    }
    shift = CurrentChoice - 1;
  }
  const std::int32_t savedChoice = CurrentChoice;
  auto locate = [&] {
    CurrentChoice = Locate(target);
    if (RetainRow) shift = savedChoice - CurrentChoice;
  };
  // The fills below read one snapshot of the table.
  BeginScan();
  ListQueue->Free();
  ItemsToFill = LastItems - shift;
  Fetch(kFillForward);
  const bool hitEnd = ItemsToFill != 0;
  if (target.empty() && ListQueue->Records() > 0) {
    ListQueue->GetRow(1);
    target = ListQueue->GetViewPosition();
  }
  locate();
  if (ListQueue->Records() == 0) ResetToStart();
  ItemsToFill = AllowUnfilled ? 0 : LastItems - ListQueue->Records();
  if (!wasEmpty && (ItemsToFill > 0 || shift > 0)) {
    ItemsToFill = std::max(ItemsToFill, shift);
    Fetch(kFillBackward);
    if (target.empty() && ListQueue->Records() > 0) {
      ListQueue->GetRow(ListQueue->Records());
      target = ListQueue->GetViewPosition();
    }
    locate();
  }
  if (RetainRow && (shift < 0 || (ListQueue->Records() < LastItems && !hitEnd))) {
    ItemsToFill = std::max(-shift, LastItems - ListQueue->Records());
    Fetch(kFillForward);
    locate();
  }
  while (ListQueue->Records() > LastItems) {
    if (shift < 0) {
      ListQueue->GetRow(1);
      ListQueue->Delete();
      ++shift;
      --CurrentChoice;
    } else {
      ListQueue->GetRow(ListQueue->Records());
      ListQueue->Delete();
    }
  }
  EndScan();
  if (CurrentChoice <= 0) CurrentChoice = 1;
  if (Records() != 0) {
    CurrentChoice = std::min(CurrentChoice, ListQueue->Records());
    UpdateBuffer();
  } else {
    ClearPrimaryRecord();
  }
  WaitCursor(false);
}

// ---- Sort orders and refills ----

bool BrowseManager::SelectSort(int number) {
  const bool changed = SelectOrder(number);
  if (changed) {
    if (SortOrder* sort = CurrentSort(); sort && sort->Locator) sort->Locator->Set();
  }
  return changed;
}

bool BrowseManager::SetSort(int number, bool force) {
  const bool changed = SelectSort(number);
  const bool rangeChanged = ApplyRange();
  bool result = changed;
  if (changed || rangeChanged || force || !Loaded || LoadPending) {
    SortOrder* sort = CurrentSort();
    if (sort && sort->Resets) sort->Resets->AssignLeftToRight();
    Open();
    // The page and the thumb limits come from one snapshot of the table.
    BeginScan();
    if ((Selecting || StartAtCurrent) && !Loaded) {
      ViewManager::Reset(sort && sort->MainKey ? FreeElementPosition() : 1);
      ResetQueue(kRefillFromView);
    } else if (ListQueue && ListQueue->Records() > 0) {
      // Refill around the highlighted row.
      if (CurrentChoice < 1 || ListQueue->GetRow(CurrentChoice) != rt::kNoError)
        ListQueue->GetRow(1);
      if (View->Reset(ListQueue->GetViewPosition()) != rt::kNoError) ReportViewError();
      ResetQueue(kRefillFromView);
    } else {
      ResetQueue(kRefillPage);
    }
    if (!LoadPending) {
      PostNewSelection();
      ResetThumbLimits();
      result = true;
    }
    EndScan();
  }
  UpdateBuffer();
  return result;
}

bool BrowseManager::ResetSort(bool force) {
  return SetSort(Sort ? Sort->Pointer : 1, force);
}

bool BrowseManager::ApplyRange() {
  bool changed = false;
  const std::int32_t items = VisibleItems();
  if (items != LastItems && items >= 0) {
    if (FileLoaded) {
      LastItems = kWholeFile;
    } else {
      LastItems = items;
      changed = true;
    }
  }
  if (!changed && !ViewManager::ApplyRange()) {
    const SortOrder* sort = CurrentSort();
    if (!sort || !sort->Resets || sort->Resets->Equal()) return false;
  }
  LoadPending = 1;
  return true;
}

void BrowseManager::ResetFromBuffer() {
  const SortOrder* sort = CurrentSort();
  if (sort && sort->MainKey && Primary && Primary->Me) {
    ViewManager::Reset(Primary->Me->ComponentCount(*sort->MainKey));
  } else {
    ViewManager::Reset(1);
  }
  ResetQueue(kRefillFromView);
  UpdateWindow();
}

void BrowseManager::ResetFromFile() {
  if (!View) return;
  Open();
  if (View->ResetToFile() != rt::kNoError) ReportViewError();
  ResetQueue(kRefillFromView);
}

void BrowseManager::ReplaceSort(StepLocator* locator, StepLong* thumb, std::string_view order) {
  SortOrder* sort = CurrentSort();
  if (!sort) return;
  if (!SavedSort) {
    SavedSort = 1;
    SavedLocator = sort->Locator;
    SavedThumb = sort->Thumb;
    SavedLocatorField = SavedLocator ? SavedLocator->FreeElement : rt::AnyRef();
    SavedSortString = sort->Order ? *sort->Order : std::string();
    if (SavedSortString.size() > kSavedSortLength) SavedSortString.resize(kSavedSortLength);
  }
  sort->Locator = locator;
  if (locator) locator->SetShadow("");
  sort->Thumb = thumb;
  SetOrder(order);
  SetSort(Sort->Pointer, true);
}

// ---- The thumb ----

void BrowseManager::ResetThumbLimits() {
  WaitCursor(true);
  SortOrder* sort = CurrentSort();
  if (sort && sort->Thumb && !sort->FreeElement.IsNull() && sort->Thumb->LimitNeeded() && View &&
      (AllowUnfilled || Records() >= VisibleItems())) {
    // The limit reads pass through the record buffer: the highlighted record is put back.
    rt::File* file = Primary && Primary->Me ? Primary->Me->File : nullptr;
    std::vector<std::uint8_t> record;
    if (file) record.assign(file->Record(), file->Record() + file->RecordSize());
    double high = 0;
    // The last record of the order, then the first; the read-ahead is the view's own.
    BeginScan();
    ResetToStart();
    View->SetPrefetch(0);
    if (Previous() == LevelQuiet) high = sort->FreeElement.Number();
    ResetToStart();
    View->SetPrefetch(0);
    if (Next() == LevelQuiet) sort->Thumb->SetLimit(sort->FreeElement, rt::AnyRef::Of(high));
    EndScan();
    if (file) std::copy(record.begin(), record.end(), file->Record());
  }
  UpdateThumb();
  WaitCursor(false);
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
  if (Primary && Primary->Me) Primary->Me->Throw(kMsgRecordChangedElsewhere);
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

// ---- Scrolling ----

void BrowseManager::ScrollOne(int event) {
  CurrentEvent = event;
  const std::int32_t rows = ListQueue ? ListQueue->Records() : 0;
  if (event == ev::kScrollUp && CurrentChoice > 1) {
    --CurrentChoice;
    return;
  }
  if (event == ev::kScrollDown && CurrentChoice < rows) {
    ++CurrentChoice;
    return;
  }
  if (FileLoaded) return;
  ItemsToFill = 1;
  Fetch(event == ev::kScrollUp ? kFillBackward : kFillForward);
}

void BrowseManager::ScrollPage(int event) {
  CurrentEvent = event;
  std::int32_t n = VisibleItems();
  if (!FileLoaded) {
    ItemsToFill = n;
    Fetch(event == ev::kPageUp ? kFillBackward : kFillForward);
    n = ItemsToFill;
  }
  const std::int32_t rows = ListQueue ? ListQueue->Records() : 0;
  if (event == ev::kPageUp) {
    CurrentChoice = std::max(1, CurrentChoice - n);
  } else {
    CurrentChoice = std::min(rows, CurrentChoice + n);
  }
  if (FileLoaded && ILC) {
    const std::int32_t line = ILC->GetLine();
    if (line == 1) {
      ILC->SetChoice(CurrentChoice + 1);
    } else {
      ILC->SetChoice(CurrentChoice);
      ILC->SetChoice(CurrentChoice - line + 1);
    }
    ILC->SetChoice(CurrentChoice);
  }
}

void BrowseManager::ScrollEnd(int event) {
  CurrentEvent = event;
  if (!FileLoaded && ListQueue) {
    ListQueue->Free();
    ResetToStart();
    ItemsToFill = VisibleItems();
    Fetch(event == ev::kScrollTop ? kFillForward : kFillBackward);
  }
  CurrentChoice = event == ev::kScrollTop ? 1 : (ListQueue ? ListQueue->Records() : 0);
}

void BrowseManager::TakeScroll(int event) {
  rt::Window* w = ListWindow();
  if (event == 0 && w) event = w->Event();
  if (!ListQueue || ListQueue->Records() == 0) return;
  switch (event) {
    case ev::kScrollUp:
    case ev::kScrollDown:
      ScrollOne(event);
      break;
    case ev::kPageUp:
    case ev::kPageDown:
      ScrollPage(event);
      break;
    case ev::kScrollTop:
    case ev::kScrollBottom:
      ScrollEnd(event);
      break;
    default:
      return;
  }
  AfterScrolling();
}

void BrowseManager::AfterScrolling() {
  SortOrder* sort = CurrentSort();
  if (sort && sort->Locator) sort->Locator->Set();
  // The new page reaches the screen with its highlight, in one update.
  HeldChanges held(ListWindow());
  UpdateWindow();
  PostNewSelection();
  if (!sort || !sort->Thumb) UpdateThumbFixed();
  UpdateBuffer();
}

void BrowseManager::ThumbDrag() {
  rt::Window* w = ListWindow();
  if (!w || !ILC) return;
  const std::int32_t control = ILC->GetControl();
  const double read = static_cast<double>(w->PropNumber(control, rt::prop::kVScrollPos));
  double v = read;
  if (v <= 1.0) {
    PostToList(ev::kScrollTop);
    return;
  }
  const std::int32_t rows = ListQueue ? ListQueue->Records() : 0;
  const std::int32_t items = VisibleItems();
  if (FileLoaded && rows > items) v = v * 100 / (rows - items);
  if (v >= 100.0) {
    PostToList(ev::kScrollBottom);
    return;
  }
  SortOrder* sort = CurrentSort();
  if (FileLoaded && rows > items) {
    const std::int32_t line = ILC->GetLine();
    // The scroll position of a loaded list counts rows scrolled: it places the highlight at
    // the same share of all the rows.
    CurrentChoice = std::clamp(static_cast<std::int32_t>(read / (rows - items) * rows), 1, rows);
    AfterScrolling();
    if (line == 1) {
      ILC->SetChoice(CurrentChoice + 1);
    } else {
      ILC->SetChoice(CurrentChoice);
      ILC->SetChoice(CurrentChoice - line + 1);
    }
    ILC->SetChoice(CurrentChoice);
    w->SetProp(control, rt::prop::kVScrollPos, static_cast<long>(read));
  } else if (sort && sort->Thumb && !sort->FreeElement.IsNull()) {
    sort->FreeElement.SetValue(sort->Thumb->GetValue(static_cast<std::uint8_t>(v)));
    HeldChanges held(w);
    ResetFromBuffer();
    // The highlight now stands on another record: tell the owner, as every other move does.
    PostNewSelection();
  } else {
    PostToList(v < 50.0 ? ev::kPageUp : ev::kPageDown);
  }
}

void BrowseManager::TakeVCRScroll(std::int32_t request) {
  int event = 0;
  switch (request) {
    case NavigateBottom:
      event = ev::kScrollBottom;
      break;
    case NavigateTop:
      event = ev::kScrollTop;
      break;
    case NavigatePageDown:
      event = ev::kPageDown;
      break;
    case NavigatePageUp:
      event = ev::kPageUp;
      break;
    case NavigateNext:
      event = ev::kScrollDown;
      break;
    case NavigatePrevious:
      event = ev::kScrollUp;
      break;
    default:
      break;
  }
  if (event) TakeScroll(event);
  if (Window) {
    Window->Reset(0);
    Window->Update();
  }
}

// ---- Events ----

void BrowseManager::TakeEvent() {
  rt::Window* w = ListWindow();
  if (!w || !ILC) return;
  const int event = w->Event();
  const int control = w->Field();
  if (control == 0) {
    const std::int32_t choice = ILC->Choice();
    if (choice > 0) CurrentChoice = choice;
  }
  if (control != 0 && control == ILC->GetControl()) {
    switch (event) {
      case ev::kScrollUp:
      case ev::kScrollDown:
      case ev::kPageUp:
      case ev::kPageDown:
      case ev::kScrollTop:
      case ev::kScrollBottom:
        TakeScroll(event);
        break;
      case ev::kScrollDrag:
        ThumbDrag();
        break;
      case ev::kAlertKey:
        TakeKey();
        break;
      case ev::kNewSelection:
        TakeNewSelection();
        break;
      case ev::kLocate:
        TakeLocate();
        break;
      default:
        break;
    }
  }
  if (QueryControl && control == QueryControl && event == ev::kNewSelection && Query && Popup) {
    // A saved-query entry of the popup menu was chosen.
    PopupQueryAdapter adapter(*Popup);
    if (Query->TakePopupChoice(adapter)) TakeLocate();
  }
  NeedRefresh = 0;
  if (event == ev::kAccepted && control != 0) TakeAcceptedControl(control);
  if (NeedRefresh) {
    ResetQueue(kRefillFromView);
    NeedRefresh = 0;
  } else if (event == ev::kCloseWindow && Selecting && Primary && Primary->Me) {
    if (Window && Window->Response == RequestCompleted) {
      Primary->Me->RestoreBuffer(Buffer, false);
      if (SelectWholeRecord) {
        UpdateViewRecord();
      } else {
        UpdateBuffer();
      }
    } else {
      Primary->Me->RestoreBuffer(Buffer, true);
    }
  }
}

void BrowseManager::TakeAcceptedControl(std::int32_t control) {
  std::uint8_t request = NoRequest;
  if (control == DeleteControl) {
    request = DeleteRecord;
  } else if (control == ChangeControl) {
    request = ChangeRecord;
  } else if (control == InsertControl) {
    request = InsertRecord;
  } else if (control == ViewControl) {
    request = ViewRecord;
  }
  if (request != NoRequest) {
    // The highlighted record is read again first: one another station changed or deleted is
    // reported and the page refilled instead of running the form on stale data.
    if (Window) {
      Window->Update();
    } else {
      UpdateViewRecord();
    }
    if (!NeedRefresh) Ask(request);
  } else if (control == SelectControl) {
    if (Window) Window->SetResponse(RequestCompleted);
    PostToControl(ev::kCloseWindow, 0);
  } else if (control == PrintControl) {
    UpdateViewRecord();
    if (!NeedRefresh && Window && PrintProcedure) {
      Window->Run(PrintProcedure, kPrintRequest);
      UpdateBuffer();
    }
  } else if (control == QueryControl) {
    if (Query) Query->QkCurrentQuery.clear();
    TakeLocate();
  } else if (control == ToolControl) {
    if (Popup) Popup->Toolbox("Browse Actions");
  } else {
    TakeAcceptedLocator();
  }
}

bool BrowseManager::PressButton(std::int32_t control, bool loadRecord) {
  rt::Window* w = ListWindow();
  if (!control || !w || !w->Exists(control) || w->PropNumber(control, rt::prop::kDisabled) != 0)
    return false;
  PostToControl(ev::kAccepted, control);
  if (loadRecord) UpdateBuffer();
  ShowNewSelection();
  return true;
}

void BrowseManager::TakeNewSelection() {
  if (ListQueue && ListQueue->Records() > 0 && ILC) {
    const std::int32_t choice = ILC->Choice();
    if (choice >= 1 && choice <= ListQueue->Records()) CurrentChoice = choice;
    LastChoice = CurrentChoice;
  }
  UpdateBuffer();
  rt::Window* w = ListWindow();
  const int keyCode = w ? w->KeyCode() : 0;
  if (keyCode != rt::key::kMouseRightUp && keyCode != rt::key::kApps) {
    if (Window) Window->Reset(0);
  } else if (UsePopup && Popup && w) {
    w->SetKeyCode(0);
    Popup->Ask();
  }
}

bool BrowseManager::TakeKey() {
  rt::Window* w = ListWindow();
  const int key = w ? w->KeyCode() : 0;
  if (key == rt::key::kMouseRightUp) {
    // The row under the pointer gets the highlight before the menu opens.
    const long row = ILC ? w->PropNumber(ILC->GetControl(), rt::prop::kListMouseRow) : 0;
    if (row > 0) CurrentChoice = static_cast<std::int32_t>(row);
    PostNewSelection();
    return false;
  }
  const bool hasRows = ListQueue && ListQueue->Records() > 0;
  if (!hasRows) {
    if (LocatorKey(false)) return true;
    return key == rt::key::kInsert && PressButton(InsertControl, false);
  }
  switch (key) {
    case rt::key::kMouseLeft2: {
      if (Selecting) return PressButton(SelectControl, false);
      // A double click on the header or below the last row hit no record: it changes none.
      const long zone = ILC ? w->PropNumber(ILC->GetControl(), rt::prop::kListMouseZone) : 0;
      if (zone == rt::listzone::kHeader || zone == rt::listzone::kBelowRows) return false;
      return PressButton(ChangeControl, true);
    }
    case rt::key::kCtrlEnter:
      return PressButton(ChangeControl, true);
    case rt::key::kInsert:
      return PressButton(InsertControl, false);
    case rt::key::kDelete:
      return PressButton(DeleteControl, false);
    case rt::key::kApps:
      ShowNewSelection();
      return true;
    case rt::key::kShiftEnter:
      return PressButton(ViewControl, true);
    default:
      return LocatorKey(true);
  }
}

bool BrowseManager::LocatorKey(bool hasRows) {
  SortOrder* sort = CurrentSort();
  if (!sort || !sort->Locator) return false;
  if (sort->Locator->TakeKey()) {
    ViewManager::Reset(sort->MainKey ? FreeElementPosition() : 1);
    ResetQueue(kRefillFromView);
    ShowNewSelection();
    return true;
  }
  if (!hasRows) return false;
  ShowNewSelection();
  return true;
}

void BrowseManager::TakeAcceptedLocator() {
  SortOrder* sort = CurrentSort();
  rt::Window* w = ListWindow();
  if (!sort || !sort->Locator || !w || sort->Locator->Control == 0) return;
  if (w->Accepted() != sort->Locator->Control || !sort->Locator->TakeAccepted()) return;
  ViewManager::Reset(sort->MainKey ? FreeElementPosition() : 1);
  if (ILC) w->Select(ILC->GetControl());
  ResetQueue(kRefillFromView);
  sort->Locator->Reset();
  ShowNewSelection();
}

void BrowseManager::TakeLocate() {
  if (!Query) return;
  if (Query->Ask(true)) {
    const std::string filter = Query->GetFilter();
    const int current = Sort ? Sort->Pointer : 0;
    const int first = QueryShared && Sort ? 1 : current;
    const int last = QueryShared && Sort ? Sort->Records() : current;
    for (int order = first; order <= last && Sort; ++order) {
      Sort->Pointer = order;
      SetNamedFilter(filter, kQueryFilterId);
      if (rt::Window* w = ListWindow(); w && QueryResult && w->Exists(QueryResult))
        w->SetProp(QueryResult, rt::prop::kText, filter);
    }
    if (Sort) Sort->Pointer = current;
    ResetSort(true);
  }
  if (Query->QkSupport && Popup) {
    PopupQueryAdapter adapter(*Popup);
    Query->SetPopupEntries(adapter, QueryControl);
  }
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
  // The refill and the thumb limits read one snapshot of the table.
  BeginScan();
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
  std::int32_t navigation = Window && Window->VCRRequest ? *Window->VCRRequest : 0;
  if (navigation == NavigateInsert || (navigation == NavigateNext && request == InsertRecord)) {
    request = InsertRecord;
    // The next record is a new one: the file forgets its current record and the buffer.
    if (Primary && Primary->Me && Primary->Me->File) {
      Primary->Me->File->GetByPointer(0);
      rt::ClearError();
    }
    ClearPrimaryRecord();
  } else if (navigation != 0) {
    TakeVCRScroll(navigation);
  }
  if (navigation == 0) ResetThumbLimits();
  EndScan();
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
  auto upper = [](char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  };
  // Length of "SQL *(" starting at `at`, or 0 when there is no call there.
  auto callAt = [&](std::size_t at) -> std::size_t {
    if (at + 3 > text.size() || upper(text[at]) != 'S' || upper(text[at + 1]) != 'Q' ||
        upper(text[at + 2]) != 'L')
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
