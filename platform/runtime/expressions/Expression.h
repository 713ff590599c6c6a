// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// platform/runtime/expressions: the expression parser and evaluator, the bindings of names to
// values it evaluates against, and views (ordered, filtered record sets over a file) with the
// cursor interface through which a driver serves them.
//
// A compiled expression: parsed once into a tree, then evaluated as often as needed (a
// view's filter, once per record) against the names bound at that moment.
//
// Operators, loosest binding first: OR; AND; NOT; comparisons = <> < > <= >= ~=; & (text
// concatenation); + -; * / %; prefix - and +. Comparisons give 1 or 0 and compare by value:
// two numbers numerically, a number with a text numerically when the text reads as a
// number, otherwise as texts, byte by byte with trailing blanks ignored. `a ~= b` holds when
// a, trailing blanks removed and upper-cased, begins with b treated the same way.
// Arithmetic reads texts as numbers (0 when they are not numbers).
//
// Functions: UPPER(s), LOWER(s); SUB(s, start [, length]) (start 1 is the first character,
// a negative start counts from the end); LEFT(s [, length]) (leading blanks moved to the
// end, then padded or cut to length); CLIP(s) (trailing blanks removed); INSTRING(sub, s
// [, step [, start]]) (searches s from `start` every `step` characters, backwards for a
// negative step, and gives (position - 1) / |step| + 1 of the match, 0 when there is none;
// with step 1 that is the position); FORMAT(value, picture) and DEFORMAT(text, picture);
// LEN(s); ABS(n); INT(n) (towards zero); VAL(s) (the code of the first character); CHR(n).
//
// A malformed text fails Compile with kExpressionSyntaxError and a message naming the
// fault and its column. Evaluation never fails hard: an unbound name reads as an empty
// text, a division or remainder by zero gives 0, and the evaluation reports
// kExpressionEvalError; Test is then false.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/expressions/Bindings.h"
#include "platform/runtime/expressions/ExpressionNode.h"
#include "platform/runtime/expressions/ExpressionTerm.h"
#include "platform/runtime/expressions/ExpressionValue.h"

namespace rt {

class Expression {
 public:
  Expression();
  ~Expression();
  Expression(Expression&&) noexcept;
  Expression& operator=(Expression&&) noexcept;
  Expression(const Expression&) = delete;
  Expression& operator=(const Expression&) = delete;

  // Parses `text`, replacing what was compiled before. Returns kNoError, or
  // kExpressionSyntaxError after setting the thread's runtime error to the message. A blank
  // text compiles to the empty expression, which every record passes.
  int Compile(std::string_view text);

  const std::string& Text() const { return text_; }
  // True after a successful Compile of a non-blank text.
  bool HasTree() const { return root_ != nullptr; }
  // The last Compile's message and 1-based column (empty and 0 after success).
  const std::string& ErrorMessage() const { return error_; }
  int ErrorPosition() const { return errorPosition_; }

  // Evaluates against the bindings. On failure sets the thread's runtime error to
  // kExpressionEvalError and stores that code in *error (kNoError otherwise). The empty or
  // failed expression evaluates to an empty text.
  ExpressionValue Evaluate(const Bindings& bindings, int* error = nullptr) const;
  ExpressionValue Evaluate(int* error = nullptr) const {
    return Evaluate(Bindings::Current(), error);
  }

  // A record filter's answer: the truth of the value; true for the empty expression, false
  // for one that failed to compile or to evaluate.
  bool Test(const Bindings& bindings, int* error = nullptr) const;
  bool Test(int* error = nullptr) const { return Test(Bindings::Current(), error); }

  // When the expression is a conjunction (joined by AND, in any parentheses) of comparisons
  // of a bound field, or UPPER/LOWER of one, with a constant, whose result an SQL condition
  // can reproduce exactly, gives those comparisons (the field on the left); an empty list
  // for the empty expression. Otherwise nothing.
  std::optional<std::vector<ExpressionTerm>> Conjunction(const Bindings& bindings) const;
  // The comparisons of that kind among the parts joined by AND at the top of the
  // expression, the other parts passed over: every record the expression accepts meets
  // them all. Empty when there are none.
  std::vector<ExpressionTerm> ConjunctionTerms(const Bindings& bindings) const;

 private:
  std::string text_;
  std::unique_ptr<ExpressionNode> root_;
  std::string error_;
  int errorPosition_ = 0;
  bool failed_ = false;
};

// `text` as a string literal of the expression language: in single quotes, each quote doubled.
std::string QuotedLiteral(std::string_view text);

}  // namespace rt
