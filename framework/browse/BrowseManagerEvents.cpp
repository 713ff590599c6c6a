// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/BrowseManager.h"

#include <algorithm>
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
      case kEventOtherClients:
        TakeOtherClientsChange();
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

void BrowseManager::TakeOtherClientsChange() {
  if (!ListQueue || !View || !Loaded || LoadPending) return;
  // As after the browse's own changes: the view's read-ahead is dropped and the page rebuilt
  // from the highlighted row, which keeps its screen row; a deleted one gives way to its
  // nearest neighbour in the view's order.
  {
    const ScanScope scan(*this);
    static_cast<void>(Open());
    View->Flush();
    RefillAroundHighlight();
    ResetThumbLimits();
  }
  ShowNewSelection();
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
    static_cast<void>(ViewManager::Reset(sort->MainKey ? FreeElementPosition() : 1));
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
  static_cast<void>(ViewManager::Reset(sort->MainKey ? FreeElementPosition() : 1));
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
