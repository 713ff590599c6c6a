// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A view: an ordered, filtered, read-only record set over a primary file. The order text
// names fields ("DEM:ID", "-DEM:ID", "UPPER(DEM:FileName)", ViewOrder.h); the filter is an
// expression (Expression.h) tested against each record with the file's fields bound by their
// labels, on top of whatever the calling thread has bound. Records read through the view go
// into the primary file's record buffer and become its current record.
//
// The view reads through the file's driver (ViewCursor.h): STORE reads one batch of rows per
// trip with keyset continuation in the view's order, so a read costs the same anywhere in a
// table of any size. Comparisons of the filter that the driver can check exactly are handed
// to it; the view still tests every record against the whole filter, unless the filter is
// nothing but such comparisons of whole-number or String fields and the driver checks them all.
//
// Every operation sets the thread's error state and returns its code, 0 on success: 33 end
// of the view (or no current record), 35 record not found, 37 view (or file) not open,
// 52 view already open, 80 the file's driver has no views, 800 malformed order or filter
// text (the view goes on without a malformed order; after a malformed filter it reads no
// record, error 33, until a filter that compiles is set).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/expressions/Bindings.h"
#include "platform/runtime/expressions/Expression.h"
#include "platform/runtime/expressions/ViewQuery.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/files/ViewCursor.h"

namespace rt {

inline constexpr int kViewOpenMode = 0x22;

class View {
 public:
  explicit View(File& primary);
  ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  File& Primary() const { return primary_; }

  // ---- Order and filter (set before or after Open; a change restarts the sequence) ----
  int SetOrder(std::string_view text);
  const std::string& Order() const { return orderText_; }
  const std::vector<ViewOrderComponent>& OrderComponents() const { return query_.order; }
  int SetFilter(std::string_view text);
  const std::string& Filter() const { return filterText_; }

  // ---- Open and close (the primary file must be open) ----
  int Open(int mode = kViewOpenMode);
  int Close();
  bool IsOpen() const { return cursor_ != nullptr; }
  int Mode() const { return mode_; }

  // ---- Positioning and reading ----
  // Positions by the record buffer's values of the first `components` order components:
  // Next reads the first record at or after them, Previous the last at or before them.
  // 0 positions at the start (Next reads the first record, Previous the last).
  int Set(int components = 0);
  int Next();
  int Previous();
  // Position of the last record read (at most kMaxPositionSize bytes; equal positions are
  // the same record); empty, with error 33, when there is none.
  std::string Position();
  // As Position, into `position` (its storage reused); returns the error code.
  int Position(std::string& position);
  // Next and Previous then read the record at the position, or its neighbour when it is gone.
  int Reset(std::string_view position);
  // As Reset, at the primary file's current record.
  int ResetToFile();
  // Reads the record at a position again.
  int Reget(std::string_view position);
  // Arms change detection on the primary file for the next record read (File::Watch).
  int Watch();
  // Drops the rows read ahead, so the next read sees the file as it is now.
  int Flush();

  // ---- Buffering ----
  // Rows are fetched a page at a time (pageSize x (1 + pagesAhead) rows) and may be used for
  // `timeoutSeconds` (0: until the file changes). Pages behind are not kept: reading back
  // fetches again from the current record.
  int SetBuffer(int pageSize, int pagesBehind = 0, int pagesAhead = 0, int timeoutSeconds = 0);
  int PageSize() const { return pageSize_; }
  int PagesBehind() const { return pagesBehind_; }
  int PagesAhead() const { return pagesAhead_; }
  int Timeout() const { return timeout_; }
  // Rows fetched per trip when not 0 (overrides the page buffering).
  int SetPrefetch(int count);
  int Prefetch() const { return prefetch_; }

  // Number of the filter's comparisons the driver checks itself (0 when closed).
  int AppliedConditions() const;

 private:
  int Rebuild();
  void AnalyseFilter();
  void ApplyBatch();
  int Read(int direction);
  int RequireOpen() const;

  File& primary_;
  std::string orderText_;
  std::string filterText_;
  Expression filter_;
  // The primary record's fields, lent to the thread's bindings while a read tests the filter.
  Bindings::Scope recordScope_;
  void* recordScopeFor_ = nullptr;
  ViewQuery query_;
  std::unique_ptr<ViewCursor> cursor_;
  int mode_ = kViewOpenMode;
  int pageSize_ = 0;
  int pagesBehind_ = 0;
  int pagesAhead_ = 0;
  int timeout_ = 0;
  int prefetch_ = 0;
  bool refused_ = false;  // the last filter set did not compile
  // The filter is exactly query_.conditions, of fields whose comparisons a driver's SQL
  // answers as the evaluator does (AnalyseFilter).
  bool conditionsAreFilter_ = false;
};

}  // namespace rt
