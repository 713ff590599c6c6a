// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/data/ViewManager.h"

#include <algorithm>

#include "framework/data/FileManager.h"
#include "framework/data/FileMessages.h"
#include "framework/data/RelationManager.h"
#include "platform/runtime/expressions/Expression.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Text.h"

namespace {

std::string ClipRight(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
    s.pop_back();
  return s;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && rt::SameName(text.substr(0, prefix.size()), prefix);
}

}  // namespace

ViewManager::~ViewManager() {
  if (Inited && !Killed) ViewManager::Kill();
}

ErrorLevel ViewManager::Init(rt::View& view, RelationManager& relationManager,
                             OrderQueue* orderQueue) {
  Inited = 1;
  View = &view;
  Primary = &relationManager;
  if (orderQueue) {
    Order = orderQueue;
    DisposeOrder = 0;
  } else {
    ownOrder_ = std::make_unique<OrderQueue>();
    Order = ownOrder_.get();
    DisposeOrder = 1;
  }
  SavedBuffers = std::make_unique<std::vector<ViewBufferEntry>>();
  PageSize = 20;
  PagesBehind = 2;
  PagesAhead = 0;
  Timeout = 60;
  Killed = 0;
  return UseFiles();
}

ErrorLevel ViewManager::UseFiles() {
  if (!Primary) return LevelFatal;
  ErrorLevel result = Primary->Open(0);
  if (result != LevelQuiet) return result;
  Used = 1;
  if (Primary->Me) result = Primary->Me->Use(kUseManagerRead);
  return result;
}

void ViewManager::ReleaseFiles() {
  if (!Used) return;
  if (Primary) static_cast<void>(Primary->Close(0));
  Used = 0;
}

void ViewManager::Kill() {
  if (Killed) return;
  if (Order) {
    for (auto& entry : Order->Entries) {
      if (entry->RangeList) {
        entry->RangeList->Kill();
        entry->RangeList.reset();
      }
      entry->Filter.reset();
      entry->Order.reset();
      entry->FreeElement = rt::AnyRef();
    }
  }
  if (DisposeOrder) {
    ownOrder_.reset();
    Order = nullptr;
  }
  SavedBuffers.reset();
  Close();
  ReleaseFiles();
  Killed = 1;
}

int ViewManager::AddOrder(const rt::FileKey* key) {
  if (!Order) return 0;
  auto entry = Order->NewEntry();
  entry->MainKey = key;
  entry->RangeList = std::make_unique<BufferedPairs>();
  entry->RangeList->Init();
  FileManager* fm = Primary ? Primary->Me : nullptr;
  if (key && fm && fm->ComponentCount(*key) > 0) entry->FreeElement = fm->ComponentField(*key, 1);
  Order->Entries.push_back(std::move(entry));
  Order->Pointer = Order->Records();
  SetOrder(key && fm ? fm->KeyOrder(*key, 1) : std::string());
  return Order->Records();
}

// ---- Order ----

void ViewManager::AppendOrder(std::string_view text) {
  OrderEntry* entry = CurrentOrder();
  if (!entry) return;
  if (!entry->Order || entry->Order->empty()) {
    SetOrder(text);
  } else if (!text.empty() && text.front() == '*') {
    SetOrder(text.substr(1));
  } else {
    SetOrder(*entry->Order + "," + std::string(text));
  }
}

void ViewManager::SetOrder(std::string_view text) {
  OrderEntry* entry = CurrentOrder();
  if (!entry) return;
  entry->Order.reset();
  if (!text.empty()) entry->Order = std::make_unique<std::string>(text);
}

bool ViewManager::SelectOrder(int number) {
  if (!Order) return false;
  if (number == 0) number = 1;
  if (number < 1 || number > Order->Records()) return false;
  if (number == Order->Pointer) return false;
  Order->Pointer = number;
  return true;
}

