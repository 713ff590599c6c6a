// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/window/WindowController.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "framework/data/FileManager.h"
#include "framework/data/FileMessages.h"
#include "framework/data/RelationManager.h"
#include "framework/error/ErrorHooks.h"
#include "framework/error/ErrorManager.h"
#include "platform/runtime/expressions/BindingScope.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/AnyRef.h"
#include "platform/runtime/values/Text.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace {

// Messages of the form requests.
constexpr std::uint16_t kMsgRecordAdded = 3;   // "Record Added": add another?
constexpr std::uint16_t kMsgAddNew = 5;        // "Add New Record?"
constexpr std::uint16_t kMsgChangesLost = 10;  // "Changes will be lost!"
constexpr std::uint16_t kMsgRangeError = 20;   // "The value of %Field must be in range %Message."
constexpr std::uint16_t kMsgDeleteRetry = 39;  // "Record Delete Error": try again?
constexpr std::uint16_t kMsgUpdateRetry = 40;  // "Record Update Error": try again?
constexpr std::uint16_t kMsgSaveRecord = 41;   // "Save Record"
constexpr int kRetryButtons = rt::kButtonYes | rt::kButtonNo | rt::kButtonCancel;

using rt::WaitCursor;

// Copies field `fieldNo` of one record into the same-numbered field of another.
void CopyField(const RecordReference& from, const RecordReference& to, int fieldNo) {
  const rt::AnyRef source(from.Address, from.Layout->Field(fieldNo));
  const rt::AnyRef target(to.Address, to.Layout->Field(fieldNo));
  target.CopyFrom(source);
}

bool HasField(const RecordReference& record, std::int32_t fieldNo) {
  return fieldNo >= 1 && fieldNo <= record.Layout->FieldCount();
}

}  // namespace

WindowController::WindowController() = default;

WindowController::~WindowController() {
  if (!Dead && CL) static_cast<void>(WindowController::Kill());
}

// ---- Virtual operations ----

void WindowController::Ask() {
  if (Dead) return;
  LastInsertedPosition.clear();
  if (!MyWindow || !MyWindow->IsOpen()) return;
  MyWindow->EventLoop([this] {
    switch (TakeEvent()) {
      case LevelFatal:
        return -1;
      case LevelNotify:
        return 1;
      default:
        return 0;
    }
  });
}

ErrorLevel WindowController::Init() {
  OriginalRequest = Request;
  if (!CL) CL = std::make_unique<std::vector<ComponentEntry>>();
  if (!Buttons) Buttons = std::make_unique<std::vector<ButtonEntry>>();
  if (!bindingScope_) bindingScope_ = std::make_unique<rt::BindingScope>();
  // The right-button click that started this procedure must not act in its window.
  if (rt::Window* active = rt::Window::Active()) {
    const int key = active->KeyCode();
    if (key == rt::key::kMouseRight || key == rt::key::kMouseRightUp) active->SetKeyCode(0);
  }
  InsertAction = kInsertClose;
  DeleteAction = kDeleteConfirm;
  ChangeAction = kChangeClose;
  CancelAction = 3;
  AutoToolbar = 1;
  AutoRefresh = 1;
  OwnerWindow = nullptr;
  return LevelQuiet;
}

ErrorLevel WindowController::Kill() {
  if (Dead || !CL) return LevelNotify;
  // Each component leaves the list before its Kill, so a Kill that removes itself (or
  // another component) finds a consistent list.
  while (!CL->empty()) {
    WindowComponent* component = CL->front().WC;
    CL->erase(CL->begin());
    if (component) component->Kill();
  }
  CL.reset();
  Buttons.reset();
  History.reset();
  if (Files) {
    for (FileEntry& f : *Files)
      if (f.Manager) ReleaseFileBuffer(*f.Manager, f.Saved);
    Files.reset();
  }
  if (Primary) ReleasePrimaryBuffer(Saved);
  if (Toolbar) Toolbar->Kill();
  if (Resize) Resize->Kill();
  Dead = 1;
  bindingScope_.reset();
  return LevelQuiet;
}

