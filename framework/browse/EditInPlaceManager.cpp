// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/EditInPlaceManager.h"

#include <algorithm>

#include "framework/browse/BrowseManager.h"
#include "framework/browse/EditEntry.h"
#include "framework/data/FieldPairs.h"
#include "framework/data/FileManager.h"
#include "framework/data/RelationManager.h"
#include "framework/error/ErrorManager.h"
#include "framework/window/RequestCodes.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace {

bool IsEmpty(const rt::AnyRef& field) {
  if (field.IsNull()) return true;
  if (field.IsText()) return field.Text().find_first_not_of(' ') == std::string::npos;
  return field.Number() == 0;
}

}  // namespace

EditInPlaceManager::EditInPlaceManager() = default;

EditInPlaceManager::~EditInPlaceManager() {
  if (!Dead && CL) static_cast<void>(EditInPlaceManager::Kill());
}

std::uint8_t EditInPlaceManager::Run(std::uint16_t, std::uint8_t request) {
  MouseLeftIndex = 0;
  if (BC) {
    if (rt::Window* w = BC->ListWindow())
      MouseLeftIndex = static_cast<std::uint8_t>(
          std::min(254, w->RemoveAlert(ListControl, rt::key::kMouseLeft)));
  }
  Req = request;
  return WindowController::Run();
}

void EditInPlaceManager::Ask() {
  if (Dead || !MyWindow || !MyWindow->IsOpen()) return;
  // The loop runs on the browse's window: ending it must leave the window open.
  MyWindow->EventLoop([this] {
    switch (TakeEvent()) {
      case LevelFatal:
        MyWindow->LeaveEventLoop();
        return 1;
      case LevelNotify:
        return 1;
      default:
        return 0;
    }
  });
}

ErrorLevel EditInPlaceManager::Init() {
  Dead = 0;
  Request = Req;
  if (ErrorLevel r = WindowController::Init(); r != LevelQuiet) return r;
  Response = RequestCancelled;
  Again = 0;
  rowEnded_ = false;
  if (!BC || !BC->ListQueue || !BC->ILC || !Fields) return LevelFatal;
  MyWindow = BC->ListWindow();
  if (!MyWindow) return LevelFatal;
  BrowseQueue& page = *BC->ListQueue;
  RelationManager* primary = BC->Primary;
  BC->CurrentChoice = BC->ILC->Choice();
  // A row starts in its first column unless an arrow key asked to keep the column.
  if (!keepColumn_) Column = 1;
  keepColumn_ = false;

  if (Req == InsertRecord) {
    if (page.Records() > 0) {
      if (Insert == kInsertAtEnd) {
        BC->ScrollEnd(rt::event::kScrollBottom);
        BC->CurrentChoice = page.Records();
      }
      if (BC->PrepareRecord() != LevelQuiet) return LevelFatal;
      if (primary) primary->SaveLinkValues();
      std::int32_t at = Insert == kInsertAtHighlight ? BC->CurrentChoice : BC->CurrentChoice + 1;
      if (page.Records() >= BC->LastItems && BC->LastItems > 0) {
        // A full page makes room at the far end from the new row.
        if (at > page.Records()) {
          page.GetRow(1);
          page.Delete();
          --at;
          BC->CurrentChoice = std::max(1, BC->CurrentChoice - 1);
        } else {
          page.GetRow(page.Records());
          page.Delete();
        }
      }
      BC->CurrentChoice = std::max(1, at);
    } else {
      if (BC->PrepareRecord() != LevelQuiet) return LevelFatal;
      if (primary) primary->SaveLinkValues();
      BC->CurrentChoice = 1;
    }
    Fields->ClearRight();
    WasPrimed = Fields->Equal() ? 0 : 1;
    BC->SetQueueRecord();
    page.InsertAt(BC->CurrentChoice);
    MyWindow->Display(ListControl);
    BC->ILC->SetChoice(BC->CurrentChoice);
    Column = 1;
  } else if (Req == DeleteRecord) {
    ErrorLevel r = LevelCancel;
    BC->UpdateViewRecord();
    if (!BC->NeedRefresh && primary && DeleteKeyAction != kDeleteConfirm)
      r = primary->Delete(DeleteKeyAction == kDeleteAtOnce);
    Response = r == LevelQuiet ? RequestCompleted : RequestCancelled;
    return LevelNotify;  // nothing to edit
  } else {
    WasPrimed = 0;
    BC->UpdateViewRecord();
    if (BC->NeedRefresh) return LevelNotify;
    page.GetRow(BC->CurrentChoice);
    BC->SetQueueRecord();
    page.Update();
    if (primary) primary->SaveLinkValues();
    if (MyWindow->KeyCode() == rt::key::kMouseLeft2) {
      const long column = MyWindow->PropNumber(ListControl, rt::prop::kListMouseColumn);
      if (column > 0) Column = static_cast<std::int32_t>(column);
    }
  }
  page.GetRow(BC->CurrentChoice);
  MyWindow->RemoveAlert(ListControl, rt::key::kMouseLeft2);
  Column = std::max<std::int32_t>(Column, 1);
  LastColumn = 0;
  Repost = 0;
  RepostField = 0;
  SeekForward = 1;
  InitControls();
  ResetColumn();
  return LevelQuiet;
}