ErrorLevel ViewManager::ApplyOrder() {
  if (!View) return LevelFatal;
  const OrderEntry* entry = CurrentOrder();
  const std::string text = entry && entry->Order ? *entry->Order : std::string();
  if (View->SetOrder(text) != rt::kNoError) return ReportViewError();
  return LevelQuiet;
}

// ---- Filters and ranges ----

void ViewManager::SetFilter(std::string_view filter) {
  SetNamedFilter(filter, kStandardFilterId);
}

void ViewManager::SetNamedFilter(std::string_view filter, std::string_view id) {
  OrderEntry* entry = CurrentOrder();
  if (!entry) return;
  if (!entry->Filter) entry->Filter = std::make_unique<std::vector<FilterEntry>>();
  auto& list = *entry->Filter;
  const std::string key(id.substr(0, kFilterIdLength));
  auto it =
      std::find_if(list.begin(), list.end(), [&](const FilterEntry& f) { return f.ID == key; });
  if (filter.empty()) {
    if (it != list.end()) list.erase(it);
    return;
  }
  if (it == list.end()) {
    // Kept ordered by ID, highest first.
    it = std::find_if(list.begin(), list.end(), [&](const FilterEntry& f) { return f.ID < key; });
    it = list.insert(it, FilterEntry{key, nullptr});
  }
  it->Filter = std::make_unique<std::string>(filter);
}

std::string ViewManager::ComponentLabel(const OrderEntry& entry, int component) const {
  if (!entry.MainKey || !Primary || !Primary->Me) return {};
  std::string label = Primary->Me->ComponentLabel(*entry.MainKey, component);
  if (label.size() > kFilterLabelLength) label.resize(kFilterLabelLength);
  return label;
}

int ViewManager::FixedPairs(const OrderEntry& entry) const {
  const int pairs = entry.RangeList && entry.RangeList->List
                        ? static_cast<int>(entry.RangeList->List->size())
                        : 0;
  switch (entry.LimitType) {
    case kRangeFixed:
    case kRangeFollow:
    case kRangeBuffered:
      return pairs;
    case kRangeBounds:
      return std::max(0, pairs - 2);
    default:
      return 0;
  }
}

std::string ViewManager::FilterText() {
  const OrderEntry* entry = CurrentOrder();
  if (!entry) return {};
  std::string text;
  auto value = [&](const FieldPair& pair, const std::string& label) {
    if (!pair.Left.IsNull() && pair.Left.IsText()) {
      std::string literal = rt::QuotedLiteral(ClipRight(pair.Right.Text()));
      if (StartsWithNoCase(label, "UPPER(")) return "UPPER(" + literal + ")";
      if (StartsWithNoCase(label, "LOWER(")) return "LOWER(" + literal + ")";
      return literal;
    }
    return pair.Right.Text();
  };
  const FieldPairList* pairs = entry->RangeList ? entry->RangeList->List.get() : nullptr;
  const int count = pairs ? static_cast<int>(pairs->size()) : 0;
  const int fixed = FixedPairs(*entry);
  for (int i = 1; i <= fixed; ++i) {
    const std::string label = ComponentLabel(*entry, i);
    if (i > 1) text += " AND ";
    text += label + " = " + value(*(*pairs)[i - 1], label);
  }
  if (entry->LimitType == kRangeBounds && count >= 2) {
    const std::string label = ComponentLabel(*entry, count - 1);
    if (!text.empty()) text += " AND ";
    text += label + " >= " + value(*(*pairs)[count - 2], label);
    text += " AND " + label + " <= " + value(*(*pairs)[count - 1], label);
  }
  if (entry->Filter) {
    for (const FilterEntry& f : *entry->Filter) {
      if (!f.Filter) continue;
      text += text.empty() ? "(" : " AND (";
      text += *f.Filter + ")";
    }
  }
  if (text.size() > kFilterTextLength) text.resize(kFilterTextLength);
  return text;
}

