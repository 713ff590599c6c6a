// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The STORE driver's reading of a table in a view's order.
//
// The order becomes an SQL ORDER BY on the order's expressions (a column, or upper()/lower()
// of one) with the record id as the tie breaker. Reads continue from the last record's order
// values and record id one level of the order at a time (components 1..L equal, component
// L+1 past the anchor), LIMIT one batch: never OFFSET, never the whole table. Each query is
// tied to one index that gives the order: a key of the table with the same components and
// directions (or all reversed), otherwise an index on the order's expressions created on
// demand as "view:<expressions>" (kept in the table for later views; when it cannot be made,
// for instance on a read-only table, SQLite picks its own plan and may sort).
//
// Filter conditions are turned into SQL only where SQL gives exactly the evaluator's answer:
// comparisons (= <> < > <= >=) of a numeric field (not Decimal) with a number, and of a
// String field, or upper()/lower() of one, with a text (texts are stored without trailing
// blanks and compared byte by byte, as the evaluator compares them).
//
// A cursor belongs to one open driver: once the table is closed every call answers 37. The
// anchor and positions are KeysetCursor's.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/sqltable/KeysetCursor.h"
#include "platform/sqltable/KeysetSql.h"
#include "platform/store/StoreDriver.h"

namespace rt {

class StoreViewCursor final : public KeysetCursor {
 public:
  StoreViewCursor(StoreDriver& driver, std::weak_ptr<int> alive, ViewQuery query);

  // Checks the query, builds its SQL and makes sure an index gives the order.
  int Prepare();

  int Read(int direction, const std::function<bool()>& accept) override;
  void Flush() override;

  // The index the order reads through ("" when SQLite chooses).
  const std::string& IndexName() const { return indexName_; }

 private:
  struct Entry {
    StoreDriver::Row row;
    std::vector<KeyValue> values;
  };
  // How a level query limits its rows. Row compares the anchor's values (and record id) as
  // one row value: a single range in the index instead of one query per level.
  using Level = KeysetLevel;

  int Alive() const override;
  int LookUp(std::int64_t rid, std::vector<KeyValue>& values, bool& found) override;
  int ReadRecord(std::int64_t rid, int missingCode) override;
  int BufferValue(const ViewOrderComponent& component, KeyValue& value) override;
  void ClearCache() override { cacheNext_ = cacheEnd_ = 0; }
  std::string OrderExpr(const ViewOrderComponent& c) const;
  int ChooseIndex();
  void BuildConditions();
  // Fetch and FetchLevel append up to `limit` rows to the empty row cache.
  int Fetch(int direction, const Anchor& from, std::size_t limit);
  // An anchor moved up to the filter's bound on the order's first component when it lies
  // short of it, so that the index range starts where the filter does; false when it does
  // not lie short of a bound.
  bool Clamp(int direction, const Anchor& from, Anchor& clamped) const;
  int FetchLevel(int direction, const Anchor& from, Level level, int equal, std::size_t limit);
  const std::string& LevelSql(int direction, const Anchor& from, Level level, int equal);
  int Fold(KeyValue& value, CaseFold fold);
  bool CacheUsable(int direction);
  int Stamp();

  StoreDriver& driver_;
  std::weak_ptr<int> alive_;
  std::vector<std::string> expressions_;
  std::vector<std::string> selected_;  // the folded order expressions, selected after the record
  std::vector<int> valueColumns_;      // the result column of each order expression's value
  std::string indexName_;
  std::string indexClause_;
  std::string where_;
  std::vector<KeyValue> whereBinds_;
  // The filter's numeric comparisons of the order's first component, checked by SQL.
  struct Bound {
    CompareOp op;
    double value;
  };
  std::vector<Bound> bounds_;
  // The order is on plain columns, all ascending, so that one row-value comparison gives
  // the rows past an anchor's values; with the record id too when its index is unique
  // (duplicates would otherwise be skipped one by one).
  bool rowValues_ = false;
  bool rowValuesWithRecord_ = false;
  // Rows read ahead: cache_[cacheNext_, cacheEnd_) are still to be taken. The entries are
  // kept and refilled, so that reading allocates nothing once the first page was read.
  std::vector<Entry> cache_;
  std::size_t cacheNext_ = 0;
  std::size_t cacheEnd_ = 0;
  // Scratch of Read: the last row taken, and the file's state before the first of them.
  Anchor scan_;
  StoreDriver::Current saved_;  // the file's state before a read
  // The SQL of each kind of level query, built once.
  std::unordered_map<int, std::string> levelSql_;
  int cacheDirection_ = 0;
  std::int64_t cacheChanges_ = 0;
  std::int64_t cacheVersion_ = 0;
  std::uint64_t cacheScan_ = 0;  // the quick scan the rows were read in (0: none)
  std::chrono::steady_clock::time_point cacheTime_;
  // The first row read from a Values anchor (kept only where the order allows duplicates
  // and no row value covers the record id): no row with its values comes before it in the
  // direction it was read, so a read back from it in the same quick scan needs no query for
  // its values' other records.
  bool headKept_ = false;
  Entry head_;
  int headDirection_ = 0;
  std::uint64_t headScan_ = 0;
  std::int64_t headChanges_ = 0;
  bool HeadServes(int direction, const Anchor& from) const;
};

}  // namespace rt
