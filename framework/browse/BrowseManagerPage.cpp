// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/BrowseManager.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "framework/browse/EditInPlaceManager.h"
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
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/UiBackend.h"
#include "platform/runtime/windows/Window.h"

namespace ev = rt::event;

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
  WatchOtherClients();
  const WaitScope wait(*this);
  if (CurrentChoice == 0) CurrentChoice = 1;
  if (mode == kRefillPage) {
    if (ListQueue->Records() > 0) {
      if (ListQueue->GetRow(CurrentChoice) != rt::kNoError) ListQueue->GetRow(ListQueue->Records());
      target = ListQueue->GetViewPosition();
      ListQueue->GetRow(1);
      static_cast<void>(Open());
      if (View->Reset(ListQueue->GetViewPosition()) != rt::kNoError)
        static_cast<void>(ReportViewError());
    } else {
      wasEmpty = true;
      static_cast<void>(ResetToStart());
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
  {
    const ScanScope scan(*this);
    ListQueue->Free();
    ItemsToFill = LastItems - shift;
    Fetch(kFillForward);
    const bool hitEnd = ItemsToFill != 0;
    if (target.empty() && ListQueue->Records() > 0) {
      ListQueue->GetRow(1);
      target = ListQueue->GetViewPosition();
    }
    locate();
    if (ListQueue->Records() == 0) static_cast<void>(ResetToStart());
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
  }
  if (CurrentChoice <= 0) CurrentChoice = 1;
  if (Records() != 0) {
    CurrentChoice = std::min(CurrentChoice, ListQueue->Records());
    UpdateBuffer();
  } else {
    ClearPrimaryRecord();
  }
}

void BrowseManager::WatchOtherClients() {
  if (!otherClients_) {
    otherClients_ = std::make_unique<OtherClientsWatch>();
    rt::File* file = Primary && Primary->Me ? Primary->Me->File : nullptr;
    rt::Window* w = ListWindow();
    if (file && w && ILC) otherClients_->Start(*file, *w, kEventOtherClients, ILC->GetControl());
  }
  otherClients_->Rearm();
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
    static_cast<void>(Open());
    // The page and the thumb limits come from one snapshot of the table.
    const ScanScope scan(*this);
    if ((Selecting || StartAtCurrent) && !Loaded) {
      static_cast<void>(ViewManager::Reset(sort && sort->MainKey ? FreeElementPosition() : 1));
      ResetQueue(kRefillFromView);
    } else {
      RefillAroundHighlight();
    }
    if (!LoadPending) {
      PostNewSelection();
      ResetThumbLimits();
      result = true;
    }
  }
  UpdateBuffer();
  return result;
}

void BrowseManager::RefillAroundHighlight() {
  if (ListQueue && ListQueue->Records() > 0) {
    if (CurrentChoice < 1 || ListQueue->GetRow(CurrentChoice) != rt::kNoError) ListQueue->GetRow(1);
    if (View->Reset(ListQueue->GetViewPosition()) != rt::kNoError)
      static_cast<void>(ReportViewError());
    ResetQueue(kRefillFromView);
  } else {
    ResetQueue(kRefillPage);
  }
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
    static_cast<void>(ViewManager::Reset(Primary->Me->ComponentCount(*sort->MainKey)));
  } else {
    static_cast<void>(ViewManager::Reset(1));
  }
  ResetQueue(kRefillFromView);
  UpdateWindow();
}

void BrowseManager::ResetFromFile() {
  if (!View) return;
  static_cast<void>(Open());
  if (View->ResetToFile() != rt::kNoError) static_cast<void>(ReportViewError());
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
