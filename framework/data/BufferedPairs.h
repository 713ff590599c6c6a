// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Field pairs with a third value per pair: a private buffer that remembers a value. Every
// FieldPairs operation works unchanged on a buffered list.

#include "framework/data/BufferedPair.h"
#include "framework/data/FieldPairs.h"

class BufferedPairs : public FieldPairs {
 public:
  FieldPairList* RealList = nullptr;  // the same list as List, of buffered entries

  // Appends a pair whose buffer starts as a blank value of `right`'s type; the right
  // variable keeps its value.
  void AddPair(const rt::AnyRef& left, const rt::AnyRef& right) override;

  // Kill, then a new buffered list that is both RealList and List.
  void Init();
  void Kill();
  // Compared as upper-case text, so letter case is ignored. The buffer keeps the value last
  // assigned to it exactly, in the type of the variable it came from.
  bool EqualLeftBuffer() const;
  bool EqualRightBuffer() const;
  void AssignLeftToBuffer();
  void AssignRightToBuffer();
  void AssignBufferToLeft();
  void AssignBufferToRight();

 private:
  template <typename Fn>
  void ForEachBuffered(Fn&& fn) const;
};
