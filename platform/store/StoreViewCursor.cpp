// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/StoreViewCursor.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/KeysetSql.h"
#include "platform/sqltable/ViewSql.h"
#include "platform/store/StoreStatement.h"
#include "platform/store/StoreStatementGuard.h"

namespace rt {

namespace {

std::string QuoteName(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

int Code(int code, std::string_view text = {}) {
  SetError(code, text);
  return code;
}

// A column's value into `out`; text goes into the string `out` already holds, when it holds
// one, so that a refill reuses its storage.
void ReadColumnValue(const StoreStatement& s, int column, KeyValue& out) {
  const StoreValue value = s.Column(column);
  const int type = value.Type();
  switch (type) {
    case SQLITE_INTEGER:
      out = value.Int();
      return;
    case SQLITE_FLOAT:
      out = value.Real();
      return;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const std::string_view v = type == SQLITE_TEXT ? value.Text() : value.Blob();
      if (auto* text = std::get_if<std::string>(&out)) {
        text->assign(v);
      } else {
        out = std::string(v);
      }
      return;
    }
    default:
      out = std::int64_t{0};
      return;
  }
}

KeyValue ColumnValue(const StoreStatement& s, int column) {
  KeyValue v;
  ReadColumnValue(s, column, v);
  return v;
}

}  // namespace

StoreViewCursor::StoreViewCursor(StoreDriver& driver, std::weak_ptr<int> alive, ViewQuery query)
    : KeysetCursor(std::move(query)), driver_(driver), alive_(std::move(alive)) {}

int StoreViewCursor::Alive() const {
  if (alive_.expired() || driver_.db_ == nullptr) return Code(kFileNotOpenError);
  return kNoError;
}

std::string StoreViewCursor::OrderExpr(const ViewOrderComponent& c) const {
  const std::string column = driver_.Column(c.field);
  switch (c.fold) {
    case CaseFold::Upper:
      return "upper(" + column + ")";
    case CaseFold::Lower:
      return "lower(" + column + ")";
    case CaseFold::None:
      break;
  }
  return column;
}

int StoreViewCursor::Prepare() {
  if (int e = Alive()) return e;
  const RecordLayout& layout = driver_.file_.Layout();
  for (const ViewOrderComponent& c : query_.order) {
    if (c.field < 1 || c.field > layout.FieldCount()) {
      return Code(kBadNameError, "Unknown field in the view order");
    }
    expressions_.push_back(OrderExpr(c));
    // A plain column's value is read from the record's own column; a folded one is selected.
    const int recordColumns = 3 + driver_.file_.BlobCount() + layout.FieldCount();
    if (c.fold == CaseFold::None) {
      valueColumns_.push_back(3 + driver_.file_.BlobCount() + c.field - 1);
    } else {
      valueColumns_.push_back(recordColumns + static_cast<int>(selected_.size()));
      selected_.push_back(expressions_.back());
    }
  }
  for (const ViewCondition& c : query_.conditions) {
    if (c.field < 1 || c.field > layout.FieldCount()) {
      return Code(kBadNameError, "Unknown field in the view filter");
    }
  }
  BuildConditions();
  if (int e = ChooseIndex()) return e;
  ClearError();
  return kNoError;
}

// Conditions SQL answers exactly as the evaluator does. Texts are stored without trailing
// blanks and compared byte by byte (BINARY), which is the evaluator's text comparison;
// upper()/lower() fold ASCII letters only, as the evaluator's do. CString fields may keep
// trailing blanks in the table and Decimal fields hold scaled integers, so they stay with
// the evaluator, as does "~=".
void StoreViewCursor::BuildConditions() {
  const RecordLayout& layout = driver_.file_.Layout();
  for (const ViewCondition& c : query_.conditions) {
    const char* op = nullptr;
    KeyValue value;
    if (!ConditionSql(layout, c, op, value)) continue;
    std::string expr = driver_.Column(c.field);
    if (c.fold == CaseFold::Upper) expr = "upper(" + expr + ")";
    if (c.fold == CaseFold::Lower) expr = "lower(" + expr + ")";
    if (const auto* number = std::get_if<double>(&value); number && !query_.order.empty() &&
                                                          query_.order[0].field == c.field &&
                                                          query_.order[0].fold == CaseFold::None) {
      bounds_.push_back(Bound{c.op, *number});
    }
    whereBinds_.push_back(std::move(value));
    where_ += " AND " + expr + op + "?";
    ++applied_;
  }
}

// Ties the order to one index: a key with the order's components, or an index made for it.
int StoreViewCursor::ChooseIndex() {
  if (query_.order.empty()) {
    indexClause_ = " NOT INDEXED";  // record order: the table's own record-id order
    return kNoError;
  }
  const File& file = driver_.file_;
  const RecordLayout& layout = file.Layout();
  const std::size_t n = query_.order.size();
  bool uniqueKey = false;
  for (int k = 1; k <= file.KeyCount() && indexName_.empty(); ++k) {
    const FileKey& key = *file.Key(k);
    if (static_cast<std::size_t>(key.ComponentCount()) != n) continue;
    bool same = true;
    bool reversed = true;
    for (std::size_t i = 0; i < n; ++i) {
      const KeyComponent& kc = key.Component(static_cast<int>(i) + 1);
      const ViewOrderComponent& oc = query_.order[i];
      if (kc.field != oc.field || oc.fold != CaseFold::None ||
          (kc.noCase && IsText(layout.Field(kc.field).type))) {
        same = reversed = false;
        break;
      }
      if (kc.ascending == oc.ascending) {
        reversed = false;
      } else {
        same = false;
      }
    }
    if (same || reversed) {
      indexName_ = "key:" + key.Name();
      uniqueKey = key.Unique();
    }
  }
  if (indexName_.empty()) {
    std::string columns;
    for (std::size_t i = 0; i < n; ++i) {
      if (i > 0) columns += ", ";
      columns += expressions_[i] + (query_.order[i].ascending ? " ASC" : " DESC");
    }
    const std::string name = "view:" + columns;
    if (driver_.Writable()) {
      driver_.Exec("CREATE INDEX IF NOT EXISTS " + QuoteName(name) + " ON records(" + columns +
                   ")");
    }
    auto s = driver_.Statement("SELECT 1 FROM sqlite_master WHERE type = 'index' AND name = ?");
    if (!s) return ErrorCode();
    s->Bind(1, std::string_view(name));
    const int rc = s->Step();
    s->Reset();
    if (rc == SQLITE_ROW) indexName_ = name;
    // Without the index (read-only table, or the table busy) SQLite plans the order itself.
  }
  if (!indexName_.empty()) indexClause_ = " INDEXED BY " + QuoteName(indexName_);
  rowValues_ = !indexName_.empty();
  for (const ViewOrderComponent& c : query_.order)
    rowValues_ = rowValues_ && c.ascending && c.fold == CaseFold::None;
  rowValuesWithRecord_ = rowValues_ && uniqueKey;
  ClearError();
  return kNoError;
}

void StoreViewCursor::Flush() {
  ClearCache();
}

int StoreViewCursor::Fold(KeyValue& value, CaseFold fold) {
  if (fold == CaseFold::None) return kNoError;
  // SQLite's own function, so that the value matches the stored order exactly.
  auto s = driver_.Statement(fold == CaseFold::Upper ? "SELECT upper(?)" : "SELECT lower(?)");
  if (!s) return ErrorCode();
  driver_.BindValue(*s, 1, value);
  const int rc = s->Step();
  if (rc != SQLITE_ROW) {
    s->Reset();
    return driver_.Fail(rc, "view");
  }
  value = ColumnValue(*s, 0);
  s->Reset();
  return kNoError;
}

int StoreViewCursor::BufferValue(const ViewOrderComponent& component, KeyValue& value) {
  value = driver_.FieldValue(component.field, driver_.file_.Record());
  return Fold(value, component.fold);
}

int StoreViewCursor::LookUp(std::int64_t rid, std::vector<KeyValue>& values, bool& found) {
  values.clear();
  found = false;
  std::string sql = "SELECT 1";
  for (const std::string& e : expressions_)
    sql += ", " + e;
  sql += " FROM records WHERE _rid = ?";
  auto s = driver_.Statement(sql);
  if (!s) return ErrorCode();
  s->Bind(1, rid);
  const int rc = s->Step();
  if (rc == SQLITE_ROW) {
    found = true;
    for (std::size_t i = 0; i < expressions_.size(); ++i)
      values.push_back(ColumnValue(*s, static_cast<int>(i) + 1));
  }
  s->Reset();
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return driver_.Fail(rc, "view");
  return kNoError;
}

int StoreViewCursor::ReadRecord(std::int64_t rid, int missingCode) {
  return driver_.ReadByRid(rid, missingCode);
}

int StoreViewCursor::Stamp() {
  cacheChanges_ = sqlite3_total_changes64(driver_.db_);
  cacheTime_ = std::chrono::steady_clock::now();
  if (driver_.quickScan_) {
    // The rows serve the rest of the quick scan, which reads one snapshot; after it they are
    // not trusted again.
    cacheScan_ = driver_.quickScans_;
    cacheVersion_ = -3;
    return kNoError;
  }
  cacheScan_ = 0;
  auto s = driver_.Statement("PRAGMA data_version");
  if (!s) return ErrorCode();
  const int rc = s->Step();
  cacheVersion_ = rc == SQLITE_ROW ? s->Int(0) : -1;
  s->Reset();
  return kNoError;
}

// Rows read ahead stay usable while the table has not changed, in this connection or any
// other, and the buffer has not timed out.
bool StoreViewCursor::CacheUsable(int direction) {
  if (cacheNext_ == cacheEnd_ || cacheDirection_ != direction) return false;
  if (sqlite3_total_changes64(driver_.db_) != cacheChanges_) return false;
  // Rows read in the quick scan still running share its read transaction: the file cannot
  // have changed for them.
  if (driver_.quickScan_ && cacheScan_ == driver_.quickScans_) return true;
  if (timeout_ > 0 &&
      std::chrono::steady_clock::now() - cacheTime_ > std::chrono::seconds(timeout_))
    return false;
  auto s = driver_.Statement("PRAGMA data_version");
  if (!s) return false;
  const int rc = s->Step();
  const std::int64_t version = rc == SQLITE_ROW ? s->Int(0) : -2;
  s->Reset();
  return version == cacheVersion_;
}

int StoreViewCursor::Read(int direction, const std::function<bool()>& accept) {
  if (int e = Alive()) return e;
  direction = direction < 0 ? -1 : 1;
  const bool armed = driver_.watchArmed_;
  const bool skipBlobs = driver_.skipBlobs_;
  if (armed || !CacheUsable(direction)) ClearCache();

  bool saved = false;
  auto restore = [&] {
    driver_.watchArmed_ = armed;
    driver_.skipBlobs_ = skipBlobs;
    if (saved) driver_.RestoreCurrent(saved_);
  };

  // Without a filter the first row read is taken: the record buffer needs no copy to put
  // back, since nothing is applied when the order has no row left.
  const bool filtered = static_cast<bool>(accept);
  // A fetch continues after the anchor, then after the last row taken.
  bool took = false;
  while (true) {
    if (cacheNext_ == cacheEnd_) {
      ClearCache();
      cacheDirection_ = direction;
      const std::size_t limit = armed ? 1 : batch_;
      const bool fromValues = !took && anchor_.kind == AnchorKind::Values;
      if (int e = Fetch(direction, took ? scan_ : anchor_, limit)) {
        const ErrorState error = LastError();
        ClearCache();
        restore();
        SetError(error.code, error.text, error.driverCode, error.driverText);
        return e;
      }
      Stamp();
      if (cacheEnd_ == 0) break;
      headKept_ = false;
      if (fromValues && !rowValuesWithRecord_ && driver_.quickScan_) {
        head_ = cache_[0];
        headKept_ = true;
        headDirection_ = direction;
        headScan_ = driver_.quickScans_;
        headChanges_ = cacheChanges_;
      }
    }
    Entry& entry = cache_[cacheNext_++];
    if (!saved && filtered) {
      saved = true;
      driver_.SaveCurrent(saved_);
    }
    driver_.watchArmed_ = false;
    driver_.skipBlobs_ = skipBlobs;
    driver_.Apply(entry.row);
    took = true;
    scan_.kind = AnchorKind::Record;
    scan_.values.swap(entry.values);
    scan_.rid = entry.row.rid;
    if (!filtered || accept()) {
      driver_.watched_ = armed;
      // The row becomes the anchor and the current row; the old anchor's storage is reused
      // as scratch.
      current_ = scan_;
      std::swap(anchor_, scan_);
      hasCurrent_ = true;
      ClearError();
      return kNoError;
    }
  }
  restore();
  return Code(kNoRecordError);
}

bool StoreViewCursor::Clamp(int direction, const Anchor& from, Anchor& clamped) const {
  if (bounds_.empty() || from.kind == AnchorKind::Start || from.values.empty()) return false;
  double v = 0;
  if (const auto* i = std::get_if<std::int64_t>(&from.values[0])) {
    v = static_cast<double>(*i);
  } else if (const auto* d = std::get_if<double>(&from.values[0])) {
    v = *d;
  } else {
    return false;
  }
  // Reading towards higher values, the rows short of a lower bound all fail it; towards
  // lower values, those beyond an upper bound.
  const bool rising = (direction > 0) == query_.order[0].ascending;
  bool found = false;
  double target = v;
  for (const Bound& b : bounds_) {
    const bool lower = b.op == CompareOp::Greater || b.op == CompareOp::GreaterEqual;
    const bool upper = b.op == CompareOp::Less || b.op == CompareOp::LessEqual;
    const bool equal = b.op == CompareOp::Equal;
    if (rising && (lower || equal) && b.value > target) {
      target = b.value;
      found = true;
    } else if (!rising && (upper || equal) && b.value < target) {
      target = b.value;
      found = true;
    }
  }
  if (!found) return false;
  clamped.kind = AnchorKind::Values;
  clamped.values.assign(1, KeyValue(target));
  clamped.rid = 0;
  return true;
}

int StoreViewCursor::Fetch(int direction, const Anchor& anchor, std::size_t limit) {
  Anchor clamped;
  const Anchor& from = Clamp(direction, anchor, clamped) ? clamped : anchor;
  switch (from.kind) {
    case AnchorKind::Start:
      return FetchLevel(direction, from, Level::All, 0, limit);
    case AnchorKind::Values: {
      const int m = static_cast<int>(from.values.size());
      if (rowValues_) return FetchLevel(direction, from, Level::Row, m, limit);
      if (int e = FetchLevel(direction, from, Level::Equal, m, limit)) return e;
      for (int level = m - 1; level >= 0 && cacheEnd_ < limit; --level) {
        if (int e = FetchLevel(direction, from, Level::Past, level, limit - cacheEnd_)) return e;
      }
      return kNoError;
    }
    case AnchorKind::Inclusive:
    case AnchorKind::Record: {
      const int n = static_cast<int>(query_.order.size());
      if (rowValuesWithRecord_ && n > 0) return FetchLevel(direction, from, Level::Row, n, limit);
      if (HeadServes(direction, from)) {
        // Back from the kept first row: it is the only row its values give (none when the
        // anchor excludes it).
        if (from.kind == AnchorKind::Inclusive) {
          if (cache_.empty()) cache_.emplace_back();
          cache_[0] = head_;
          cacheEnd_ = 1;
        }
      } else if (int e = FetchLevel(direction, from, Level::Record, n, limit)) {
        return e;
      }
      for (int level = n - 1; level >= 0 && cacheEnd_ < limit; --level) {
        if (int e = FetchLevel(direction, from, Level::Past, level, limit - cacheEnd_)) return e;
      }
      return kNoError;
    }
  }
  return kNoError;
}

bool StoreViewCursor::HeadServes(int direction, const Anchor& from) const {
  return headKept_ && direction == -headDirection_ && driver_.quickScan_ &&
         headScan_ == driver_.quickScans_ && sqlite3_total_changes64(driver_.db_) == headChanges_ &&
         from.rid == head_.row.rid && from.values == head_.values;
}

// The SQL of one keyset query in the order's index: the first `equal` order expressions
// equal to the anchor's values, then (Past) the next expression beyond the anchor's value or
// (Record) the record id beyond the anchor's, in the reading direction.
const std::string& StoreViewCursor::LevelSql(int direction, const Anchor& from, Level level,
                                             int equal) {
  const bool forward = direction > 0;
  const bool strict = from.kind == AnchorKind::Record;
  const bool withRecord = from.kind != AnchorKind::Values;
  const int id = (((static_cast<int>(level) * 2 + (forward ? 1 : 0)) * 2 + (strict ? 1 : 0)) * 2 +
                  (withRecord ? 1 : 0)) *
                     1024 +
                 equal;
  auto [it, added] = levelSql_.try_emplace(id);
  if (!added) return it->second;
  std::string& sql = it->second;
  sql = "SELECT " + driver_.selectList_;
  for (const std::string& e : selected_)
    sql += ", " + e;
  sql += " FROM records" + indexClause_ + " WHERE 1";
  KeysetOrder order;
  order.expressions = expressions_;
  for (const ViewOrderComponent& c : query_.order)
    order.ascending.push_back(c.ascending);
  std::vector<int> binds;
  int next = 1;
  AppendKeysetConditions(order, level, equal, forward, strict, withRecord, sql, binds, next);
  sql += where_;
  // Expressions fixed by equality are left out of the ORDER BY: SQLite would otherwise sort
  // the rows of an expression index instead of reading them in index order.
  const bool whole = level == Level::All || level == Level::Row;
  AppendKeysetOrder(order, whole ? 0 : equal, forward, sql);
  sql += " LIMIT ?";
  return sql;
}

int StoreViewCursor::FetchLevel(int direction, const Anchor& from, Level level, int equal,
                                std::size_t limit) {
  auto s = driver_.Statement(LevelSql(direction, from, level, equal));
  if (!s) return ErrorCode();
  int index = 1;
  if (level != Level::All) {
    for (int i = 0; i < equal; ++i)
      driver_.BindValue(*s, index++, from.values[i]);
  }
  if (level == Level::Past) {
    driver_.BindValue(*s, index++, from.values[equal]);
  } else if (level == Level::Record || (level == Level::Row && from.kind != AnchorKind::Values)) {
    s->Bind(index++, from.rid);
  }
  for (const KeyValue& v : whereBinds_)
    driver_.BindValue(*s, index++, v);
  s->Bind(index, static_cast<std::int64_t>(limit));
  int rc;
  while ((rc = s->Step()) == SQLITE_ROW) {
    if (cacheEnd_ == cache_.size()) cache_.emplace_back();
    Entry& entry = cache_[cacheEnd_];
    if (int e = driver_.ReadRow(*s, entry.row)) return e;
    entry.values.resize(expressions_.size());
    for (std::size_t i = 0; i < expressions_.size(); ++i)
      ReadColumnValue(*s, valueColumns_[i], entry.values[i]);
    ++cacheEnd_;
  }
  s->Reset();
  if (rc != SQLITE_DONE) return driver_.Fail(rc, "view read");
  return kNoError;
}

}  // namespace rt