ErrorLevel ViewManager::ApplyFilter() {
  if (!View) return LevelFatal;
  // A filter the view refuses is reported each time it is applied; the view then shows no
  // record rather than every record as if it matched.
  if (View->SetFilter(FilterText()) != rt::kNoError) return ReportViewError();
  return LevelQuiet;
}

bool ViewManager::ApplyRange() {
  OrderEntry* entry = CurrentOrder();
  if (!entry || !entry->RangeList || !entry->RangeList->List) return false;
  FieldPairList& pairs = *entry->RangeList->List;
  const int n = static_cast<int>(pairs.size());
  auto follow = [&](FieldPair& pair) {
    if (pair.Left.Compare(pair.Right) == 0) return false;
    pair.Right.CopyFrom(pair.Left);
    return true;
  };
  switch (entry->LimitType) {
    case kRangeBounds:
      if (n >= 2 && pairs[n - 2]->Left.Compare(pairs[n - 2]->Right) != 0) {
        pairs[n - 2]->Right.CopyFrom(pairs[n - 2]->Left);
        pairs[n - 1]->Right.CopyFrom(pairs[n - 1]->Left);
        static_cast<void>(ApplyFilter());  // a refused filter is reported there
        return true;
      }
      [[fallthrough]];
    case kRangeFollow:
      if (n >= 1 && follow(*pairs[n - 1])) {
        static_cast<void>(ApplyFilter());  // a refused filter is reported there
        return true;
      }
      return false;
    case kRangeBuffered:
      if (!entry->RangeList->EqualRightBuffer()) {
        entry->RangeList->AssignRightToBuffer();
        static_cast<void>(ApplyFilter());  // a refused filter is reported there
        return true;
      }
      return false;
    default:
      return false;
  }
}

// ---- Free element ----

bool ViewManager::FreeElementAscending() {
  const OrderEntry* entry = CurrentOrder();
  if (!entry || entry->FreeElement.IsNull() || !entry->MainKey || !Primary || !Primary->Me)
    return true;
  const int position = FreeElementPosition();
  return position == 0 || Primary->Me->ComponentAscending(*entry->MainKey, position);
}

std::string ViewManager::FreeElementName() {
  const OrderEntry* entry = CurrentOrder();
  if (!entry || entry->FreeElement.IsNull()) return {};
  const int position = FreeElementPosition();
  return position > 0 ? ComponentLabel(*entry, position) : std::string();
}

int ViewManager::FreeElementPosition() {
  const OrderEntry* entry = CurrentOrder();
  if (!entry || !entry->MainKey || !Primary || !Primary->Me) return 0;
  const int pairs = entry->RangeList && entry->RangeList->List
                        ? static_cast<int>(entry->RangeList->List->size())
                        : 0;
  const int position = entry->LimitType == kRangeBounds ? pairs : pairs + 1;
  return position <= Primary->Me->ComponentCount(*entry->MainKey) ? position : 0;
}

bool ViewManager::FieldAscending(const rt::AnyRef& field) {
  if (!View || !Primary || !Primary->Me || !Primary->Me->File) return true;
  rt::File& file = *Primary->Me->File;
  const rt::RecordLayout& layout = file.Layout();
  std::string label;
  for (int f = 1; f <= layout.FieldCount(); ++f) {
    if (file.Record() + layout.Field(f).offset == field.Address()) {
      label = layout.Field(f).label;
      break;
    }
  }
  if (label.empty()) return true;
  const std::string wanted = rt::Upper(label);
  const std::string wrapped = "UPPER(" + wanted + ")";
  const std::string& order = View->Order();
  for (const std::string& target : {wanted, wrapped}) {
    std::size_t start = 0;
    while (start <= order.size()) {
      std::size_t end = order.find(',', start);
      if (end == std::string::npos) end = order.size();
      std::string_view part =
          rt::Trim(std::string_view(order).substr(start, end - start), rt::kWhitespace);
      char sign = 0;
      if (!part.empty() && (part.front() == '+' || part.front() == '-')) {
        sign = part.front();
        part = rt::Trim(part.substr(1), rt::kWhitespace);
      }
      if (rt::Upper(part) == target) return sign != '-';
      start = end + 1;
    }
  }
  return true;
}