ErrorLevel EditInPlaceManager::Kill() {
  if (Dead || !CL) return LevelNotify;
  std::uint8_t request = Req;
  std::uint8_t response = Response;
  if (BC) BC->ResetFromAsk(request, response);
  Response = response;
  if (EQ) {
    for (EditListEntry& e : *EQ)
      if (e.Control) e.Control->Kill();
  }
  if (MyWindow) {
    for (const auto& [column, color] : greyed_)
      MyWindow->SetColumnColor(ListControl, column, color);
    greyed_.clear();
    MyWindow->Alert(ListControl, rt::key::kMouseLeft2);
    if (MouseLeftIndex) MyWindow->Alert(ListControl, rt::key::kMouseLeft);
    MouseLeftIndex = 0;
    if (Repost) PostToWindow(Repost, RepostField);
  }
  return WindowController::Kill();
}

// ---- Columns ----

std::int32_t EditInPlaceManager::ColumnCount() const {
  return MyWindow ? static_cast<std::int32_t>(MyWindow->Columns(ListControl).size()) : 0;
}

EditListEntry* EditInPlaceManager::EntryOf(std::int32_t column) {
  if (!EQ) return nullptr;
  for (EditListEntry& e : *EQ)
    if (e.Column == column) return &e;
  return nullptr;
}

void EditInPlaceManager::InitControls() {
  if (!EQ || !MyWindow) return;
  std::stable_sort(EQ->begin(), EQ->end(), [](const EditListEntry& a, const EditListEntry& b) {
    return a.Field < b.Field;
  });
  static const FieldPairList kNoPairs;
  const FieldPairList& pairs = Fields->List ? *Fields->List : kNoPairs;
  for (std::int32_t column = 1; column <= ColumnCount(); ++column) {
    // List column n shows field n of the page.
    auto it = std::find_if(EQ->begin(), EQ->end(),
                           [&](const EditListEntry& e) { return e.Field == column; });
    if (it == EQ->end()) {
      EQ->push_back({column, 1, std::make_shared<EditEntry>(), 0});
      it = EQ->end() - 1;
    }
    it->Column = column;
    if (!it->Control) {
      // A column that cannot be edited shows so while the row is edited.
      const long color = MyWindow->ColumnColor(ListControl, column);
      if (color != rt::kColorGrayText) greyed_.emplace_back(column, color);
      MyWindow->SetColumnColor(ListControl, column, rt::kColorGrayText);
    } else if (column <= static_cast<std::int32_t>(pairs.size())) {
      it->Control->Init(*MyWindow, column, ListControl,
                        pairs[static_cast<std::size_t>(column - 1)]->Right);
      // Every edit control mirrors its field from the start, shown or not, so that taking
      // the screen's values back never blanks a column the user did not visit.
      if (const std::int32_t feq = it->Control->GetFeq()) MyWindow->Display(feq);
    }
  }
  std::stable_sort(EQ->begin(), EQ->end(), [](const EditListEntry& a, const EditListEntry& b) {
    return a.Column < b.Column;
  });
}

bool EditInPlaceManager::ColumnEditable() {
  const EditListEntry* e = EntryOf(Column);
  if (!e || !e->Control || !e->Control->GetFeq()) return false;
  const auto& columns = MyWindow->Columns(ListControl);
  return Column >= 1 && Column <= static_cast<std::int32_t>(columns.size()) &&
         columns[static_cast<std::size_t>(Column - 1)].width != 0;
}

void EditInPlaceManager::ResetColumn() {
  if (!MyWindow) return;
  MyWindow->SetKeyCode(0);
  const std::int32_t count = ColumnCount();
  if (count == 0) return;
  Column = std::clamp<std::int32_t>(Column, 1, count);
  // Past columns that cannot be edited, wrapping once at either end.
  std::int32_t tried = 0;
  while (!ColumnEditable() && tried < count) {
    Column = SeekForward ? Column % count + 1 : (Column + count - 2) % count + 1;
    ++tried;
  }
  if (!ColumnEditable()) return;
  EditListEntry* e = EntryOf(Column);
  if (Column == LastColumn && !e->Control->ColumnChanged(LastColumn)) return;
  const std::int32_t feq = e->Control->GetFeq();
  MyWindow->PlaceOverCell(feq, ListControl, Column);
  MyWindow->Hide(feq, false);
  MyWindow->Display(feq);
  MyWindow->Select(feq);
  LastColumn = static_cast<std::uint8_t>(Column);
}

