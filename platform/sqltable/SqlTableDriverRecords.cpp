// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>

#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/KeysetSql.h"
#include "platform/sqltable/SqlTableDriver.h"

namespace rt {

// ---- Sequences ----

int SqlTableDriver::SetFile() {
  cursor_ = Cursor{};
  Invalidate();
  ClearError();
  return kNoError;
}

int SqlTableDriver::SetKey(const FileKey& key, SetFrom from) {
  Cursor c;
  c.key = key.Number();
  switch (from) {
    case SetFrom::Start:
      c.anchor = Anchor::Start;
      break;
    case SetFrom::End:
      c.anchor = Anchor::End;
      break;
    case SetFrom::Values:
      c.anchor = Anchor::Values;
      c.values = KeyValuesOf(key, file_.Record());
      break;
  }
  cursor_ = std::move(c);
  Invalidate();
  ClearError();
  return kNoError;
}

int SqlTableDriver::Next() {
  return Step(+1);
}
int SqlTableDriver::Previous() {
  return Step(-1);
}

int SqlTableDriver::Step(int direction) {
  if (cache_.empty() || cacheDirection_ != direction || watchArmed_) {
    cache_.clear();
    cacheDirection_ = direction;
    const std::size_t limit = watchArmed_ ? 1 : std::max<std::size_t>(1, prefetch_);
    if (int e = Fetch(direction, limit, cache_)) {
      cache_.clear();
      return e;
    }
    if (cache_.empty()) return Code(kNoRecordError);
  }
  Row row = std::move(cache_.front());
  cache_.pop_front();
  Apply(row);
  cursor_.anchor = Anchor::Record;
  cursor_.rid = row.rid;
  cursor_.values = cursor_.key ? KeyValuesOf(*file_.Key(cursor_.key), row.record.data())
                               : std::vector<KeyValue>{};
  ClearError();
  return kNoError;
}

int SqlTableDriver::Fetch(int direction, std::size_t limit, std::deque<Row>& rows) {
  const Anchor a = cursor_.anchor;
  if (a == Anchor::End && direction > 0) return kNoError;
  if (a == Anchor::Start || a == Anchor::End) return FetchLevel(direction, -1, limit, rows);
  const int components = cursor_.key ? file_.Key(cursor_.key)->ComponentCount() : 0;
  for (int level = components; level >= 0 && rows.size() < limit; --level) {
    if (int e = FetchLevel(direction, level, limit - rows.size(), rows)) return e;
  }
  return kNoError;
}

// One keyset query: components 1..level equal to the anchor's values and then either the
// record id past the anchor's (level == component count) or component level+1 past the
// anchor's value. level -1 reads from the start or end without a condition.
int SqlTableDriver::FetchLevel(int direction, int level, std::size_t limit, std::deque<Row>& rows) {
  const FileKey* key = cursor_.key ? file_.Key(cursor_.key) : nullptr;
  const int components = key ? key->ComponentCount() : 0;
  KeysetOrder order;
  order.numbered = numbered_;
  for (int i = 1; i <= components; ++i) {
    order.expressions.push_back(ComponentExpr(key->Component(i)));
    order.ascending.push_back(key->Component(i).ascending);
  }
  KeysetLevel kind = KeysetLevel::All;
  const bool onRecord = cursor_.anchor == Anchor::Record || cursor_.anchor == Anchor::Inclusive;
  if (level >= 0) {
    kind = level < components ? KeysetLevel::Past
                              : (onRecord ? KeysetLevel::Record : KeysetLevel::Equal);
  }
  std::string sql = "SELECT " + selectList_ + " FROM " + table_ + " WHERE true";
  std::vector<int> binds;
  int next = 1;
  AppendKeysetConditions(order, kind, std::max(level, 0), direction > 0,
                         cursor_.anchor == Anchor::Record, true, sql, binds, next);
  AppendKeysetOrder(order, 0, direction > 0, sql);
  sql += " LIMIT " + Placeholder(next);
  SqlArgs args;
  for (int b : binds) {
    if (b < 0) {
      args.Int(cursor_.rid);
    } else {
      args.Value(KeyArgument(key->Component(b + 1), cursor_.values[b]));
    }
  }
  args.Int(static_cast<std::int64_t>(limit));
  return QueryRows(sql, args, "read", rows);
}

int SqlTableDriver::GetByKey(const FileKey& key) {
  std::string sql = "SELECT " + selectList_ + " FROM " + table_ + " WHERE ";
  int next = 1;
  SqlArgs args;
  KeyEquals(key, sql, next, args);
  sql += " ORDER BY _rid LIMIT 1";
  std::deque<Row> rows;
  if (int e = QueryRows(sql, args, "get", rows)) return e;
  if (rows.empty()) return Code(kRecordNotFoundError, "Record Not Found");
  return TakeRow(rows.front());
}

int SqlTableDriver::GetByPointer(std::int64_t pointer, std::uint32_t) {
  if (pointer <= 0) {
    // A read of no record leaves the file without a current record.
    currentRid_ = 0;
    watched_ = false;
    return Code(kRecordNotFoundError, "Record Not Found");
  }
  const int result = ReadByRid(pointer, kRecordNotFoundError);
  if (result == kRecordNotFoundError) SetError(result, "Record Not Found");
  return result;
}

namespace {
int BadPosition() {
  SetError(kDriverError, {}, "0", "Invalid position");
  return kDriverError;
}
}  // namespace

int SqlTableDriver::Position(const FileKey* key, std::string& position) {
  if (int e = RequireCurrent()) return e;
  FilePosition p;
  p.record = currentRid_;
  if (key) {
    p.kind = FilePosition::Kind::Key;
    p.key = key->Number();
    p.values = KeyValuesOf(*key, file_.Record());
  }
  position = p.Encode();
  ClearError();
  return kNoError;
}

int SqlTableDriver::Reset(const FileKey* key, std::string_view position) {
  auto p = FilePosition::Decode(position);
  if (!p) return BadPosition();
  Cursor c;
  c.anchor = Anchor::Inclusive;
  c.rid = p->record;
  if (!key) {
    if (p->kind != FilePosition::Kind::File) return BadPosition();
  } else {
    if (p->kind == FilePosition::Kind::File || p->key != key->Number()) return BadPosition();
    c.key = key->Number();
    if (p->kind == FilePosition::Kind::Key) {
      if (static_cast<int>(p->values.size()) != key->ComponentCount()) return BadPosition();
      c.values = std::move(p->values);
    } else {
      // The values did not fit in the position: take them from the record, which must exist.
      int next = 1;
      SqlArgs args;
      args.Int(p->record);
      std::deque<Row> rows;
      if (int e = QueryRows(
              "SELECT " + selectList_ + " FROM " + table_ + " WHERE _rid = " + Placeholder(next),
              args, "reset", rows)) {
        return e;
      }
      if (rows.empty()) return Code(kNoRecordError);
      c.values = KeyValuesOf(*key, rows.front().record.data());
    }
  }
  cursor_ = std::move(c);
  Invalidate();
  ClearError();
  return kNoError;
}

int SqlTableDriver::Reget(const FileKey* key, std::string_view position) {
  const auto p = FilePosition::Decode(position);
  if (!p) return BadPosition();
  if ((key == nullptr) != (p->kind == FilePosition::Kind::File)) return BadPosition();
  if (key && p->key != key->Number()) return BadPosition();
  // Reading the watched record again without a new watch keeps watching the version first
  // read: a change another station made meanwhile must still stop the next write.
  const bool keepWatch = watched_ && !watchArmed_ && p->record == currentRid_;
  const std::int64_t watchedVersion = currentVersion_;
  const int result = ReadByRid(p->record, kRecordNotFoundError);
  if (result == kRecordNotFoundError) SetError(result, "Record Not Found");
  if (result == kNoError && keepWatch) {
    watched_ = true;
    currentVersion_ = watchedVersion;
  }
  return result;
}

// ---- Writes ----

int SqlTableDriver::Add(std::uint32_t) {
  Invalidate();
  if (insertSql_.empty()) {
    int next = 1;
    std::string values = Placeholder(next);
    insertSql_ = "INSERT INTO " + table_ + " (_nulls";
    for (int b = 1; b <= file_.BlobCount(); ++b) {
      insertSql_ += ", _bsize" + std::to_string(b);
      values += ", " + Placeholder(next);
    }
    for (int f = 1; f <= file_.Layout().FieldCount(); ++f) {
      insertSql_ += ", " + Column(f);
      values += ", " + Placeholder(next);
    }
    insertSql_ += ") VALUES (" + values + ") RETURNING _rid";
  }
  std::int64_t rid = 0;
  const int written = InWrite("add", [&] {
    SqlArgs args;
    RecordArgs(args, false);
    bool found = false;
    if (int e = QueryInt(insertSql_, args, "add", rid, found)) return e;
    if (!found || rid <= 0) return Damaged(rid, "record id refused");
    return WriteBlobs(rid, false);
  });
  if (written != kNoError) return written;
  currentRid_ = rid;
  currentVersion_ = 1;
  watched_ = false;
  for (Blob& b : blobs_) {
    b.storedRid = rid;
    b.version = currentVersion_;
    b.modified = false;
  }
  ClearError();
  return kNoError;
}

int SqlTableDriver::Put() {
  if (int e = RequireCurrent()) return e;
  Invalidate();
  int next = 1;
  std::string sql = "UPDATE " + table_ + " SET _ver = _ver + 1, _nulls = " + Placeholder(next);
  for (std::size_t b = 0; b < blobs_.size(); ++b) {
    if (blobs_[b].modified) sql += ", _bsize" + std::to_string(b + 1) + " = " + Placeholder(next);
  }
  for (int f = 1; f <= file_.Layout().FieldCount(); ++f)
    sql += ", " + Column(f) + " = " + Placeholder(next);
  sql += " WHERE _rid = " + Placeholder(next);
  if (watched_) sql += " AND _ver = " + Placeholder(next);
  // Unwatched, the counter may have moved by more than this write.
  sql += " RETURNING _ver";
  std::int64_t version = 0;
  const int written = InWrite("put", [&] {
    SqlArgs args;
    RecordArgs(args, true);
    args.Int(currentRid_);
    if (watched_) args.Int(currentVersion_);
    bool found = false;
    if (int e = QueryInt(sql, args, "put", version, found)) return e;
    if (!found) return NotWritten();
    return WriteBlobs(currentRid_, true);
  });
  if (written != kNoError) return written;
  currentVersion_ = version;
  for (Blob& b : blobs_) {
    if (b.modified) {
      b.storedRid = currentRid_;
      b.modified = false;
    }
    if (b.storedRid == currentRid_) b.version = version;
  }
  ClearError();
  return kNoError;
}

int SqlTableDriver::Delete() {
  if (int e = RequireCurrent()) return e;
  Invalidate();
  const int written = InWrite("delete", [&] {
    // A watched record is deleted only as it was read; one already gone is not deleted again.
    int next = 1;
    std::string sql = "DELETE FROM " + table_ + " WHERE _rid = " + Placeholder(next);
    if (watched_) sql += " AND _ver = " + Placeholder(next);
    SqlArgs args;
    args.Int(currentRid_);
    if (watched_) args.Int(currentVersion_);
    std::int64_t changed = 0;
    if (int e = Execute(sql, args, "delete", &changed)) return e;
    if (changed == 0) return NotWritten();
    next = 1;
    SqlArgs chunk;
    chunk.Int(currentRid_);
    return Execute("DELETE FROM " + chunks_ + " WHERE rid = " + Placeholder(next), chunk, "delete");
  });
  if (written != kNoError) return written;
  for (Blob& b : blobs_) {
    if (!b.data) b = Blob{};
    b.storedRid = 0;
  }
  currentRid_ = 0;
  watched_ = false;
  ClearError();
  return kNoError;
}

int SqlTableDriver::Duplicate(const FileKey* key, bool& duplicate) {
  duplicate = false;
  for (int k = 1; k <= file_.KeyCount(); ++k) {
    const FileKey& candidate = *file_.Key(k);
    if (key ? &candidate != key : !candidate.Unique()) continue;
    std::string sql = "SELECT _rid FROM " + table_ + " WHERE ";
    int next = 1;
    SqlArgs args;
    KeyEquals(candidate, sql, next, args);
    sql += " AND _rid <> " + Placeholder(next) + " LIMIT 1";
    args.Int(currentRid_);
    std::int64_t other = 0;
    if (int e = QueryInt(sql, args, "duplicate", other, duplicate)) return e;
    if (duplicate) break;
  }
  ClearError();
  return kNoError;
}

int SqlTableDriver::Watch() {
  watchArmed_ = true;
  ClearError();
  return kNoError;
}

}  // namespace rt
