// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A driver's reading of a file in a view's order (ViewQuery). The cursor keeps an anchor:
// the start, the values of the first components of the order, or a record (the one last
// read, or one named by a position). Reads move from the anchor; each record read goes into
// the file's record buffer and becomes the file's current record. Every operation returns a
// runtime error code and sets the thread's error state.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace rt {

class ViewCursor {
 public:
  virtual ~ViewCursor() = default;

  // The next Read forwards gives the first record of the order, backwards the last one.
  virtual int SetStart() = 0;
  // Anchors at the record buffer's values of the first `components` order components: a
  // forward read gives the first record at or after them, a backward read the last record at
  // or before them. 0 components is the start.
  virtual int SetFromBuffer(int components) = 0;
  // Anchors at a position made by Position (inclusive both ways); when that record is gone,
  // reading continues with its neighbour in the order.
  virtual int Reset(std::string_view position) = 0;
  // Anchors at the record with this record id (inclusive both ways); 35 when there is none.
  virtual int ResetToRecord(std::int64_t record) = 0;
  // Reads records in a direction (+1 forwards, -1 backwards) until `accept` (asked with the
  // record in the buffer) takes one; an empty `accept` takes every record. At the end of the
  // order it answers 33 and leaves the record buffer and the anchor as they were.
  virtual int Read(int direction, const std::function<bool()>& accept) = 0;
  // Position of the last record read: opaque, at most kMaxPositionSize bytes; equal for the
  // same record in the same order. 33 when no record has been read since the anchor was set.
  virtual int Position(std::string& position) = 0;
  // Reads the record at a position and anchors there; 35 when the record is gone.
  virtual int Reget(std::string_view position) = 0;
  // Drops the records read ahead.
  virtual void Flush() = 0;
  // Records fetched per trip to the file (at least 1) and how long, in seconds, rows read
  // ahead may be used (0: no limit). Rows read ahead are also dropped whenever the file
  // changes.
  virtual void SetBatch(int rows, int timeoutSeconds) = 0;
  // Number of the query's conditions the driver applies itself.
  virtual int AppliedConditions() const = 0;
};

}  // namespace rt
