// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The PGSTORE driver's reading of a table in a view's order: ORDER BY the order's expressions
// (a column, or upper()/lower() of one) with the record id as the tie breaker (none needed for a
// unique key's order, whose index then gives the rows without a sort), continued from
// the last row's values and record id (KeysetSql.h): one row-value comparison when the order is
// all ascending, otherwise one level of the order at a time; never OFFSET. An order no key
// gives gets an index made on demand ("<table>#v<hash>", kept for later views). Filter
// conditions go to the server where it answers them as the evaluator does (ViewSql.h).
// Rows read ahead are dropped once this or another client changes the table or the batch's
// time runs out. The driver hears another client's change with its first exchange with the
// server after that change committed (the server sends the notification before its reply),
// so rows read ahead may be used until then (taking one reads nothing from the server). A
// read that fetches rows while the order's first and last rows are not known (a new cursor, a
// change since) reads them in the same statement, so that the thumb's limits a browse reads
// next, and a later read from either end, cost no round trip (a page read from an end starts
// with that end, which it needs no scan for); an end the view's filter cannot
// move is the order's end among all rows, which the driver keeps for the views after. The kept ends
// are used while no commit is known since they were read: none heard on the table's connection (to
// a connection waiting for its next statement the server sends another client's notification as
// soon as that client commits) and none made by a driver of this process (whose notification may
// still be on its way when the writer's thread tells this one of its change). A commit of another
// process so recent that its notification has not arrived is as one made just after the read. A
// read from a record's position fetches one row more, since the browse takes that record again
// first. A cursor whose table was closed answers 37; the anchor and positions are KeysetCursor's.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/pgstore/PgDriver.h"
#include "platform/sqltable/KeysetCursor.h"
#include "platform/sqltable/KeysetSql.h"

namespace rt {

class PgViewCursor final : public KeysetCursor {
 public:
  PgViewCursor(PgDriver& driver, std::weak_ptr<int> alive, ViewQuery query);
  ~PgViewCursor() override;
  PgViewCursor(const PgViewCursor&) = delete;
  PgViewCursor& operator=(const PgViewCursor&) = delete;

  int Prepare();

  int Read(int direction, const std::function<bool()>& accept) override;
  void Flush() override {
    ClearCache();
    DropBounds();
    driver_.orderEnds_.erase(signature_);
  }

 private:
  using Entry = PgDriver::ViewRow;
  using Bound = PgDriver::OrderEnd;

  int Alive() const override;
  int LookUp(std::int64_t rid, std::vector<KeyValue>& values, bool& found) override;
  int ReadRecord(std::int64_t rid, int missingCode) override;
  int BufferValue(const ViewOrderComponent& component, KeyValue& value) override;
  void ClearCache() override { next_ = end_ = 0; }
  // The next entry of the row cache to fill (its storage kept from earlier reads).
  Entry& Slot() {
    if (end_ == cache_.size()) cache_.emplace_back();
    return cache_[end_++];
  }
  // The key whose index gives the view's order (read forward or backward), if any.
  const FileKey* OrderKey() const;
  int EnsureIndex();
  // Fetch and FetchLevel append up to `limit` rows to the empty row cache; the same
  // statement also reads the order's `ends` (the thumb's limits, read next by a browse) into
  // bounds_.
  int Fetch(int direction, const Anchor& from, std::size_t limit, int ends);
  int FetchLevel(int direction, const Anchor& from, KeysetLevel level, int equal, std::size_t limit,
                 int ends);
  using LevelStatement = PgDriver::ViewStatement;
  const LevelStatement& LevelSql(int direction, AnchorKind kind, KeysetLevel level, int equal,
                                 std::size_t limit, int ends);
  Bound& BoundOf(int direction) { return bounds_[direction > 0 ? 0 : 1]; }
  bool BoundUsable(int direction) { return Fresh(BoundOf(direction)); }
  // Whether a kept end still holds: no change known since it was read (heard_ the changes
  // known at this read).
  bool Fresh(const Bound& b);
  void DropBounds() { bounds_[0].valid = bounds_[1].valid = false; }
  // Takes the ends of the order among all rows that the driver keeps, where the filter
  // cannot move them (keepsEnd_), as this view's ends.
  void AdoptOrderEnds();
  // The order's ends a read fetches with its rows: bit 0 the first row, bit 1 the last.
  static constexpr int kFirstEnd = 1;
  static constexpr int kLastEnd = 2;
  void BindOrderValue(PgParams& p, std::size_t component, const KeyValue& v) const;
  int ReadValue(const PgResult& r, int row, int column, KeyValue& out) const;
  bool CacheUsable(int direction);
  // Whether every row the filter passes lies past the anchor in the reading direction (its
  // value of the order's first expression short of a bound of the filter): the read from it
  // then is the read from the start.
  bool ShortOfFilter(int direction, const Anchor& from) const;

  PgDriver& driver_;
  std::weak_ptr<int> alive_;
  KeysetOrder order_;
  std::vector<int> valueColumns_;  // the result column of each order value
  std::string selectList_;
  std::string where_;
  std::vector<KeyValue> whereBinds_;
  // Of each condition in where_: the comparison, and whether it is of the order's first
  // expression.
  std::vector<std::pair<CompareOp, bool>> whereOps_;
  std::string signature_;  // the order's, naming its ends in PgDriver::orderEnds_
  std::string shape_;      // the order's and the filter's text: PgDriver::ViewSpare::shape
  // Per end (first, last): the filter cannot move it. The end of the order among all rows
  // then is the view's end when it passes the filter, and the view has no row otherwise.
  bool keepsEnd_[2] = {false, false};
  std::uint64_t heard_ = 0;  // PgDriver::ChangeCount() at the read under way
  bool rowValues_ = false;   // all ascending: one row-value comparison per read
  // A filter on another expression than the order's first: the filter's values decide which
  // index serves a read best, so each read is planned with them.
  bool plannedPerRun_ = false;
  // Rows read ahead: cache_[next_, end_) are still to be taken. The entries are kept and
  // refilled, so that reading allocates little once the first page was read.
  std::vector<Entry> cache_;
  std::size_t next_ = 0;
  std::size_t end_ = 0;
  // Scratch of Read: the last row taken, and the file's state before the first of them.
  Anchor scan_;
  PgDriver::Current saved_;  // the file's state before a read
  std::unordered_map<std::uint64_t, LevelStatement> levelSql_;
  int cacheDirection_ = 0;
  std::uint64_t cacheChanges_ = 0;
  std::chrono::steady_clock::time_point cacheTime_;
  Bound bounds_[2];  // forward (the first row), backward (the last)
};

}  // namespace rt
