// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the SQL table drivers' view cursors share: the anchor a read continues from (the start,
// the values of the order's first components, or a record with its order values and record
// id), the record last read and its position, and the operations that only move them. A driver
// derives from it, reads rows (Read, KeysetSql.h) and supplies the few steps that reach its
// table: whether the table is still open, a record's order values, a record read into the
// buffer, an order value of the record buffer, and dropping the rows it read ahead.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/expressions/ViewQuery.h"
#include "platform/runtime/files/FilePosition.h"
#include "platform/runtime/files/ViewCursor.h"

namespace rt {

class KeysetCursor : public ViewCursor {
 public:
  int SetStart() override;
  int SetFromBuffer(int components) override;
  int Reset(std::string_view position) override;
  int ResetToRecord(std::int64_t record) override;
  int Position(std::string& position) override;
  int Reget(std::string_view position) override;
  void SetBatch(int rows, int timeoutSeconds) override;
  int AppliedConditions() const override { return applied_; }

 protected:
  explicit KeysetCursor(ViewQuery query);

  enum class AnchorKind : std::uint8_t { Start, Values, Inclusive, Record };
  struct Anchor {
    AnchorKind kind = AnchorKind::Start;
    std::vector<KeyValue> values;
    std::int64_t rid = 0;
  };

  // 37 (with the thread's error set) once the table was closed.
  virtual int Alive() const = 0;
  // The order values of the record with this id; `found` false when there is none.
  virtual int LookUp(std::int64_t rid, std::vector<KeyValue>& values, bool& found) = 0;
  // Reads the record into the buffer as the file's current record; `missingCode` when gone.
  virtual int ReadRecord(std::int64_t rid, int missingCode) = 0;
  // The record buffer's value of an order component, folded as the order folds it.
  virtual int BufferValue(const ViewOrderComponent& component, KeyValue& value) = 0;
  // Drops the rows read ahead: the anchor moved.
  virtual void ClearCache() = 0;

  void SetAnchor(Anchor anchor);

  ViewQuery query_;
  std::string signature_;  // the order's, carried by positions
  int applied_ = 0;        // conditions the driver's SQL applies
  Anchor anchor_;
  Anchor current_;  // the record last read
  bool hasCurrent_ = false;
  std::size_t batch_ = 20;
  int timeout_ = 0;
};

}  // namespace rt
