// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/StoreDriver.h"

#include <type_traits>
#include <variant>

#include "platform/runtime/threads/ErrorState.h"
#include "platform/store/StoreStatement.h"
#include "platform/store/StoreStatementGuard.h"

namespace rt {

namespace {

// The columns of a row as ReadRowFrom reads them. The database converts a value of another
// type, so only the change counter is checked for its type.
class StoreColumns {
 public:
  explicit StoreColumns(const StoreStatement& s) : s_(s) {}
  bool Int(int column, std::int64_t& v) const {
    v = s_.Int(column);
    return true;
  }
  bool Real(int column, double& v) const {
    v = s_.Real(column);
    return true;
  }
  bool Text(int column, std::string_view& v) const {
    v = s_.Text(column);
    return true;
  }
  bool Counter(int column, std::int64_t& v) const {
    const StoreValue value = s_.Column(column);
    v = value.Int();
    return value.Type() == SQLITE_INTEGER;
  }

 private:
  const StoreStatement& s_;
};

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
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;
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

int StoreDriver::ReadRow(StoreStatement& s, Row& row) const {
  return ReadRowFrom(StoreColumns(s), row);
}

void StoreDriver::BindValue(StoreStatement& s, int index, const KeyValue& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) {
    s.Bind(index, *i);
  } else if (const auto* d = std::get_if<double>(&v)) {
    s.Bind(index, *d);
  } else {
    s.Bind(index, std::string_view(std::get<std::string>(v)));
  }
}

StoreStatementGuard StoreDriver::Bound(const std::string& sql, const SqlArgs& args) {
  auto s = Statement(sql);
  if (!s) return s;
  int index = 1;
  for (const SqlArg& arg : args) {
    std::visit(
        [&](const auto& v) {
          using T = std::decay_t<decltype(v)>;
          if constexpr (std::is_same_v<T, SqlBytes>) {
            // Borrowed until the guard resets the statement.
            s->BindStaticBlob(index, v.bytes.data(), v.bytes.size());
          } else if constexpr (std::is_same_v<T, std::string>) {
            s->Bind(index, std::string_view(v));
          } else {
            s->Bind(index, v);
          }
        },
        arg);
    ++index;
  }
  return s;
}

int StoreDriver::QueryRows(const std::string& sql, const SqlArgs& args, std::string_view what,
                           std::deque<Row>& rows) {
  auto s = Bound(sql, args);
  if (!s) return ErrorCode();
  int rc;
  while ((rc = s->Step()) == SQLITE_ROW) {
    if (int e = ReadRow(*s, rows.emplace_back())) {
      rows.pop_back();
      return e;
    }
  }
  if (rc != SQLITE_DONE) return Fail(rc, what);
  return kNoError;
}

int StoreDriver::QueryInt(const std::string& sql, const SqlArgs& args, std::string_view what,
                          std::int64_t& value, bool& found) {
  auto s = Bound(sql, args);
  if (!s) return ErrorCode();
  int rc = s->Step();
  found = rc == SQLITE_ROW;
  if (found) {
    value = s->Int(0);
    // A write answering its row is complete only once stepped to its end.
    while ((rc = s->Step()) == SQLITE_ROW) {
    }
  }
  if (rc != SQLITE_DONE) return Fail(rc, what);
  return kNoError;
}

int StoreDriver::Execute(const std::string& sql, const SqlArgs& args, std::string_view what,
                         std::int64_t* changed) {
  auto s = Bound(sql, args);
  if (!s) return ErrorCode();
  const int rc = s->Step();
  if (rc != SQLITE_DONE) return Fail(rc, what);
  if (changed) *changed = sqlite3_changes(db_);
  return kNoError;
}

int StoreDriver::QueryChunks(const std::string& sql, const SqlArgs& args,
                             const ChunkVisitor& each) {
  auto s = Bound(sql, args);
  if (!s) return ErrorCode();
  int rc;
  while ((rc = s->Step()) == SQLITE_ROW) {
    StoredChunk chunk;
    chunk.chunk = s->Int(0);
    chunk.bytes = s->Blob(1);
    chunk.hasSum = s->Type(2) == SQLITE_INTEGER;
    chunk.sum = static_cast<std::uint64_t>(s->Int(2));
    if (int e = each(chunk)) return e;
  }
  if (rc != SQLITE_DONE) return Fail(rc, "BLOB read");
  return kNoError;
}

int StoreDriver::InWrite(std::string_view what, const std::function<int()>& steps) {
  EndQuickScan();
  Savepoint savepoint(db_);
  if (!savepoint.Ok()) return Fail(sqlite3_errcode(db_), what);
  if (int e = steps()) return e;
  const int release = savepoint.Release();
  if (release != SQLITE_OK) return Fail(release, what);
  return kNoError;
}

}  // namespace rt
