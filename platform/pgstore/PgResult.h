// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An owned server result, read in the binary format: every value read is checked against
// the column type the driver asked for, so that a reply of another type is refused.

#include <libpq-fe.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

namespace rt {

// The server's type numbers of the columns the driver reads.
inline constexpr Oid kPgInt4 = 23;
inline constexpr Oid kPgInt8 = 20;
inline constexpr Oid kPgFloat8 = 701;
inline constexpr Oid kPgText = 25;
inline constexpr Oid kPgBytea = 17;

class PgResult {
 public:
  PgResult() = default;
  explicit PgResult(PGresult* r) : r_(r) { NoteTypes(); }
  ~PgResult() { PQclear(r_); }
  PgResult(PgResult&& other) noexcept { *this = std::move(other); }
  PgResult& operator=(PgResult&& other) noexcept {
    if (this != &other) {
      PQclear(r_);
      r_ = std::exchange(other.r_, nullptr);
      std::copy(other.types_, other.types_ + other.noted_, types_);
      noted_ = std::exchange(other.noted_, 0);
    }
    return *this;
  }
  PgResult(const PgResult&) = delete;
  PgResult& operator=(const PgResult&) = delete;

  PGresult* Get() const { return r_; }
  ExecStatusType Status() const { return r_ ? PQresultStatus(r_) : PGRES_FATAL_ERROR; }
  int Rows() const { return r_ ? PQntuples(r_) : 0; }
  int Columns() const { return r_ ? PQnfields(r_) : 0; }
  std::int64_t Changed() const;
  Oid Type(int column) const {
    return column >= 0 && column < noted_ ? types_[column] : PQftype(r_, column);
  }
  bool Null(int row, int column) const { return PQgetisnull(r_, row, column) != 0; }
  std::string_view Bytes(int row, int column) const {
    return {PQgetvalue(r_, row, column), static_cast<std::size_t>(PQgetlength(r_, row, column))};
  }
  // Each reads a value of the type it names; false when the column has another type or the
  // value is not of that type's size (NULL reads as 0 or no text).
  bool Int(int row, int column, std::int64_t& value) const;
  bool Real(int row, int column, double& value) const;
  bool Text(int row, int column, std::string_view& value) const;
  bool Blob(int row, int column, std::string_view& value) const;

 private:
  // The first columns' types are noted once, since every value read checks its column's.
  void NoteTypes();
  static constexpr int kNotedTypes = 16;

  PGresult* r_ = nullptr;
  Oid types_[kNotedTypes] = {};
  int noted_ = 0;
};

}  // namespace rt
