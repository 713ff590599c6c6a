// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An owned prepared SQLite statement.

#include <cstdint>
#include <string>
#include <string_view>

#include <sqlite3.h>

namespace rt {

// One column of the current row, read several ways for the price of one call into the
// statement. Valid until the statement steps or resets; a connection serves one thread only,
// so reading it needs no lock.
class StoreValue {
 public:
  explicit StoreValue(sqlite3_value* v) : v_(v) {}
  std::int64_t Int() const { return sqlite3_value_int64(v_); }
  double Real() const { return sqlite3_value_double(v_); }
  int Type() const { return sqlite3_value_type(v_); }
  std::string_view Text() const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v_));
    const int n = sqlite3_value_bytes(v_);
    return p ? std::string_view(p, static_cast<std::size_t>(n)) : std::string_view();
  }
  std::string_view Blob() const {
    const auto* p = static_cast<const char*>(sqlite3_value_blob(v_));
    const int n = sqlite3_value_bytes(v_);
    return p ? std::string_view(p, static_cast<std::size_t>(n)) : std::string_view();
  }

 private:
  sqlite3_value* v_;
};

class StoreStatement {
 public:
  StoreStatement() = default;
  ~StoreStatement() { sqlite3_finalize(stmt_); }
  StoreStatement(const StoreStatement&) = delete;
  StoreStatement& operator=(const StoreStatement&) = delete;

  // Returns the SQLite result code.
  int Prepare(sqlite3* db, std::string_view sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  }
  // Resets and clears the bindings for reuse.
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  int Step() { return sqlite3_step(stmt_); }

  void Bind(int index, std::int64_t v) { sqlite3_bind_int64(stmt_, index, v); }
  void Bind(int index, double v) { sqlite3_bind_double(stmt_, index, v); }
  void Bind(int index, std::string_view v) {
    sqlite3_bind_text64(stmt_, index, v.data(), v.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  }
  void BindNull(int index) { sqlite3_bind_null(stmt_, index); }
  // Binds bytes that stay alive until the statement is stepped and reset.
  void BindStaticBlob(int index, const void* data, std::uint64_t size) {
    sqlite3_bind_blob64(stmt_, index, size == 0 ? "" : data, size, SQLITE_STATIC);
  }

  StoreValue Column(int column) const { return StoreValue(sqlite3_column_value(stmt_, column)); }
  std::int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  double Real(int column) const { return sqlite3_column_double(stmt_, column); }
  int Type(int column) const { return sqlite3_column_type(stmt_, column); }
  std::string_view Text(int column) const { return Column(column).Text(); }
  std::string_view Blob(int column) const { return Column(column).Blob(); }
  sqlite3_stmt* Get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace rt
