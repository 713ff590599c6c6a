// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sqltable/KeysetCursor.h"

#include <algorithm>

#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/ViewSql.h"

namespace rt {

namespace {

int BadPosition() {
  SetError(kDriverError, {}, "0", "Invalid view position");
  return kDriverError;
}

}  // namespace

KeysetCursor::KeysetCursor(ViewQuery query)
    : query_(std::move(query)), signature_(ViewSignature(query_.order)) {}

void KeysetCursor::SetAnchor(Anchor anchor) {
  anchor_ = std::move(anchor);
  ClearCache();
  ClearError();
}

void KeysetCursor::SetBatch(int rows, int timeoutSeconds) {
  batch_ = static_cast<std::size_t>(std::max(1, rows));
  timeout_ = std::max(0, timeoutSeconds);
}

int KeysetCursor::SetStart() {
  if (int e = Alive()) return e;
  SetAnchor(Anchor{});
  return kNoError;
}

int KeysetCursor::SetFromBuffer(int components) {
  if (int e = Alive()) return e;
  const std::size_t m =
      std::min<std::size_t>(static_cast<std::size_t>(std::max(0, components)), query_.order.size());
  Anchor a;
  if (m > 0) {
    a.kind = AnchorKind::Values;
    a.values.resize(m);
    for (std::size_t i = 0; i < m; ++i) {
      if (int e = BufferValue(query_.order[i], a.values[i])) return e;
    }
  }
  SetAnchor(std::move(a));
  return kNoError;
}

int KeysetCursor::Position(std::string& position) {
  if (int e = Alive()) return e;
  if (!hasCurrent_) {
    SetError(kNoRecordError);
    return kNoRecordError;
  }
  // `position`'s storage is reused from row to row.
  EncodeViewPosition(signature_, current_.values, current_.rid, position);
  ClearError();
  return kNoError;
}

int KeysetCursor::Reset(std::string_view position) {
  if (int e = Alive()) return e;
  std::string signature;
  FilePosition p;
  if (!DecodeViewPosition(position, signature, p)) return BadPosition();
  Anchor a;
  a.kind = AnchorKind::Inclusive;
  a.rid = p.record;
  if (signature == signature_ && p.kind == FilePosition::Kind::Key &&
      p.values.size() == query_.order.size()) {
    a.values = std::move(p.values);
  } else {
    // A position in another order, or one without its values: find the record's values in
    // this order. When the record is gone there is no neighbour to go to: start again.
    bool found = false;
    if (int e = LookUp(p.record, a.values, found)) return e;
    if (!found) a = Anchor{};
  }
  SetAnchor(std::move(a));
  return kNoError;
}

int KeysetCursor::ResetToRecord(std::int64_t record) {
  if (int e = Alive()) return e;
  Anchor a;
  a.kind = AnchorKind::Inclusive;
  a.rid = record;
  bool found = false;
  if (int e = LookUp(record, a.values, found)) return e;
  if (!found) {
    SetError(kRecordNotFoundError, "Record Not Found");
    return kRecordNotFoundError;
  }
  SetAnchor(std::move(a));
  return kNoError;
}

int KeysetCursor::Reget(std::string_view position) {
  if (int e = Alive()) return e;
  std::string signature;
  FilePosition p;
  if (!DecodeViewPosition(position, signature, p)) return BadPosition();
  if (int e = ReadRecord(p.record, kRecordNotFoundError)) {
    if (e == kRecordNotFoundError) SetError(e, "Record Not Found");
    return e;
  }
  Anchor a;
  a.kind = AnchorKind::Record;
  a.rid = p.record;
  bool found = false;
  if (int e = LookUp(p.record, a.values, found)) return e;
  current_ = a;
  hasCurrent_ = true;
  SetAnchor(std::move(a));
  return kNoError;
}

}  // namespace rt