void WindowController::Open() {
  if (Translator && MyWindow) Translator->TranslateWindow(*MyWindow);
  Reset(0);
  Inited |= 1;
}

void WindowController::OpenWindow(rt::Window& window, rt::Window* owner) {
  MyWindow = &window;
  if (owner) OwnerWindow = owner;
  Opened = window.Open(OwnerWindow) ? 1 : 0;
}

void WindowController::PrimeFields() {}

ErrorLevel WindowController::PrimeUpdate() {
  FileManager* me = PrimaryFile();
  if (!me) return LevelQuiet;
  if (me->Use(kUseChange) != LevelQuiet) {
    // The table cannot be used (the failure was shown): a form on it could do nothing.
    Response = RequestCancelled;
    return LevelFatal;
  }
  Primary->SaveLinkValues();
  if (Files) {
    for (FileEntry& f : *Files) {
      if (!f.Manager) continue;
      ReleaseFileBuffer(*f.Manager, f.Saved);
      f.Saved = static_cast<std::int16_t>(f.Manager->SaveBuffer());
    }
  }
  ErrorLevel result = LevelQuiet;
  switch (Request) {
    case InsertRecord:
      if (InsertAction != kInsertNone) {
        Response = RequestCompleted;
        PrimeFields();
        if (Response == RequestCancelled) {
          result = LevelFatal;
        } else {
          Response = RequestCancelled;
        }
      }
      break;
    case ChangeRecord:
      if (!WatchCurrentRecord()) {
        Response = RequestCancelled;
        result = LevelFatal;
      }
      break;
    case DeleteRecord:
      if (DeleteAction == kDeleteConfirm || DeleteAction == kDeleteAtOnce) {
        ErrorLevel deleted = LevelQuiet;
        {
          WaitCursor wait;
          deleted = Primary->Delete(DeleteAction == kDeleteConfirm);
        }
        Response = deleted == LevelQuiet ? RequestCompleted : RequestCancelled;
        result = LevelFatal;
      }
      break;
    default:
      break;
  }
  SaveFormBuffer();
  return result;
}

void WindowController::Reset(std::uint8_t force) {
  if (MyWindow && MyWindow->AcceptAllMode()) return;
  const auto combined = static_cast<std::uint8_t>(force + ForcedReset);
  ForcedReset = 0;
  if (CL) {
    // By index: a component may register or remove components while it resets.
    for (std::size_t i = 0; i < CL->size(); ++i)
      if (WindowComponent* c = (*CL)[i].WC) c->Reset(combined);
    for (std::size_t i = 0; i < CL->size(); ++i)
      if (WindowComponent* c = (*CL)[i].WC) c->UpdateWindow();
  }
  if (MyWindow) MyWindow->Display();
}

void WindowController::RestoreField(std::int32_t control) {
  if (!History) return;
  for (const HistoryEntry& h : *History) {
    if (h.Control != control) continue;
    CopyField(h.SRecord, h.FRecord, h.FieldNo);
    if (MyWindow) MyWindow->Display(control);
    return;
  }
}

std::uint8_t WindowController::Run() {
  if (Init() == LevelQuiet) Ask();
  static_cast<void>(Kill());
  return Response != NoResponse ? Response : static_cast<std::uint8_t>(RequestCancelled);
}

std::uint8_t WindowController::Run(std::uint16_t, std::uint8_t) {
  return RequestCancelled;
}

void WindowController::SetAlerts() {
  if (CL)
    for (std::size_t i = 0; i < CL->size(); ++i)
      if (WindowComponent* c = (*CL)[i].WC) c->SetAlerts();
  if (HistoryKey != 0 && History && MyWindow)
    for (const HistoryEntry& h : *History)
      MyWindow->Alert(h.Control, HistoryKey);
}

