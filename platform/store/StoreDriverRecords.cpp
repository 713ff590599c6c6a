// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/StoreDriver.h"

#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/KeysetSql.h"
#include "platform/store/StoreStatement.h"
#include "platform/store/StoreStatementGuard.h"

namespace rt {

// ---- Sequences ----

int StoreDriver::SetFile() {
  cursor_ = Cursor{};
  Invalidate();
  ClearError();
  return kNoError;
}

int StoreDriver::SetKey(const FileKey& key, SetFrom from) {
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
      c.values = KeyValues(key, file_.Record());
      break;
  }
  cursor_ = std::move(c);
  Invalidate();
  ClearError();
  return kNoError;
}

int StoreDriver::Next() {
  return Step(+1);
}
int StoreDriver::Previous() {
  return Step(-1);
}

int StoreDriver::Step(int direction) {
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
  cursor_.values =
      cursor_.key ? KeyValues(*file_.Key(cursor_.key), row.record.data()) : std::vector<KeyValue>{};
  ClearError();
  return kNoError;
}

int StoreDriver::Fetch(int direction, std::size_t limit, std::deque<Row>& rows) {
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
int StoreDriver::FetchLevel(int direction, int level, std::size_t limit, std::deque<Row>& rows) {
  const FileKey* key = cursor_.key ? file_.Key(cursor_.key) : nullptr;
  const int components = key ? key->ComponentCount() : 0;
  KeysetOrder order;
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
  std::string sql = "SELECT " + selectList_ + " FROM records WHERE 1";
  std::vector<int> binds;
  int next = 1;
  AppendKeysetConditions(order, kind, std::max(level, 0), direction > 0,
                         cursor_.anchor == Anchor::Record, true, sql, binds, next);
  AppendKeysetOrder(order, 0, direction > 0, sql);
  sql += " LIMIT ?";
  auto s = Statement(sql);
  if (!s) return ErrorCode();
  int index = 1;
  for (int b : binds) {
    if (b < 0) {
      s->Bind(index++, cursor_.rid);
    } else {
      BindValue(*s, index++, cursor_.values[b]);
    }
  }
  s->Bind(index, static_cast<std::int64_t>(limit));
  int rc;
  while ((rc = s->Step()) == SQLITE_ROW) {
    Row row;
    if (int e = ReadRow(*s, row)) return e;
    rows.push_back(std::move(row));
  }
  s->Reset();
  if (rc != SQLITE_DONE) return Fail(rc, "read");
  return kNoError;
}

int StoreDriver::GetByKey(const FileKey& key) {
  std::string sql = "SELECT " + selectList_ + " FROM records WHERE ";
  for (int i = 1; i <= key.ComponentCount(); ++i) {
    if (i > 1) sql += " AND ";
    sql += ComponentExpr(key.Component(i)) + " = ?";
  }
  sql += " ORDER BY _rid LIMIT 1";
  auto s = Statement(sql);
  if (!s) return ErrorCode();
  const auto values = KeyValues(key, file_.Record());
  for (std::size_t i = 0; i < values.size(); ++i)
    BindValue(*s, static_cast<int>(i) + 1, values[i]);
  const int rc = s->Step();
  if (rc == SQLITE_DONE) return Code(kRecordNotFoundError, "Record Not Found");
  if (rc != SQLITE_ROW) return Fail(rc, "get");
  return TakeRow(*s);
}

int StoreDriver::GetByPointer(std::int64_t pointer, std::uint32_t) {
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

int StoreDriver::Position(const FileKey* key, std::string& position) {
  if (int e = RequireCurrent()) return e;
  FilePosition p;
  p.record = currentRid_;
  if (key) {
    p.kind = FilePosition::Kind::Key;
    p.key = key->Number();
    p.values = KeyValues(*key, file_.Record());
  }
  position = p.Encode();
  ClearError();
  return kNoError;
}

int StoreDriver::Reset(const FileKey* key, std::string_view position) {
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
      auto s = Statement("SELECT " + selectList_ + " FROM records WHERE _rid = ?");
      if (!s) return ErrorCode();
      s->Bind(1, p->record);
      const int rc = s->Step();
      if (rc == SQLITE_DONE) return Code(kNoRecordError);
      if (rc != SQLITE_ROW) return Fail(rc, "reset");
      Row row;
      if (int e = ReadRow(*s, row)) return e;
      s->Reset();
      c.values = KeyValues(*key, row.record.data());
    }
  }
  cursor_ = std::move(c);
  Invalidate();
  ClearError();
  return kNoError;
}

