// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/expressions/View.h"

#include <algorithm>

#include "platform/runtime/expressions/BindingScope.h"
#include "platform/runtime/expressions/ViewOrder.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {

namespace {

// Rows fetched per trip when neither buffering nor prefetch is set.
constexpr int kDefaultBatch = 20;
// Largest batch, whatever the settings: a page of a list is far smaller.
constexpr int kMaxBatch = 1000;

int Fail(int code, std::string_view text = {}) {
  SetError(code, text);
  return code;
}

}  // namespace

View::View(File& primary) : primary_(primary) {}

View::~View() = default;

int View::RequireOpen() const {
  if (cursor_) return kNoError;
  return Fail(kFileNotOpenError, "View not open");
}

int View::SetOrder(std::string_view text) {
  std::vector<ViewOrderComponent> components;
  std::string error;
  const bool parsed = ViewOrder::Parse(text, primary_.Layout(), components, error);
  if (parsed && text == orderText_ && components.size() == query_.order.size()) {
    ClearError();
    return kNoError;
  }
  orderText_ = parsed ? std::string(text) : std::string();
  query_.order = std::move(components);
  if (cursor_) {
    if (int e = Rebuild(); e != kNoError && parsed) return e;
  }
  if (!parsed) return Fail(kExpressionSyntaxError, error);
  ClearError();
  return kNoError;
}

int View::SetFilter(std::string_view text) {
  if (!refused_ && text == filterText_ && (filter_.HasTree() || filterText_.empty())) {
    ClearError();
    return kNoError;
  }
  const int compiled = filter_.Compile(text);
  std::string error;
  // A refused filter leaves a view with no records: the records it would have shown are not
  // known, and showing them all would pass every one off as a match.
  refused_ = compiled != kNoError;
  if (refused_) {
    error = ErrorText();
    filter_.Compile("");
    filterText_.clear();
  } else {
    filterText_ = std::string(text);
  }
  AnalyseFilter();
  if (cursor_) {
    if (int e = Rebuild(); e != kNoError && compiled == kNoError) return e;
  }
  if (compiled != kNoError) return Fail(kExpressionSyntaxError, error);
  ClearError();
  return kNoError;
}

// Finds the comparisons of a plain conjunctive filter that concern the primary file's own
// fields; the driver may check those itself.
void View::AnalyseFilter() {
  query_.conditions.clear();
  conditionsAreFilter_ = false;
  if (!filter_.HasTree()) return;
  Bindings& bindings = Bindings::Current();
  BindingScope scope(bindings);
  bindings.BindRecord(primary_.Layout(), primary_.Record());
  // The view tests every record against the whole filter, so the comparisons among its
  // AND-joined parts narrow the driver's reads without changing the result.
  const auto terms = filter_.ConjunctionTerms(bindings);
  const RecordLayout& layout = primary_.Layout();
  for (const ExpressionTerm& term : terms) {
    const int field = layout.FindField(term.label);
    if (field == 0) continue;
    const FieldDesc& desc = layout.Field(field);
    if (term.field.Address() != primary_.Record() + desc.offset || term.field.Type() != desc.type)
      continue;  // a variable of the same name, not the record's field
    query_.conditions.push_back(ViewCondition{field, term.fold, term.op, term.literal});
  }
  // The filter is nothing but these comparisons, each of a whole-number or String field as
  // it is stored (no fold, no "~="), which a driver's SQL answers as the evaluator does: a
  // driver that applies them all leaves no row to test again (Read).
  const auto whole = filter_.Conjunction(bindings);
  conditionsAreFilter_ =
      whole && whole->size() == query_.conditions.size() &&
      std::all_of(query_.conditions.begin(), query_.conditions.end(), [&](const ViewCondition& c) {
        const FieldType type = layout.Field(c.field).type;
        const bool integer = type == FieldType::Byte || type == FieldType::Short ||
                             type == FieldType::UShort || type == FieldType::Long ||
                             type == FieldType::ULong;
        return c.fold == CaseFold::None && c.op != CompareOp::Like &&
               (integer || type == FieldType::String);
      });
}