void WindowController::SetResponse(std::uint8_t response) {
  Response = response;
  PostToWindow(rt::event::kCloseWindow);
  if (response == RequestCancelled && Toolbar && VCRRequest) *VCRRequest = NoNavigation;
}

ErrorLevel WindowController::TakeAccepted() {
  if (!MyWindow) return LevelQuiet;
  const std::int32_t accepted = MyWindow->Field();
  if (Toolbar) {
    Toolbar->TakeEvent(VCRRequest, *this);
    if (accepted == kToolbarHistory) RestoreField(MyWindow->FocusField());
  }
  if (Buttons) {
    for (const ButtonEntry& b : *Buttons) {
      if (b.Control == accepted) {
        SetResponse(b.Action);
        return LevelNotify;
      }
    }
  }
  if (OKControl != 0 && accepted == OKControl) PostCompletion();
  if (SaveControl != 0 && accepted == SaveControl) {
    if (Request == ViewRecord) return LevelNotify;
    BeforeSaveRequest = Request;
    Request = SaveRecord;
    PostCompletion();
  }
  EnableCancelButtons();
  return LevelQuiet;
}

ErrorLevel WindowController::TakeCompleted() {
  CopyHistoryRecords();
  switch (Request) {
    case InsertRecord:
      return CompleteInsert();
    case ChangeRecord:
      return CompleteChange();
    case DeleteRecord:
      return CompleteDelete();
    case SaveRecord:
      if (OriginalRequest == InsertRecord) return SaveInsert();
      if (OriginalRequest == ChangeRecord) return SaveChange();
      return LevelQuiet;
    default:
      return LevelQuiet;
  }
}

ErrorLevel WindowController::TakeCloseEvent() {
  FileManager* me = PrimaryFile();
  if (Response == RequestCompleted || !me) return LevelQuiet;
  if (CancelAction != 0 && (Request == InsertRecord || Request == ChangeRecord) &&
      !me->BufferUnchanged(Saved)) {
    if (CancelAction & 1) {
      const int answer = (CancelAction & 2) ? ErrorsInUse().MessageById(
                                                  kMsgSaveRecord, kRetryButtons, rt::kButtonCancel)
                                            : rt::kButtonYes;
      if (answer == rt::kButtonYes) {
        // Save as the OK control would; a failing save keeps the window open.
        if (OKControl != 0)
          PostToWindow(rt::event::kAccepted, OKControl);
        else
          PostCompletion();
        return LevelNotify;
      }
      if (answer != rt::kButtonNo) {
        Reselect();
        return LevelNotify;
      }
    } else if (ErrorsInUse().Throw(kMsgChangesLost) != LevelQuiet) {
      Reselect();
      return LevelNotify;
    }
  }
  if (OriginalRequest == InsertRecord && Response == RequestCancelled) {
    // The record added when the insert was primed goes again.
    ErrorLevel cancelled = LevelQuiet;
    {
      WaitCursor wait;
      cancelled = Primary->CancelAutoNumber();
    }
    // Closing down, the window goes even so: the program must be able to end.
    if (cancelled != LevelQuiet && MyWindow && MyWindow->Event() != rt::event::kCloseDown) {
      Reselect();
      return LevelNotify;
    }
  }
  if (!LastInsertedPosition.empty()) {
    // The caller finds the last record inserted in this window current.
    Response = RequestCompleted;
    if (me->File && me->Use(kUseManagerRead) == LevelQuiet)
      static_cast<void>(me->File->Reget(nullptr, LastInsertedPosition));  // where it can
  }
  return LevelQuiet;
}

