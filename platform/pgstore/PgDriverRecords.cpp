// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgDriver.h"

#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/KeysetSql.h"
#include "platform/sqltable/TableValues.h"

namespace rt {

// ---- Sequences ----

int PgDriver::SetFile() {
  cursor_ = Cursor{};
  Invalidate();
  ClearError();
  return kNoError;
}

int PgDriver::SetKey(const FileKey& key, SetFrom from) {
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

int PgDriver::Next() {
  return Step(+1);
}
int PgDriver::Previous() {
  return Step(-1);
}

int PgDriver::Step(int direction) {
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

int PgDriver::Fetch(int direction, std::size_t limit, std::deque<Row>& rows) {
  const Anchor a = cursor_.anchor;
  if (a == Anchor::End && direction > 0) return kNoError;
  if (a == Anchor::Start || a == Anchor::End) return FetchLevel(direction, -1, limit, rows);
  const int components = cursor_.key ? file_.Key(cursor_.key)->ComponentCount() : 0;
  for (int level = components; level >= 0 && rows.size() < limit; --level) {
    if (int e = FetchLevel(direction, level, limit - rows.size(), rows)) return e;
  }
  return kNoError;
}

// One keyset query (KeysetSql.h): components 1..level equal to the anchor's values and then
// the record id past the anchor's (level == component count) or component level+1 past the
// anchor's value; level -1 reads from the start or end.
int PgDriver::FetchLevel(int direction, int level, std::size_t limit, std::deque<Row>& rows) {
  const FileKey* key = cursor_.key ? file_.Key(cursor_.key) : nullptr;
  const int components = key ? key->ComponentCount() : 0;
  KeysetOrder order;
  order.numbered = true;
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
  sql += " LIMIT " + Placeholder(order, next);
  PgParams p;
  for (int b : binds) {
    if (b < 0) {
      p.Int(cursor_.rid);
    } else {
      BindKey(p, key->Component(b + 1), cursor_.values[b]);
    }
  }
  p.Int(static_cast<std::int64_t>(limit));
  PgResult r;
  if (int e = Run(sql, p, r, "read")) return e;
  for (int i = 0; i < r.Rows(); ++i) {
    Row row;
    if (int e = ReadRow(r, i, row)) return e;
    rows.push_back(std::move(row));
  }
  return kNoError;
}

int PgDriver::GetByKey(const FileKey& key) {
  std::string sql = "SELECT " + selectList_ + " FROM " + table_ + " WHERE ";
  for (int i = 1; i <= key.ComponentCount(); ++i) {
    if (i > 1) sql += " AND ";
    sql += ComponentExpr(key.Component(i)) + " = $" + std::to_string(i);
  }
  sql += " ORDER BY _rid LIMIT 1";
  PgParams p;
  const auto values = KeyValuesOf(key, file_.Record());
  for (std::size_t i = 0; i < values.size(); ++i)
    BindKey(p, key.Component(static_cast<int>(i) + 1), values[i]);
  PgResult r;
  if (int e = Run(sql, p, r, "get")) return e;
  if (r.Rows() == 0) return Code(kRecordNotFoundError, "Record Not Found");
  return TakeRow(r);
}

int PgDriver::GetByPointer(std::int64_t pointer, std::uint32_t) {
  if (pointer <= 0) {
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

int PgDriver::Position(const FileKey* key, std::string& position) {
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

int PgDriver::Reset(const FileKey* key, std::string_view position) {
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
      PgParams params;
      params.Int(p->record);
      PgResult r;
      if (int e = Run("SELECT " + selectList_ + " FROM " + table_ + " WHERE _rid = $1", params, r,
                      "reset")) {
        return e;
      }
      if (r.Rows() == 0) return Code(kNoRecordError);
      Row row;
      if (int e = ReadRow(r, 0, row)) return e;
      c.values = KeyValuesOf(*key, row.record.data());
    }
  }
  cursor_ = std::move(c);
  Invalidate();
  ClearError();
  return kNoError;
}

int PgDriver::Reget(const FileKey* key, std::string_view position) {
  const auto p = FilePosition::Decode(position);
  if (!p) return BadPosition();
  if ((key == nullptr) != (p->kind == FilePosition::Kind::File)) return BadPosition();
  if (key && p->key != key->Number()) return BadPosition();
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

template <typename Steps>
int PgDriver::InWrite(std::string_view what, Steps&& steps) {
  if (int e = Connect()) return e;
  const bool own = !inTransaction_;
  if (int e = conn_.Exec(own ? "BEGIN" : "SAVEPOINT pg_write", what)) return e;
  int result = steps();
  if (!result) {
    // Heard by the other clients when the change commits; this client leaves it out by the
    // backend it came from.
    PgParams p;
    p.Text(bare_);
    PgResult r;
    result = conn_.Run("SELECT pg_notify($1, '')", p, r, what);
  }
  if (!result) result = conn_.Exec(own ? "COMMIT" : "RELEASE SAVEPOINT pg_write", what);
  if (result) {
    const ErrorState failure = LastError();
    if (conn_.Connected()) {
      conn_.Exec(own ? "ROLLBACK" : "ROLLBACK TO SAVEPOINT pg_write; RELEASE SAVEPOINT pg_write",
                 what);
    }
    SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
    return result;
  }
  ++changes_;
  return kNoError;
}

int PgDriver::Add(std::uint32_t) {
  Invalidate();
  if (insertSql_.empty()) {
    int n = 1;
    std::string values = "$" + std::to_string(n++);
    insertSql_ = "INSERT INTO " + table_ + " (_nulls";
    for (int b = 1; b <= file_.BlobCount(); ++b) {
      insertSql_ += ", _bsize" + std::to_string(b);
      values += ", $" + std::to_string(n++);
    }
    for (int f = 1; f <= file_.Layout().FieldCount(); ++f) {
      insertSql_ += ", " + Column(f);
      values += ", $" + std::to_string(n++);
    }
    insertSql_ += ") VALUES (" + values + ") RETURNING _rid";
  }
  std::int64_t rid = 0;
  const int written = InWrite("add", [&] {
    PgParams p;
    BindRecord(p, false);
    PgResult r;
    if (int e = conn_.Run(insertSql_, p, r, "add")) return e;
    if (r.Rows() != 1 || !r.Int(0, 0, rid) || rid <= 0) return Damaged(rid, "record id refused");
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

int PgDriver::Put() {
  if (int e = RequireCurrent()) return e;
  Invalidate();
  int n = 1;
  std::string sql = "UPDATE " + table_ + " SET _ver = _ver + 1, _nulls = $" + std::to_string(n++);
  for (std::size_t b = 0; b < blobs_.size(); ++b) {
    if (blobs_[b].modified)
      sql += ", _bsize" + std::to_string(b + 1) + " = $" + std::to_string(n++);
  }
  for (int f = 1; f <= file_.Layout().FieldCount(); ++f)
    sql += ", " + Column(f) + " = $" + std::to_string(n++);
  sql += " WHERE _rid = $" + std::to_string(n++);
  if (watched_) sql += " AND _ver = $" + std::to_string(n++);
  sql += " RETURNING _ver";
  std::int64_t version = 0;
  const int written = InWrite("put", [&] {
    PgParams p;
    BindRecord(p, true);
    p.Int(currentRid_);
    if (watched_) p.Int(currentVersion_);
    PgResult r;
    if (int e = conn_.Run(sql, p, r, "put")) return e;
    if (r.Rows() == 0) return NotWritten();
    if (!r.Int(0, 0, version)) return Damaged(currentRid_, "change counter of another type");
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

int PgDriver::Delete() {
  if (int e = RequireCurrent()) return e;
  Invalidate();
  const int written = InWrite("delete", [&] {
    PgParams p;
    p.Int(currentRid_);
    if (watched_) p.Int(currentVersion_);
    PgResult r;
    if (int e = conn_.Run(watched_ ? "DELETE FROM " + table_ + " WHERE _rid = $1 AND _ver = $2"
                                   : "DELETE FROM " + table_ + " WHERE _rid = $1",
                          p, r, "delete")) {
      return e;
    }
    if (r.Changed() == 0) return NotWritten();
    PgParams c;
    c.Int(currentRid_);
    return conn_.Run("DELETE FROM " + chunks_ + " WHERE rid = $1", c, r, "delete");
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

int PgDriver::Duplicate(const FileKey* key, bool& duplicate) {
  duplicate = false;
  for (int k = 1; k <= file_.KeyCount(); ++k) {
    const FileKey& candidate = *file_.Key(k);
    if (key ? &candidate != key : !candidate.Unique()) continue;
    std::string sql = "SELECT 1::int8 FROM " + table_ + " WHERE ";
    int n = 1;
    for (int i = 1; i <= candidate.ComponentCount(); ++i) {
      sql += ComponentExpr(candidate.Component(i)) + " = $" + std::to_string(n++) + " AND ";
    }
    sql += "_rid <> $" + std::to_string(n) + " LIMIT 1";
    PgParams p;
    const auto values = KeyValuesOf(candidate, file_.Record());
    for (std::size_t i = 0; i < values.size(); ++i)
      BindKey(p, candidate.Component(static_cast<int>(i) + 1), values[i]);
    p.Int(currentRid_);
    PgResult r;
    if (int e = Run(sql, p, r, "duplicate")) return e;
    if (r.Rows() > 0) {
      duplicate = true;
      break;
    }
  }
  ClearError();
  return kNoError;
}

int PgDriver::Watch() {
  watchArmed_ = true;
  ClearError();
  return kNoError;
}

}  // namespace rt
