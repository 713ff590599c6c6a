// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One entry of a field-pair list: references to a left and a right variable.

#include "platform/runtime/values/AnyRef.h"

struct FieldPair {
  rt::AnyRef Left;
  rt::AnyRef Right;

  FieldPair() = default;
  FieldPair(const rt::AnyRef& left, const rt::AnyRef& right) : Left(left), Right(right) {}
  virtual ~FieldPair() = default;
  FieldPair(const FieldPair&) = delete;
  FieldPair& operator=(const FieldPair&) = delete;
};
