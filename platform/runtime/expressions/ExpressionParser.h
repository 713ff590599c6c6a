// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Parses expression text into a tree. Grammar, loosest binding first:
//   or      := and { OR and }
//   and     := not { AND not }
//   not     := NOT not | compare
//   compare := concat [ ( = | <> | < | > | <= | >= | ~= ) concat ]
//   concat  := sum { & sum }
//   sum     := product { ( + | - ) product }
//   product := unary { ( * | / | % ) unary }
//   unary   := ( - | + ) unary | primary
//   primary := number | 'text' | @picture | name | function ( args ) | ( or )
// Keywords and function names are matched without regard to case. Names are letters, digits,
// "_" and ":" ("DEM:FileName"), starting with a letter or "_". A picture token ("@n-14",
// "@n$,12.2", "@n(10.2)") runs up to a blank or a ")" that closes no "(" of its own and stands
// for its own text; so a picture is the last argument of a call or followed by a blank.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/expressions/ExpressionNode.h"

namespace rt {

class ExpressionParser {
 public:
  // Deepest nesting of parentheses, calls and prefix operators accepted.
  static constexpr int kMaxDepth = 100;

  explicit ExpressionParser(std::string_view text) : text_(text) {}

  // The tree, or nullptr when the text is malformed (see ErrorMessage and ErrorPosition).
  // A blank text gives nullptr without an error.
  std::unique_ptr<ExpressionNode> Parse();

  bool Failed() const { return !error_.empty(); }
  const std::string& ErrorMessage() const { return error_; }
  int ErrorPosition() const { return errorPosition_; }

 private:
  enum class TokenKind { Number, Text, Picture, Name, Operator, LeftParen, RightParen, Comma, End };
  struct Token {
    TokenKind kind = TokenKind::End;
    int position = 1;
    std::string text;  // name (upper-cased), text contents, picture or operator
    double number = 0;
  };

  bool Tokenize();
  // The number or quoted text token starting at text_[i]; i moves past it.
  bool ReadNumber(std::size_t& i, Token& token);
  bool ReadText(std::size_t& i, Token& token);
  bool Fail(int position, std::string message);
  const Token& Peek() const { return tokens_[next_]; }
  bool IsKeyword(const Token& token, std::string_view keyword) const;
  bool IsOperator(const Token& token, std::string_view op) const;
  bool Enter(int position);

  std::unique_ptr<ExpressionNode> ParseOr();
  std::unique_ptr<ExpressionNode> ParseAnd();
  std::unique_ptr<ExpressionNode> ParseNot();
  std::unique_ptr<ExpressionNode> ParseCompare();
  std::unique_ptr<ExpressionNode> ParseChain(int level);
  std::unique_ptr<ExpressionNode> ParseUnary();
  std::unique_ptr<ExpressionNode> ParsePrimary();
  std::unique_ptr<ExpressionNode> ParseCall(const Token& nameToken);

  std::string_view text_;
  std::vector<Token> tokens_;
  std::size_t next_ = 0;
  int depth_ = 0;
  std::string error_;
  int errorPosition_ = 0;
};

}  // namespace rt