// ---- Opening, positioning, reading ----

ErrorLevel ViewManager::Open() {
  if (!View) return LevelFatal;
  ErrorLevel result = LevelQuiet;
  if (!Opened) {
    const int e = View->Open(rt::kViewOpenMode);
    if (e == rt::kNoError) {
      Opened = 1;
    } else if (e != rt::kIsOpenError) {
      result = ReportViewError();
    } else {
      Opened = 1;
    }
    View->SetBuffer(PageSize, PagesBehind, PagesAhead, Timeout);
  }
  if (ApplyOrder() != LevelQuiet) result = LevelNotify;
  if (ApplyFilter() != LevelQuiet) result = LevelNotify;
  return result;
}

void ViewManager::Close() {
  CloseView(false);
}

void ViewManager::CloseView(bool force) {
  if ((Opened || force) && View && View->IsOpen()) View->Close();
  Opened = 0;
}

ErrorLevel ViewManager::Reset(int components) {
  if (!View) return LevelFatal;
  static_cast<void>(Open());  // judged by the view's state below
  if (!View->IsOpen()) return LevelNotify;
  if (View->Set(components) != rt::kNoError) return ReportViewError();
  return LevelQuiet;
}

ErrorLevel ViewManager::ResetToStart() {
  return Reset(0);
}

ErrorLevel ViewManager::Read(int direction) {
  if (!View) return LevelFatal;
  for (;;) {
    const int e = direction > 0 ? View->Next() : View->Previous();
    if (e == rt::kNoError) {
      const std::uint8_t verdict = CheckRecord();
      if (verdict == 0) return LevelQuiet;
      if (verdict == 1) return LevelNotify;
      continue;
    }
    if (e == rt::kNoRecordError) return LevelNotify;
    if (Primary && Primary->Me) static_cast<void>(Primary->Me->Throw(kMsgRetrievalError));
    return LevelFatal;
  }
}

ErrorLevel ViewManager::Next() {
  return Read(+1);
}

ErrorLevel ViewManager::Previous() {
  return Read(-1);
}

std::uint8_t ViewManager::CheckRecord() {
  return 0;
}

// ---- Record buffers ----

void ViewManager::ClearRecords() {
  if (Primary && Primary->Me && Primary->Me->File) Primary->Me->File->ClearRecord();
}

ErrorLevel ViewManager::PrepareRecord(bool keepValues) {
  if (!keepValues) ClearRecords();
  if (const OrderEntry* entry = CurrentOrder(); entry && entry->MainKey && entry->RangeList &&
                                                entry->RangeList->List && Primary && Primary->Me) {
    const int fixed = FixedPairs(*entry);
    for (int i = 1; i <= fixed; ++i) {
      rt::AnyRef field = Primary->Me->ComponentField(*entry->MainKey, i);
      if (!field.IsNull()) field.CopyFrom((*entry->RangeList->List)[i - 1]->Right);
    }
  }
  if (!Primary || !Primary->Me) return LevelFatal;
  return Primary->Me->PrepareRecord(true);
}

void ViewManager::SaveBuffers() {
  if (!SavedBuffers) return;
  SavedBuffers->clear();
  if (Primary && Primary->Me && Primary->Me->Initialized) {
    SavedBuffers->push_back({Primary->Me->SaveBuffer(), Primary->Me});
  }
}

void ViewManager::RestoreBuffers() {
  if (!SavedBuffers) return;
  for (ViewBufferEntry& entry : *SavedBuffers) {
    if (entry.FM) entry.FM->RestoreBuffer(entry.Buff, true);
  }
  SavedBuffers->clear();
}

ErrorLevel ViewManager::ReportViewError() {
  if (Primary && Primary->Me) static_cast<void>(Primary->Me->Throw(kMsgViewOpenError));
  return LevelNotify;
}
