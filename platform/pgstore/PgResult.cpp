// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgResult.h"

#include <cstdlib>

namespace rt {

namespace {

std::uint64_t BigEndian(const char* p, int n) {
  std::uint64_t v = 0;
  for (int i = 0; i < n; ++i)
    v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

}  // namespace

std::int64_t PgResult::Changed() const {
  const char* n = r_ ? PQcmdTuples(r_) : "";
  return *n ? std::strtoll(n, nullptr, 10) : 0;
}

bool PgResult::Int(int row, int column, std::int64_t& value) const {
  value = 0;
  const Oid type = Type(column);
  if (type != kPgInt8 && type != kPgInt4) return false;
  if (Null(row, column)) return true;
  const int size = type == kPgInt8 ? 8 : 4;
  if (PQgetlength(r_, row, column) != size) return false;
  const std::uint64_t bits = BigEndian(PQgetvalue(r_, row, column), size);
  value = size == 8 ? static_cast<std::int64_t>(bits)
                    : static_cast<std::int64_t>(static_cast<std::int32_t>(bits));
  return true;
}

bool PgResult::Real(int row, int column, double& value) const {
  value = 0;
  if (Type(column) != kPgFloat8) return false;
  if (Null(row, column)) return true;
  if (PQgetlength(r_, row, column) != 8) return false;
  const std::uint64_t bits = BigEndian(PQgetvalue(r_, row, column), 8);
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
