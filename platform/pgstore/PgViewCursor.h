// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The PGSTORE driver's reading of a table in a view's order: ORDER BY the order's expressions
// (a column, or upper()/lower() of one) with the record id as the tie breaker, continued from
// the last row's values and record id (KeysetSql.h): one row-value comparison when the order is
// all ascending, otherwise one level of the order at a time; never OFFSET. An order no key
// gives gets an index made on demand ("<table>#v<hash>", kept for later views). Filter
// conditions go to the server where it answers them as the evaluator does (ViewSql.h).
// Rows read ahead are dropped once this or another client changes the table or the batch's
// time runs out. The driver hears another client's change with its first exchange with the
// server after that change committed (the server sends the notification before its reply),
// so rows read ahead may be used until then. A cursor whose table was closed
// answers 37.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/pgstore/PgDriver.h"
#include "platform/runtime/expressions/ViewQuery.h"
#include "platform/runtime/files/ViewCursor.h"
#include "platform/sqltable/KeysetSql.h"

namespace rt {

class PgViewCursor : public ViewCursor {
 public:
  PgViewCursor(PgDriver& driver, std::weak_ptr<int> alive, ViewQuery query);

  int Prepare();

  int SetStart() override;
  int SetFromBuffer(int components) override;
  int Reset(std::string_view position) override;
  int ResetToRecord(std::int64_t record) override;
  int Read(int direction, const std::function<bool()>& accept) override;
  int Position(std::string& position) override;
  int Reget(std::string_view position) override;
  void Flush() override { ClearCache(); }
  void SetBatch(int rows, int timeoutSeconds) override;
  int AppliedConditions() const override { return applied_; }

 private:
  enum class AnchorKind : std::uint8_t { Start, Values, Inclusive, Record };
  struct Anchor {
    AnchorKind kind = AnchorKind::Start;
    std::vector<KeyValue> values;
    std::int64_t rid = 0;
  };
  struct Entry {
    PgDriver::Row row;
    std::vector<KeyValue> values;
  };

  int Alive() const;
  int EnsureIndex();
  int Fetch(int direction, const Anchor& from, std::size_t limit);
  int FetchLevel(int direction, const Anchor& from, KeysetLevel level, int equal,
                 std::size_t limit);
  int LookUp(std::int64_t rid, std::vector<KeyValue>& values, bool& found);
  void BindOrderValue(PgParams& p, std::size_t component, const KeyValue& v) const;
  int ReadValue(const PgResult& r, int row, int column, KeyValue& out) const;
  void SetAnchor(Anchor anchor);
  void ClearCache() { cache_.clear(), next_ = 0; }
  bool CacheUsable(int direction);

  PgDriver& driver_;
  std::weak_ptr<int> alive_;
  ViewQuery query_;
  KeysetOrder order_;
  std::vector<int> valueColumns_;  // the result column of each order value
  std::string selectList_;
  std::string signature_;
  std::string where_;
  std::vector<KeyValue> whereBinds_;
  int applied_ = 0;
  bool rowValues_ = false;  // all ascending: one row-value comparison per read
  Anchor anchor_;
  Anchor current_;
  bool hasCurrent_ = false;
  std::vector<Entry> cache_;
  std::size_t next_ = 0;
  int cacheDirection_ = 0;
  std::uint64_t cacheChanges_ = 0;
  std::chrono::steady_clock::time_point cacheTime_;
  std::size_t batch_ = 20;
  int timeout_ = 0;
};

}  // namespace rt
