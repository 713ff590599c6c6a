// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/data/FieldPairs.h"

void FieldPairs::AddPair(const rt::AnyRef& left, const rt::AnyRef& right) {
  Entries().push_back(std::make_unique<FieldPair>(left, right));
}

void FieldPairs::Init() {
  Kill();
  List = std::make_unique<FieldPairList>();
}

void FieldPairs::Kill() {
  List.reset();
}

FieldPairList& FieldPairs::Entries() {
  if (!List) List = std::make_unique<FieldPairList>();
  return *List;
}

bool FieldPairs::Equal() const {
  if (!List) return true;
  for (const auto& pair : *List) {
    if (pair->Left.Compare(pair->Right) != 0) return false;
  }
  return true;
}

void FieldPairs::ClearLeft() {
  if (!List) return;
  for (const auto& pair : *List)
    pair->Left.Clear();
}

void FieldPairs::ClearRight() {
  if (!List) return;
  for (const auto& pair : *List)
    pair->Right.Clear();
}

void FieldPairs::AssignLeftToRight() {
  if (!List) return;
  for (const auto& pair : *List)
    pair->Right.CopyFrom(pair->Left);
}

void FieldPairs::AssignRightToLeft() {
  if (!List) return;
  for (const auto& pair : *List)
    pair->Left.CopyFrom(pair->Right);
}