ErrorLevel WindowController::TakeEvent() {
  if (!MyWindow) return LevelQuiet;
  const int event = MyWindow->Event();
  const int control = MyWindow->Field();
  ErrorLevel r = LevelQuiet;
  if (control == 0) {
    r = TakeWindowEvent();
    if (r != LevelQuiet) return r;
  }
  switch (event) {
    case rt::event::kAccepted:
      r = TakeAccepted();
      break;
    case rt::event::kNewSelection:
      r = TakeNewSelection();
      break;
    case rt::event::kAlertKey:
      // A key arrives at the focused control.
      if (HistoryKey != 0 && MyWindow->KeyCode() == HistoryKey)
        RestoreField(control != 0 ? control : MyWindow->FocusField());
      break;
    case rt::event::kRejected:
      r = TakeRejected();
      break;
    case rt::event::kSelected:
      r = TakeSelected();
      break;
    case rt::event::kSized:
      PostToWindow(rt::event::kResize);
      break;
    default:
      break;
  }
  if (r != LevelQuiet) return r;
  if (control != 0) {
    r = TakeFieldEvent();
    if (r != LevelQuiet) return r;
  }
  if (CL) {
    for (std::size_t i = 0; i < CL->size(); ++i) {
      WindowComponent* c = (*CL)[i].WC;
      if (!c) continue;
      r = c->TakeEvent();
      if (r != LevelQuiet) return r;
    }
  }
  if (AutoRefresh && CL && !IsNoRefreshEvent(event, control)) {
    for (std::size_t i = 0; i < CL->size(); ++i) {
      WindowComponent* c = (*CL)[i].WC;
      if (c && c->ResetRequired()) {
        Reset(0);
        break;
      }
    }
  }
  return LevelQuiet;
}

ErrorLevel WindowController::TakeFieldEvent() {
  return LevelQuiet;
}

ErrorLevel WindowController::TakeNewSelection() {
  if (MyWindow && MyWindow->Type(MyWindow->Field()) == rt::ctl::kSheet) {
    Reset(0);
    if (AutoToolbar && Toolbar) Toolbar->SetTarget(0);
  }
  return LevelQuiet;
}

ErrorLevel WindowController::TakeNotify(std::int32_t, std::int32_t, long) {
  return LevelQuiet;
}

ErrorLevel WindowController::TakeRejected() {
  rt::Beep();
  if (MyWindow) {
    const int control = MyWindow->Field();
    ReportRefusedValue(control);
    MyWindow->Display(control);
    MyWindow->Select(control);
  }
  return LevelQuiet;
}

ErrorLevel WindowController::TakeSelected() {
  return LevelQuiet;
}

ErrorLevel WindowController::TakeWindowEvent() {
  if (!MyWindow) return LevelQuiet;
  switch (MyWindow->Event()) {
    case rt::event::kCloseWindow:
    case rt::event::kCloseDown:
      return TakeCloseEvent();
    case rt::event::kOpenWindow:
      if (!(Inited & 1)) Open();
      if (FirstField != 0) MyWindow->Select(FirstField);
      return LevelQuiet;
    case rt::event::kLoseFocus:
      if (ResetOnGainFocus) ForcedReset = 1;
      return LevelQuiet;
    case rt::event::kGainFocus:
      if (Inited & 1)
        Reset(0);
      else
        Open();
      return LevelQuiet;
    case rt::event::kNotify: {
      const rt::EventMessage& note = MyWindow->Current();
      const ErrorLevel r = TakeNotify(note.notifyCode, note.notifyThread, note.notifyParameter);
      if (r == LevelQuiet && note.notifyCode == rt::event::kGainFocus) {
        // Another thread asks this window to come forward.
        std::this_thread::yield();
        if (MyWindow->PropNumber(0, rt::prop::kIconized) != 0)
          MyWindow->SetProp(0, rt::prop::kIconized, 0L);
        PostToWindow(rt::event::kGainFocus);
      }
      return r;
    }
    case rt::event::kCompleted:
      return TakeCompleted();
    case rt::event::kSized:
      // The Sized event that follows opening does not reset; later ones do.
      if (Inited & 2)
        Reset(0);
      else
        Inited |= 2;
      return LevelQuiet;
    default:
      return LevelQuiet;
  }
}

void WindowController::Update() {
  if (!CL) return;
  for (std::size_t i = 0; i < CL->size(); ++i)
    if (WindowComponent* c = (*CL)[i].WC) c->Update();
}