void EditInPlaceManager::ClearColumn() {
  if (!LastColumn || !MyWindow) return;
  MyWindow->Update();
  if (BC && BC->ListQueue) BC->ListQueue->Update();
  if (EditListEntry* e = EntryOf(LastColumn); e && e->Control) {
    const std::int32_t feq = e->Control->GetFeq();
    MyWindow->PlaceOverCell(feq, ListControl, 0);
    MyWindow->Hide(feq);
  }
  MyWindow->Display(ListControl);
  LastColumn = 0;
}

bool EditInPlaceManager::CheckColumns() {
  if (!EQ || !MyWindow) return true;
  for (std::int32_t column = 1; column <= ColumnCount(); ++column) {
    EditListEntry* e = EntryOf(column);
    if (!e || !e->Control || !e->Control->GetFeq()) continue;
    MyWindow->Update(e->Control->GetFeq());
    if ((e->Control->Req && IsEmpty(e->Control->UseVar)) ||
        e->Control->TakeAccepted(kEditNext) == kEditCancel || RefusedValue(*e)) {
      ClearColumn();
      Column = column;
      Again = 1;
      SeekForward = 1;
      ResetColumn();
      return false;
    }
  }
  return true;
}

bool EditInPlaceManager::RefusedValue(const EditListEntry& entry) {
  const std::int32_t feq = entry.Control ? entry.Control->GetFeq() : 0;
  if (!feq || MyWindow->Refusal(feq) == rt::FieldFit::Fits) return false;
  const auto& columns = MyWindow->Columns(ListControl);
  std::string name;
  if (entry.Column >= 1 && entry.Column <= static_cast<std::int32_t>(columns.size()))
    name = columns[static_cast<std::size_t>(entry.Column - 1)].header;
  ReportRefusedValue(feq, name.empty() ? "column " + std::to_string(entry.Column) : name);
  return true;
}

// ---- Ending a row ----

void EditInPlaceManager::EndRow(const std::uint8_t* actionByte, bool isTab,
                                std::int32_t navigation) {
  int button = rt::kButtonYes;
  if (actionByte) {
    const int how = *actionByte & kRowEndMask;
    if (how == kRowEndAbandon) {
      button = rt::kButtonNo;
    } else if (isTab ? how != kRowEndSave : how > kRowEndSave) {
      button = 0;  // ask
    }
  }
  TakeCompleted(button);
  if (rowEnded_ && !Again && actionByte && (*actionByte & kContinueBit) && VCRRequest)
    *VCRRequest = navigation;
}

void EditInPlaceManager::TakeAction(std::uint8_t action) {
  EditListEntry* e = EntryOf(Column);
  if (action != kEditNone && action != kEditCancel && e && e->Control) {
    action = e->Control->TakeAccepted(action);
    if (RefusedValue(*e)) {
      // The field's own value comes back into the control, which keeps the focus.
      MyWindow->Display(e->Control->GetFeq());
      MyWindow->Select(e->Control->GetFeq());
      return;
    }
  }
  switch (action) {
    case kEditNext: {
      ClearColumn();
      const std::int32_t from = Column;
      SeekForward = 1;
      for (++Column; Column <= ColumnCount() && !ColumnEditable(); ++Column) {
      }
      if (Column <= ColumnCount()) {
        ResetColumn();
      } else {
        Column = from;
        EndRow(Tab, true, NavigateNext);
      }
      break;
    }
    case kEditPrevious: {
      std::int32_t previous = Column - 1;
      while (previous >= 1) {
        std::swap(previous, Column);
        const bool editable = ColumnEditable();
        std::swap(previous, Column);
        if (editable) break;
        --previous;
      }
      if (previous >= 1) {
        ClearColumn();
        Column = previous;
        SeekForward = 0;
        ResetColumn();
      }
      break;
    }
    case kEditComplete:
      EndRow(Enter, false, NavigateNext);
      break;
    case kEditCancel:
      TakeCompleted(rt::kButtonNo);
      break;
    case kEditNextRow:
    case kEditPreviousRow: {
      const std::int32_t column = Column;
      EndRow(Arrow, false, action == kEditNextRow ? NavigateNext : NavigatePrevious);
      if (rowEnded_) {
        keepColumn_ = Arrow && (*Arrow & kKeepColumnBit);
        Column = keepColumn_ ? column : 1;
      }
      break;
    }
    default:
      break;
  }
}

