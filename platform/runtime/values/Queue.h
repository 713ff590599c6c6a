// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An ordered in-memory list of records of one layout, with 1-based positions and one
// entry buffer. Records move between the list and the buffer only by copy: Add and Put
// copy the buffer in, Get copies an entry out. The entry last got or added is the current
// entry, which Put and Delete act on and Pointer reports.
//
// A failing operation (position out of range, no current entry, unknown sort field) sets
// the calling thread's runtime error and changes neither the list nor the buffer; a
// successful one clears it. A queue is used by one thread at a time.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/values/AnyRef.h"
#include "platform/runtime/values/RecordLayout.h"

namespace rt {

class Queue {
 public:
  explicit Queue(RecordLayout layout);

  const RecordLayout& Layout() const { return layout_; }
  // The entry buffer (Layout().Size() bytes).
  void* Buffer() { return buffer_.data(); }
  const void* Buffer() const { return buffer_.data(); }
  // A field of the entry buffer by 1-based number or by label; null when there is none.
  AnyRef Field(int number);
  AnyRef Field(std::string_view label);
  // The label of a field, or "" when there is none.
  std::string Who(int number) const;
  // Clears the entry buffer (blanks and zeros).
  void ClearBuffer();

  // Appends a copy of the buffer; the new entry becomes current.
  void Add();
  // Inserts a copy of the buffer at the position (positions past the end append). A
  // position below 1 fails with kEntryNotFound.
  bool Add(int position);
  // Copies the entry at the position into the buffer; out of range fails with
  // kEntryNotFound and leaves the buffer unchanged.
  bool Get(int position);
  // Finds the first entry whose listed fields ("F1" or "F1,F2", labels or numbers) equal
  // those of the buffer, and gets it. No match fails with kEntryNotFound; an unknown field
  // with kBadNameError.
  bool GetByKey(std::string_view fields);
  // Writes the buffer back to the current entry.
  bool Put();
  // Removes the current entry; afterwards there is none until the next Get or Add.
  bool Delete();
  // Removes every entry.
  void Free();

  int Records() const { return static_cast<int>(rows_.size()); }
  // A number for the entries as they are: every change (added, put, deleted, freed, sorted)
  // gives a new one, and no other queue ever has it, so that an equal number means the same
  // queue with the same entries, even after one queue gave way to another at its address.
  std::uint64_t Changes() const { return changes_; }
  // Position of the current entry, 0 when there is none.
  int Pointer() const { return current_; }

  // Stable sort by one or more fields: "+F1,-F2" (a leading '-' sorts that field
  // descending; '+' or nothing ascending). Values compare like AnyRef::Compare. The
  // current entry stays current at its new position. An unknown field fails with
  // kBadNameError and leaves the order unchanged.
  bool Sort(std::string_view order);

  // Read-only bytes of the entry at the position, nullptr when out of range.
  const void* Row(int position) const;
  // A field of the entry at the position as text, "" when out of range.
  std::string RowText(int position, int field) const;

 private:
  struct SortKey {
    int field = 0;
    bool descending = false;
  };
  // Parses "+F1,-F2" into keys; false for an unknown field.
  bool ParseFields(std::string_view spec, std::vector<SortKey>& keys) const;
  AnyRef RowField(const std::vector<char>& row, int field) const;
  // A copy of the buffer, in the storage of a row freed before when there is one: a list's
  // page is freed and refilled on every scroll.
  std::vector<char> NewRow();
  void Spare(std::vector<char> row);
  void Changed();

  static constexpr std::size_t kSpareRows = 64;

  RecordLayout layout_;
  std::vector<char> buffer_;
  std::vector<std::vector<char>> rows_;
  std::vector<std::vector<char>> spare_;
  int current_ = 0;
  std::uint64_t changes_ = 0;
};

}  // namespace rt