void WindowController::SetDisabled(std::int32_t control, bool disabled) {
  if (control != 0 && MyWindow) MyWindow->Disable(control, disabled);
}

ErrorLevel WindowController::CompleteInsert() {
  FileManager* me = PrimaryFile();
  if (!me) return LevelQuiet;
  if (me->AutoIncDone && me->CurrentRecordGone() && !AddGoneRecordAgain()) return LevelNotify;
  ErrorLevel inserted = LevelQuiet;
  {
    WaitCursor wait;
    inserted = Primary->Insert();
  }
  if (inserted != LevelQuiet) {
    Reselect();
    return LevelNotify;
  }
  if (!BatchProcessing) {
    if (InsertAction == kInsertClose) {
      SetResponse(RequestCompleted);
      return LevelQuiet;
    }
    if (InsertAction == kInsertAskNext && ErrorsInUse().Throw(kMsgRecordAdded) != LevelQuiet) {
      SetResponse(RequestCompleted);
      return LevelQuiet;
    }
    if (InsertAction != kInsertNext && InsertAction != kInsertAskNext) return LevelQuiet;
  }
  PrimeNextInsert();
  RedisplayAndReselect();
  return LevelNotify;
}

ErrorLevel WindowController::CompleteChange() {
  FileManager* me = PrimaryFile();
  if (!me) return LevelQuiet;
  ErrorLevel r = LevelQuiet;
  for (;;) {
    Response = RequestCancelled;
    const bool unchanged = me->BufferUnchanged(Saved);
    r = LevelQuiet;
    if (!unchanged) r = UpdatePrimary();
    if (r == LevelQuiet) {
      if (!unchanged || (Toolbar && (!VCRRequest || *VCRRequest == NoNavigation)))
        Response = RequestCompleted;
      if (OriginalRequest != ChangeRecord) break;
      if (BatchProcessing) break;  // no record navigation object in this system
      if (ChangeAction == kChangeClose) PostToWindow(rt::event::kCloseWindow);
      break;
    }
    if (r == LevelAsk) {
      const int answer =
          ErrorsInUse().MessageById(kMsgUpdateRetry, kRetryButtons, rt::kButtonCancel);
      if (answer == rt::kButtonYes) continue;
      if (answer == rt::kButtonNo) {
        if (OriginalRequest != InsertRecord) PostToWindow(rt::event::kCloseWindow);
        break;
      }
    }
    RedisplayAndReselect();
    break;
  }
  if (r != LevelQuiet) return LevelNotify;
  if (OriginalRequest == InsertRecord && Response == RequestCompleted) {
    // A record inserted with Save and then completed.
    EnableCancelButtons();
    Request = InsertRecord;
    if (InsertAction != kInsertNext) {
      if (!BatchProcessing && ChangeAction == kChangeClose) PostToWindow(rt::event::kCloseWindow);
      return LevelQuiet;
    }
    PrimeNextInsert();
    RedisplayAndReselect();
    return LevelNotify;
  }
  return LevelQuiet;
}

ErrorLevel WindowController::CompleteDelete() {
  if (!PrimaryFile()) return LevelQuiet;
  for (;;) {
    Response = RequestCancelled;
    ErrorLevel r = LevelQuiet;
    {
      WaitCursor wait;
      r = Primary->Delete(DeleteAction == kDeleteConfirm);
    }
    if (r == LevelQuiet || r == LevelCancel) {
      // A delete the user declined is not reported as done.
      if (!BatchProcessing) SetResponse(r == LevelQuiet ? RequestCompleted : RequestCancelled);
      break;
    }
    if (IsOtherStationMessage(PrimaryFile()->LastError)) {
      // Another station changed or deleted the record: shown, not tried again unseen.
      RedisplayAndReselect();
      break;
    }
    const int answer = ErrorsInUse().MessageById(kMsgDeleteRetry, kRetryButtons, rt::kButtonCancel);
    if (answer == rt::kButtonYes) continue;
    if (answer == rt::kButtonNo) {
      if (!BatchProcessing) PostToWindow(rt::event::kCloseWindow);
    } else {
      // Any other answer stays on the form as Cancel does. Deleting again on it could go on
      // for ever: a screen that answers a button it did not offer, without asking anyone,
      // would be asked again at once, and the failing delete tried again, with no end.
      RedisplayAndReselect();
    }
    break;
  }
  if (!BatchProcessing) return LevelQuiet;
  SaveFormBuffer();
  RedisplayAndReselect();
  return LevelNotify;
}

