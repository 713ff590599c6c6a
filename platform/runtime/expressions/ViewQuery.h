// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a view asks of a file driver: the order (fields, directions, case folding) and the
// conditions of its filter that the driver may check itself. The view still tests every
// record against its whole filter, so a driver may apply any subset of the conditions, as
// long as each one it applies selects exactly the records the expression evaluator would.

#include <vector>

#include "platform/runtime/expressions/ExpressionTerm.h"

namespace rt {

struct ViewOrderComponent {
  int field = 0;  // 1-based field number in the file's record layout
  bool ascending = true;
  CaseFold fold = CaseFold::None;  // the order names UPPER(field) or LOWER(field)
};

struct ViewCondition {
  int field = 0;  // 1-based field number
  CaseFold fold = CaseFold::None;
  CompareOp op = CompareOp::Equal;
  ExpressionValue literal;
};

struct ViewQuery {
  std::vector<ViewOrderComponent> order;  // empty: record order
  std::vector<ViewCondition> conditions;  // all must hold
};

}  // namespace rt