int View::Rebuild() {
  std::unique_ptr<ViewCursor> cursor;
  const int result = primary_.OpenViewCursor(query_, cursor);
  if (result != kNoError || !cursor) return result != kNoError ? result : Fail(kNoDriverError);
  cursor_ = std::move(cursor);
  ApplyBatch();
  ClearError();
  return kNoError;
}

void View::ApplyBatch() {
  if (!cursor_) return;
  int rows = kDefaultBatch;
  if (prefetch_ > 0) {
    rows = prefetch_;
  } else if (pageSize_ > 0) {
    rows = pageSize_ * (1 + pagesAhead_);
  }
  cursor_->SetBatch(std::clamp(rows, 1, kMaxBatch), timeout_);
}

int View::Open(int mode) {
  if (cursor_) return Fail(kIsOpenError);
  if (!primary_.IsOpen()) return Fail(kFileNotOpenError);
  mode_ = mode;
  return Rebuild();
}

int View::Close() {
  if (int e = RequireOpen()) return e;
  cursor_.reset();
  ClearError();
  return kNoError;
}

int View::Set(int components) {
  if (int e = RequireOpen()) return e;
  components = std::clamp(components, 0, static_cast<int>(query_.order.size()));
  return components == 0 ? cursor_->SetStart() : cursor_->SetFromBuffer(components);
}

int View::Read(int direction) {
  if (int e = RequireOpen()) return e;
  if (!primary_.IsOpen()) return Fail(kFileNotOpenError);
  if (refused_) return Fail(kNoRecordError);
  if (!filter_.HasTree()) return cursor_->Read(direction, {});
  if (conditionsAreFilter_ &&
      cursor_->AppliedConditions() == static_cast<int>(query_.conditions.size()))
    return cursor_->Read(direction, {});
  // The record's names are bound once per view, not once per row read.
  if (recordScopeFor_ != primary_.Record() || recordScope_.empty()) {
    recordScope_ = Bindings::RecordScope(primary_.Layout(), primary_.Record());
    recordScopeFor_ = primary_.Record();
  }
  Bindings& bindings = Bindings::Current();
  bindings.LendScope(recordScope_);
  const int result = cursor_->Read(direction, [&] { return filter_.Test(bindings); });
  bindings.ReturnScope(recordScope_);
  if (result == kNoError) ClearError();
  return result;
}

int View::Next() {
  return Read(+1);
}

int View::Previous() {
  return Read(-1);
}

std::string View::Position() {
  std::string position;
  if (RequireOpen() != kNoError) return position;
  if (cursor_->Position(position) != kNoError) position.clear();
  return position;
}

int View::Position(std::string& position) {
  if (int e = RequireOpen()) {
    position.clear();
    return e;
  }
  const int e = cursor_->Position(position);
  if (e != kNoError) position.clear();
  return e;
}

int View::Reset(std::string_view position) {
  if (int e = RequireOpen()) return e;
  return cursor_->Reset(position);
}

int View::ResetToFile() {
  if (int e = RequireOpen()) return e;
  const std::int64_t record = primary_.Pointer();
  if (record == 0) return Fail(kNoRecordError);
  return cursor_->ResetToRecord(record);
}

int View::Reget(std::string_view position) {
  if (int e = RequireOpen()) return e;
  if (refused_) return Fail(kNoRecordError);
  return cursor_->Reget(position);
}

int View::Watch() {
  if (int e = RequireOpen()) return e;
  return primary_.Watch();
}

int View::Flush() {
  if (int e = RequireOpen()) return e;
  cursor_->Flush();
  ClearError();
  return kNoError;
}

int View::SetBuffer(int pageSize, int pagesBehind, int pagesAhead, int timeoutSeconds) {
  if (pageSize < 0 || pagesBehind < 0 || pagesAhead < 0 || timeoutSeconds < 0) {
    return Fail(kBadNameError, "Negative view buffering");
  }
  pageSize_ = pageSize;
  pagesBehind_ = pagesBehind;
  pagesAhead_ = pagesAhead;
  timeout_ = timeoutSeconds;
  ApplyBatch();
  ClearError();
  return kNoError;
}

int View::SetPrefetch(int count) {
  prefetch_ = std::max(0, count);
  ApplyBatch();
  ClearError();
  return kNoError;
}

int View::AppliedConditions() const {
  return cursor_ ? cursor_->AppliedConditions() : 0;
}

}  // namespace rt
