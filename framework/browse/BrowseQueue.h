// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The page of rows a browse shows, as the browse sees it. Operations that read an entry
// leave it in the queue's entry buffer, where the browse reads the row's fields and
// position from.

#include <cstdint>
#include <string>
#include <string_view>

class BrowseQueue {
 public:
  virtual ~BrowseQueue() = default;

  virtual std::int32_t Records() = 0;
  // Appends the entry buffer.
  virtual void Insert() = 0;
  // Inserts the entry buffer at a 1-based position.
  virtual void InsertAt(std::int32_t position) = 0;
  // Reads an entry into the buffer; an invalid position leaves the buffer as it was and
  // returns (and sets) the runtime error code.
  virtual int GetRow(std::int32_t position) = 0;
  // Writes the buffer back to the entry last read.
  virtual void Update() = 0;
  // Deletes the entry last read.
  virtual void Delete() = 0;
  virtual void Free() = 0;
  virtual std::string Who(std::int32_t field) = 0;
  // The position field of the entry buffer.
  virtual std::string GetViewPosition() = 0;
  virtual void SetViewPosition(std::string_view position) = 0;
};
