// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The SQL of keyset reads, shared by the SQL table drivers: a read continues from an anchor
// (the values of the order's expressions and a record id) with conditions an index range can
// serve, one level of the order at a time, never with OFFSET.

#include <cstdint>
#include <string>
#include <vector>

namespace rt {

// How one keyset query limits its rows, given the anchor:
//   All     no condition (from the start or the end);
//   Equal   the first `equal` expressions equal to the anchor's values;
//   Past    those equal and expression `equal` past the anchor's value;
//   Record  the first `equal` equal and the record id past the anchor's;
//   Row     the first `equal` expressions (and the record id, `withRecord`) past the anchor's
//           as one row value (for orders that are all ascending plain columns).
enum class KeysetLevel : std::uint8_t { All, Equal, Past, Record, Row };

struct KeysetOrder {
  std::vector<std::string> expressions;
  std::vector<bool> ascending;
  std::string record = "_rid";  // the record id column, the last tie breaker
  bool numbered = false;        // placeholders "$1", "$2", ... instead of "?"
  // The expressions are a unique index's columns: no two rows share their values (unless
  // one is NULL), so ORDER BY needs no record id and the index serves it without a sort.
  bool distinct = false;
};

// Appends the level's conditions (each " AND ...") to sql; `strict` excludes the anchor's
// own record. For each placeholder it appends to binds the index of the anchor value it takes,
// or -1 for the record id; `next` is the number of the next placeholder.
void AppendKeysetConditions(const KeysetOrder& order, KeysetLevel level, int equal, bool forward,
                            bool strict, bool withRecord, std::string& sql, std::vector<int>& binds,
                            int& next);
// Appends " ORDER BY" with the expressions from number `from` on (those before are fixed by
// equality) and the record id (left out of a distinct order's), in the reading direction.
void AppendKeysetOrder(const KeysetOrder& order, int from, bool forward, std::string& sql);
// The next placeholder ("?" or "$n").
std::string Placeholder(const KeysetOrder& order, int& next);

}  // namespace rt