void EditInPlaceManager::TakeCompleted(int button) {
  rowEnded_ = false;
  if (button == rt::kButtonYes || button == 0) {
    if (!CheckColumns()) return;
  }
  Again = 0;
  ClearColumn();
  if (BC && BC->ListQueue) BC->ListQueue->GetRow(BC->CurrentChoice);
  if (!Fields->Equal() || WasPrimed) {
    if (button == 0)
      button = Errors ? Errors->MessageById(kMsgSaveRecord,
                                            rt::kButtonYes | rt::kButtonNo | rt::kButtonCancel,
                                            rt::kButtonYes)
                      : rt::kButtonYes;
  } else {
    button = rt::kButtonNo;
  }
  Response = RequestCancelled;
  RelationManager* primary = BC ? BC->Primary : nullptr;
  if (button == rt::kButtonNo) {
    if (Req == InsertRecord && BC && BC->ListQueue) {
      BC->ListQueue->GetRow(BC->CurrentChoice);
      BC->ListQueue->Delete();
      if (Insert != kInsertAtHighlight) BC->CurrentChoice = std::max(1, BC->CurrentChoice - 1);
      if (primary && primary->Me) static_cast<void>(primary->Me->CancelAutoNumber());
    }
    rowEnded_ = true;
  } else if (button == rt::kButtonYes && primary && primary->Me) {
    std::int32_t saved = primary->Me->SaveBuffer();
    BC->UpdateBuffer();
    const ErrorLevel r = Req == InsertRecord ? primary->Insert() : primary->Update();
    if (r == LevelQuiet) {
      Response = RequestCompleted;
      primary->Me->RestoreBuffer(saved, false);
      rowEnded_ = true;
    } else {
      primary->Me->RestoreBuffer(saved, true);
    }
    if (BC->View) BC->View->Flush();
  }
  if (!rowEnded_) {
    Column = 1;
    SeekForward = 1;
    ResetColumn();
  }
}

void EditInPlaceManager::TakeFocusLoss() {
  EndRow(FocusLoss, false, 0);
}

// ---- Events ----

ErrorLevel EditInPlaceManager::TakeEvent() {
  if (!MyWindow) return LevelFatal;
  const int event = MyWindow->Event();
  if (MyWindow->Field() == 0) {
    switch (event) {
      case rt::event::kCloseWindow:
      case rt::event::kCloseDown:
      case rt::event::kIconize:
        TakeFocusLoss();
        // A row that stays open (a failed check, or the user chose Cancel) keeps the window.
        if (!rowEnded_) return LevelNotify;
        Repost = event;
        RepostField = 0;
        return LevelFatal;
      case rt::event::kGainFocus:
      case rt::event::kLoseFocus:
      case rt::event::kOpenWindow:
        return LevelNotify;
      default:
        break;
    }
  }
  const ErrorLevel r = WindowController::TakeEvent();
  return rowEnded_ ? LevelFatal : r;
}

ErrorLevel EditInPlaceManager::TakeFieldEvent() {
  const int control = MyWindow->Field();
  const int event = MyWindow->Event();
  if (control == ListControl) return LevelQuiet;
  if (EQ) {
    for (EditListEntry& e : *EQ) {
      if (e.Control && e.Control->GetFeq() == control) {
        const std::uint8_t action = e.Control->TakeEvent(event);
        if (action != kEditNone) TakeAction(action);
        return rowEnded_ ? LevelFatal : LevelNotify;
      }
    }
  }
  if (event == rt::event::kSelected && MyWindow->Type(control) == rt::ctl::kButton)
    return LevelQuiet;
  if (event == rt::event::kAccepted || event == rt::event::kSelected ||
      event == rt::event::kMouseDown) {
    TakeFocusLoss();
    if (!rowEnded_) return LevelNotify;
    // The click acts once the row is finished.
    Repost = event;
    RepostField = control;
    return LevelFatal;
  }
  return LevelQuiet;
}

ErrorLevel EditInPlaceManager::TakeNewSelection() {
  if (MyWindow->Field() != ListControl) return WindowController::TakeNewSelection();
  const std::int32_t chosen = MyWindow->Choice(ListControl);
  if (chosen == BC->CurrentChoice) {
    const long column = MyWindow->PropNumber(ListControl, rt::prop::kListMouseColumn);
    if (column > 0 && column != Column) {
      ClearColumn();
      Column = static_cast<std::int32_t>(column);
      SeekForward = 1;
      ResetColumn();
    }
    return LevelNotify;
  }
  const std::int32_t edited = BC->CurrentChoice;
  TakeFocusLoss();
  if (rowEnded_ && !Again) {
    // An abandoned new row above the chosen one no longer takes a place.
    const bool removed = Req == InsertRecord && Response != RequestCompleted;
    BC->CurrentChoice = removed && chosen > edited ? chosen - 1 : chosen;
    Response = RequestCancelled;
    return LevelFatal;
  }
  MyWindow->SetChoice(ListControl, edited);
  return LevelNotify;
}
