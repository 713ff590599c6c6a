// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgResult.h"

#include <cstdlib>

namespace rt {

namespace {

std::uint64_t BigEndian8(const char* p) {
  std::uint64_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return __builtin_bswap64(v);
}

std::uint32_t BigEndian4(const char* p) {
  std::uint32_t v = 0;
  std::memcpy(&v, p, sizeof v);
  return __builtin_bswap32(v);
}

}  // namespace

void PgResult::NoteTypes() {
  noted_ = std::min(Columns(), kNotedTypes);
  for (int c = 0; c < noted_; ++c)
    types_[c] = PQftype(r_, c);
}

std::int64_t PgResult::Changed() const {
  const char* n = r_ ? PQcmdTuples(r_) : "";
  return *n ? std::strtoll(n, nullptr, 10) : 0;
}

// A value of the column type's size is never NULL (whose length is 0), so the common case
// asks the library for the length and the bytes only.
bool PgResult::Int(int row, int column, std::int64_t& value) const {
  value = 0;
  const Oid type = Type(column);
  if (type != kPgInt8 && type != kPgInt4) return false;
  const int size = type == kPgInt8 ? 8 : 4;
  if (PQgetlength(r_, row, column) != size) return Null(row, column);
  const char* bytes = PQgetvalue(r_, row, column);
  value = size == 8 ? static_cast<std::int64_t>(BigEndian8(bytes))
                    : static_cast<std::int64_t>(static_cast<std::int32_t>(BigEndian4(bytes)));
  return true;
}

bool PgResult::Real(int row, int column, double& value) const {
  value = 0;
  if (Type(column) != kPgFloat8) return false;
  if (PQgetlength(r_, row, column) != 8) return Null(row, column);
  const std::uint64_t bits = BigEndian8(PQgetvalue(r_, row, column));
  std::memcpy(&value, &bits, sizeof value);
  return true;
}

bool PgResult::Text(int row, int column, std::string_view& value) const {
  value = {};
  if (Type(column) != kPgText) return false;
  if (!Null(row, column)) value = Bytes(row, column);
  return true;
}

bool PgResult::Blob(int row, int column, std::string_view& value) const {
  value = {};
  if (Type(column) != kPgBytea) return false;
  if (!Null(row, column)) value = Bytes(row, column);
  return true;
}

}  // namespace rt