int StoreDriver::Reget(const FileKey* key, std::string_view position) {
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

namespace {

// A savepoint that rolls back unless released.
class Savepoint {
 public:
  explicit Savepoint(sqlite3* db) : db_(db) {
    ok_ = sqlite3_exec(db_, "SAVEPOINT store_write", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~Savepoint() {
    if (ok_ && !released_) {
      sqlite3_exec(db_, "ROLLBACK TO store_write", nullptr, nullptr, nullptr);
      sqlite3_exec(db_, "RELEASE store_write", nullptr, nullptr, nullptr);
    }
  }
  bool Ok() const { return ok_; }
  int Release() {
    released_ = true;
    return sqlite3_exec(db_, "RELEASE store_write", nullptr, nullptr, nullptr);
  }

 private:
  sqlite3* db_;
  bool ok_ = false;
  bool released_ = false;
};

}  // namespace

template <typename Steps>
int StoreDriver::InSavepoint(std::string_view what, Steps&& steps) {
  EndQuickScan();
  Savepoint savepoint(db_);
  if (!savepoint.Ok()) return Fail(sqlite3_errcode(db_), what);
  if (int e = steps()) return e;
  const int release = savepoint.Release();
  if (release != SQLITE_OK) return Fail(release, what);
  return kNoError;
}

int StoreDriver::Add(std::uint32_t) {
  Invalidate();
  if (insertSql_.empty()) {
    std::string values = "?";
    insertSql_ = "INSERT INTO records (_nulls";
    for (int b = 1; b <= file_.BlobCount(); ++b) {
      insertSql_ += ", _bsize" + std::to_string(b);
      values += ", ?";
    }
    for (int f = 1; f <= file_.Layout().FieldCount(); ++f) {
      insertSql_ += ", " + Column(f);
      values += ", ?";
    }
    insertSql_ += ") VALUES (" + values + ")";
  }
  std::int64_t rid = 0;
  const int written = InSavepoint("add", [&] {
    auto s = Statement(insertSql_);
    if (!s) return ErrorCode();
    BindRecord(*s, false);
    if (int e = Change(*s, "add")) return e;
    rid = sqlite3_last_insert_rowid(db_);
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

int StoreDriver::Put() {
  if (int e = RequireCurrent()) return e;
  Invalidate();
  std::string sql = "UPDATE records SET _ver = _ver + 1, _nulls = ?";
  for (std::size_t b = 0; b < blobs_.size(); ++b) {
    if (blobs_[b].modified) sql += ", _bsize" + std::to_string(b + 1) + " = ?";
  }
  for (int f = 1; f <= file_.Layout().FieldCount(); ++f)
    sql += ", " + Column(f) + " = ?";
  sql += " WHERE _rid = ?";
  if (watched_) sql += " AND _ver = ?";
  std::int64_t version = 0;
  const int written = InSavepoint("put", [&] {
    auto s = Statement(sql);
    if (!s) return ErrorCode();
    int index = BindRecord(*s, true);
    s->Bind(index++, currentRid_);
    if (watched_) s->Bind(index, currentVersion_);
    if (int e = Change(*s, "put")) return e;
    if (sqlite3_changes(db_) == 0) return NotWritten();
    if (int e = WriteBlobs(currentRid_, true)) return e;
    // Unwatched, the counter may have moved by more than this write.
    return StoredVersion(currentRid_, version);
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

int StoreDriver::Delete() {
  if (int e = RequireCurrent()) return e;
  Invalidate();
  const int written = InSavepoint("delete", [&] {
    // A watched record is deleted only as it was read; one already gone is not deleted again.
    auto s = Statement(watched_ ? "DELETE FROM records WHERE _rid = ? AND _ver = ?"
                                : "DELETE FROM records WHERE _rid = ?");
    if (!s) return ErrorCode();
    s->Bind(1, currentRid_);
    if (watched_) s->Bind(2, currentVersion_);
    if (int e = Change(*s, "delete")) return e;
    if (sqlite3_changes(db_) == 0) return NotWritten();
    auto c = Statement("DELETE FROM blob_chunks WHERE rid = ?");
    if (!c) return ErrorCode();
    c->Bind(1, currentRid_);
    return Change(*c, "delete");
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

int StoreDriver::Duplicate(const FileKey* key, bool& duplicate) {
  duplicate = false;
  for (int k = 1; k <= file_.KeyCount(); ++k) {
    const FileKey& candidate = *file_.Key(k);
    if (key ? &candidate != key : !candidate.Unique()) continue;
    std::string sql = "SELECT 1 FROM records WHERE ";
    for (int i = 1; i <= candidate.ComponentCount(); ++i) {
      sql += ComponentExpr(candidate.Component(i)) + " = ? AND ";
    }
    sql += "_rid <> ? LIMIT 1";
    auto s = Statement(sql);
    if (!s) return ErrorCode();
    const auto values = KeyValues(candidate, file_.Record());
    int index = 1;
    for (const auto& v : values)
      BindValue(*s, index++, v);
    s->Bind(index, currentRid_);
    const int rc = s->Step();
    s->Reset();
    if (rc == SQLITE_ROW) {
      duplicate = true;
      break;
    }
    if (rc != SQLITE_DONE) return Fail(rc, "duplicate");
  }
  ClearError();
  return kNoError;
}

int StoreDriver::Watch() {
  watchArmed_ = true;
  ClearError();
  return kNoError;
}

}  // namespace rt
