// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A list of pairs of references to variables, so that a group of fields can be compared,
// copied or cleared in one call without knowing their types. The list never owns the
// variables it refers to.

#include <memory>
#include <vector>

#include "framework/data/FieldPair.h"
#include "platform/runtime/values/AnyRef.h"

using FieldPairList = std::vector<std::unique_ptr<FieldPair>>;

class FieldPairs {
 public:
  std::unique_ptr<FieldPairList> List;

  FieldPairs() = default;
  FieldPairs(const FieldPairs&) = delete;
  FieldPairs& operator=(const FieldPairs&) = delete;
  virtual ~FieldPairs() = default;

  // Appends a pair referring to `left` and `right`.
  virtual void AddPair(const rt::AnyRef& left, const rt::AnyRef& right);

  // Kill, then a new empty list.
  void Init();
  // Drops every reference and the list.
  void Kill();
  // True when every Left equals its Right (exact comparison); true for an empty list.
  bool Equal() const;
  void ClearLeft();
  void ClearRight();
  void AssignLeftToRight();
  void AssignRightToLeft();

 protected:
  FieldPairList& Entries();
};
