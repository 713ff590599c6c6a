// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One comparison of a bound field with a literal, as found in a filter that is a plain
// conjunction of such comparisons (Expression::Conjunction). A store driver can turn a list
// of terms into an SQL condition that selects exactly the rows the evaluator would:
// - text comparisons are byte-wise with trailing blanks ignored (a right-trimming collation);
// - `fold` says the field was written as UPPER(field) or LOWER(field) (ASCII case only);
// - `Like` ("~=") holds when the field, trailing blanks removed and upper-cased, begins with
//   the literal, trailing blanks removed and upper-cased.
// The literal's kind matches the field: a number for a numeric field without fold, a text
// otherwise.

#include <string>

#include "platform/runtime/expressions/ExpressionValue.h"
#include "platform/runtime/values/AnyRef.h"

namespace rt {

enum class CompareOp { Equal, NotEqual, Less, Greater, LessEqual, GreaterEqual, Like };

enum class CaseFold { None, Upper, Lower };

struct ExpressionTerm {
  std::string label;  // the field's bound name, upper-cased
  AnyRef field;       // the field's binding at the time of the analysis
  CaseFold fold = CaseFold::None;
  CompareOp op = CompareOp::Equal;
  ExpressionValue literal;
};

}  // namespace rt