ErrorLevel WindowController::SaveChange() {
  FileManager* me = PrimaryFile();
  if (!me) return LevelNotify;
  ErrorLevel r = LevelQuiet;
  for (;;) {
    Response = RequestCancelled;
    r = LevelQuiet;
    if (!me->BufferUnchanged(Saved)) r = UpdatePrimary();
    if (r == LevelQuiet) break;
    if (r == LevelAsk) {
      const int answer =
          ErrorsInUse().MessageById(kMsgUpdateRetry, kRetryButtons, rt::kButtonCancel);
      if (answer == rt::kButtonYes) continue;
      if (answer == rt::kButtonNo) break;
    }
    RedisplayAndReselect();
    break;
  }
  if (r == LevelQuiet) {
    SaveFormBuffer();
    DisableCancelButtons();
  }
  Request = ChangeRecord;
  return LevelNotify;
}

ErrorLevel WindowController::SaveInsert() {
  FileManager* me = PrimaryFile();
  if (!me) return LevelNotify;
  if (BeforeSaveRequest == InsertRecord) {
    ErrorLevel inserted = LevelQuiet;
    {
      WaitCursor wait;
      inserted = Primary->Insert();
    }
    if (inserted != LevelQuiet) {
      Request = InsertRecord;
    } else {
      Request = ChangeRecord;
      Reselect();
      SaveFormBuffer();
      DisableCancelButtons();
    }
    return LevelNotify;
  }
  Request = ChangeRecord;
  if (me->BufferUnchanged(Saved)) return LevelNotify;
  return SaveChange();
}

// ---- Registration ----

void WindowController::AddItem(WindowComponent& component) {
  if (!CL) CL = std::make_unique<std::vector<ComponentEntry>>();
  CL->push_back({0, &component});
}

void WindowController::AddButton(std::int32_t control, std::uint8_t response) {
  if (!Buttons) Buttons = std::make_unique<std::vector<ButtonEntry>>();
  Buttons->push_back({control, response});
}

void WindowController::AddUpdateFile(FileManager& manager) {
  if (!Files) Files = std::make_unique<std::vector<FileEntry>>();
  Files->push_back({&manager, 0});
}

ErrorLevel WindowController::AddHistoryFile(const RecordReference& record,
                                            const RecordReference& copy) {
  if (!record.Valid() || !copy.Valid()) return LevelNotify;
  if (!History) History = std::make_unique<std::vector<HistoryEntry>>();
  historyRecord_ = record;
  historyCopy_ = copy;
  return LevelQuiet;
}

ErrorLevel WindowController::AddHistoryField(std::int32_t control, std::int32_t fieldNo) {
  if (!History || !historyRecord_.Valid() || !historyCopy_.Valid()) return LevelNotify;
  if (!HasField(historyRecord_, fieldNo) || !HasField(historyCopy_, fieldNo)) return LevelNotify;
  const HistoryEntry entry{historyRecord_, historyCopy_, control, fieldNo};
  for (HistoryEntry& h : *History) {
    if (h.Control == control) {
      h = entry;
      return LevelQuiet;
    }
  }
  History->push_back(entry);
  return LevelQuiet;
}

void WindowController::SetResize(ResizeTarget& resizer) {
  Resize = &resizer;
}

void WindowController::SetToolbar(ToolbarDispatcher& toolbar) {
  Toolbar = &toolbar;
  toolbar.Init();
}

