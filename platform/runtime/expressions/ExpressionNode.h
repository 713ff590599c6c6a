// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A node of a parsed expression tree. Chains of the same binary operator level (AND, OR,
// + -, * / %, &) are kept flat, so long generated filters do not make deep trees.

#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/expressions/ExpressionTerm.h"
#include "platform/runtime/expressions/ExpressionValue.h"

namespace rt {

enum class ExpressionFunction {
  Upper,
  Lower,
  Sub,
  Left,
  Clip,
  InString,
  Format,
  Deformat,
  Len,
  Abs,
  Int,
  Val,
  Chr,
};

struct ExpressionNode {
  enum class Kind {
    Literal,  // `value`
    Name,     // `name` (upper-cased)
    Negate,   // - children[0]
    Not,      // NOT children[0]
    And,      // children[0] AND children[1] AND ...
    Or,       // children[0] OR children[1] OR ...
    Chain,    // children[0] ops[0] children[1] ops[1] ... with ops among + - * / % &
    Compare,  // children[0] `compare` children[1]
    Call,     // `function`(children...)
  };

  Kind kind = Kind::Literal;
  int position = 1;  // 1-based column where the node's text starts
  ExpressionValue value;
  std::string name;
  std::vector<char> ops;
  CompareOp compare = CompareOp::Equal;
  ExpressionFunction function = ExpressionFunction::Upper;
  std::vector<std::unique_ptr<ExpressionNode>> children;
};

}  // namespace rt
