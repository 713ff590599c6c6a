// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/BrowseManager.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "framework/browse/EditInPlaceManager.h"
#include "framework/browse/HeldChanges.h"
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
  if (FileLoaded && ILC) KeepScreenLine(ILC->GetLine());
}

void BrowseManager::KeepScreenLine(std::int32_t line) {
  if (line == 1) {
    ILC->SetChoice(CurrentChoice + 1);
  } else {
    ILC->SetChoice(CurrentChoice);
    ILC->SetChoice(CurrentChoice - line + 1);
  }
  ILC->SetChoice(CurrentChoice);
}

void BrowseManager::ScrollEnd(int event) {
  CurrentEvent = event;
  if (!FileLoaded && ListQueue) {
    ListQueue->Free();
    static_cast<void>(ResetToStart());
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
    KeepScreenLine(line);
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

namespace {

// The list event each toolbar navigation request scrolls by.
int ScrollEventFor(std::int32_t request) {
  static constexpr std::pair<std::int32_t, int> kEvents[] = {
      {NavigateBottom, ev::kScrollBottom}, {NavigateTop, ev::kScrollTop},
      {NavigatePageDown, ev::kPageDown},   {NavigatePageUp, ev::kPageUp},
      {NavigateNext, ev::kScrollDown},     {NavigatePrevious, ev::kScrollUp}};
  for (const auto& [navigation, event] : kEvents)
    if (navigation == request) return event;
  return 0;
}

}  // namespace

void BrowseManager::TakeVCRScroll(std::int32_t request) {
  const int event = ScrollEventFor(request);
  if (event) TakeScroll(event);
  if (Window) {
    Window->Reset(0);
    Window->Update();
  }
}