void WindowController::RemoveItem(WindowComponent& component) {
  if (!CL) return;
  std::erase_if(*CL, [&](const ComponentEntry& e) { return e.WC == &component; });
}

// ---- Helpers ----

void WindowController::PostCompletion() {
  if (!MyWindow) return;
  if (OriginalRequest == InsertRecord || OriginalRequest == ChangeRecord ||
      OriginalRequest == ViewRecord) {
    if (OriginalRequest == ViewRecord && !BatchProcessing) PostToWindow(rt::event::kCompleted);
    MyWindow->Select();
  } else if (!BatchProcessing) {
    PostToWindow(rt::event::kCompleted);
  } else {
    MyWindow->Select();
  }
}

bool WindowController::ReportRefusedValue(std::int32_t control, std::string_view fieldName) {
  if (!MyWindow || MyWindow->Refusal(control) == rt::FieldFit::Fits) return false;
  const std::string range = MyWindow->ValueRange(control);
  if (range.empty()) return true;  // a text: its picture's rejection is beep enough
  std::string name(fieldName);
  for (std::int32_t before = control - 1; name.empty() && before > 0; --before) {
    if (MyWindow->Exists(before) && MyWindow->Type(before) == rt::ctl::kPrompt) {
      for (char c : MyWindow->Prop(before, rt::prop::kText))
        if (c != '&') name += c;
      name = std::string(rt::Trim(rt::TrimRight(rt::Trim(name), ":")));
      break;
    }
  }
  ErrorManager& errors = ErrorsInUse();
  errors.SetField(name.empty() ? "this field" : name);
  static_cast<void>(errors.ThrowMessage(kMsgRangeError, range));
  return true;
}

void WindowController::EnableCancelButtons() {
  if (!DisableCancelButton || !Buttons) return;
  for (const ButtonEntry& b : *Buttons)
    if (b.Action == RequestCancelled) SetDisabled(b.Control, false);
}

void WindowController::DisableCancelButtons() {
  if (!DisableCancelButton || !Buttons) return;
  for (const ButtonEntry& b : *Buttons)
    if (b.Action == RequestCancelled) SetDisabled(b.Control, true);
}

void WindowController::Reselect() {
  if (MyWindow && FirstField != 0) MyWindow->Select(FirstField);
}

void WindowController::PostToWindow(int event, int control) {
  if (MyWindow) MyWindow->Post(event, control);
}

FileManager* WindowController::PrimaryFile() const {
  return Primary ? Primary->Me : nullptr;
}

ErrorManager& WindowController::ErrorsInUse() const {
  return Errors ? *Errors : GlobalErrors();
}

void WindowController::RedisplayAndReselect() {
  if (MyWindow) MyWindow->Display();
  Reselect();
}

void WindowController::SaveFormBuffer() {
  FileManager* me = PrimaryFile();
  if (!me) return;
  ReleasePrimaryBuffer(Saved);
  Saved = static_cast<std::int16_t>(me->SaveBuffer());
}

void WindowController::PrimeNextInsert() {
  FileManager* me = PrimaryFile();
  if (me->File && me->File->IsOpen()) LastInsertedPosition = me->File->Position(nullptr);
  if (Files) {
    for (FileEntry& f : *Files) {
      if (!f.Manager) continue;
      std::int32_t id = f.Saved;
      f.Manager->RestoreBuffer(id, true);
      f.Saved = static_cast<std::int16_t>(f.Manager->SaveBuffer());
    }
  }
  // The record as the form received it, without the values of the one just added.
  std::int32_t saved = Saved;
  me->RestoreBuffer(saved, true);
  Saved = 0;
  // A table that cannot be used (the failure was shown) cannot take another record either.
  if (me->Use(kUseChange) != LevelQuiet || me->AutoNumber() != LevelQuiet) {
    PostToWindow(rt::event::kCloseWindow);
  } else {
    PrimeFields();
    Response = RequestCancelled;
  }
  Saved = static_cast<std::int16_t>(me->SaveBuffer());
}

ErrorLevel WindowController::UpdatePrimary() {
  if (PrimaryFile()->CurrentRecordGone()) {
    // Nothing left to write to: say so instead of offering a retry that cannot succeed.
    static_cast<void>(PrimaryFile()->Throw(kMsgRecordGone));
    return LevelNotify;
  }
  WaitCursor wait;
  return Primary->Update(HistoryKey != 0);
}

bool WindowController::AddGoneRecordAgain() {
  FileManager* me = PrimaryFile();
  static_cast<void>(me->Throw(kMsgRecordGone));
  // The record was never completed, so nothing of it is left to remove.
  me->AutoIncDone = 0;
  if (ErrorsInUse().MessageById(kMsgAddNew, rt::kButtonYes | rt::kButtonNo, rt::kButtonYes) ==
      rt::kButtonYes) {
    return true;  // added afresh, with the next number
  }
  // The user chose to close: what was typed goes without another question.
  CancelAction = 0;
  SetResponse(RequestCancelled);
  return false;
}

bool WindowController::WatchCurrentRecord() {
  FileManager* me = PrimaryFile();
  rt::File* file = me ? me->File : nullptr;
  if (!file || !file->IsOpen()) return true;
  const std::string position = file->Position(nullptr);
  if (position.empty()) return true;
  // Read the record afresh and watch it, so that a change another station makes while the
  // form is open is detected when the form writes.
  static_cast<void>(file->Watch());  // without change detection the write goes on unguarded
  const int result = file->Reget(nullptr, position);
  if (result == rt::kNoError) return true;
  if (result != rt::kRecordNotFoundError && result != rt::kNoRecordError) return true;
  static_cast<void>(me->Throw(kMsgRecordGone));
  return false;
}

void WindowController::ReleaseFileBuffer(FileManager& manager, std::int16_t& id) {
  std::int32_t saved = id;
  manager.RestoreBuffer(saved, false);
  id = 0;
}

void WindowController::ReleasePrimaryBuffer(std::int16_t& id) {
  std::int32_t saved = id;
  if (Primary && Primary->Me) Primary->Me->RestoreBuffer(saved, false);
  id = 0;
}

bool WindowController::IsNoRefreshEvent(int event, int control) const {
  namespace ev = rt::event;
  switch (event) {
    case ev::kMouseIn:
    case ev::kMouseOut:
    case ev::kPreAlertKey:
    case ev::kDragging:
    case ev::kTabChanging:
    case ev::kExpanding:
    case ev::kContracting:
    case ev::kDroppingDown:
    case ev::kSelecting:
    case ev::kLoseFocus:
    case ev::kGainFocus:
    case ev::kMove:
    case ev::kSize:
    case ev::kRestore:
    case ev::kMaximize:
    case ev::kIconize:
      return true;
    case ev::kScrollUp:
    case ev::kScrollDown:
    case ev::kPageUp:
    case ev::kPageDown:
    case ev::kScrollTop:
    case ev::kScrollBottom:
    case ev::kScrollDrag:
    case ev::kScrollTrack:
      // A control that scrolls itself has already redrawn.
      return MyWindow && control != 0 && MyWindow->PropNumber(control, rt::prop::kImmediate) != 0;
    default:
      return false;
  }
}

void WindowController::CopyHistoryRecords() {
  if (!History) return;
  std::vector<const void*> copied;
  for (const HistoryEntry& h : *History) {
    if (std::find(copied.begin(), copied.end(), h.FRecord.Address) != copied.end()) continue;
    copied.push_back(h.FRecord.Address);
    if (h.FRecord.Layout == h.SRecord.Layout) {
      std::memmove(h.SRecord.Address, h.FRecord.Address, h.FRecord.Layout->Size());
    } else {
      const int fields = std::min(h.FRecord.Layout->FieldCount(), h.SRecord.Layout->FieldCount());
      for (int n = 1; n <= fields; ++n)
        CopyField(h.FRecord, h.SRecord, n);
    }
  }
}
