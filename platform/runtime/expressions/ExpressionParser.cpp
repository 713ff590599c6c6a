// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/expressions/ExpressionParser.h"

#include <array>

#include "platform/runtime/expressions/Bindings.h"

namespace rt {

namespace {

struct FunctionInfo {
  std::string_view name;
  ExpressionFunction function;
  int minArgs;
  int maxArgs;
};

constexpr std::array<FunctionInfo, 13> kFunctions = {{
    {"UPPER", ExpressionFunction::Upper, 1, 1},
    {"LOWER", ExpressionFunction::Lower, 1, 1},
    {"SUB", ExpressionFunction::Sub, 2, 3},
    {"LEFT", ExpressionFunction::Left, 1, 2},
    {"CLIP", ExpressionFunction::Clip, 1, 1},
    {"INSTRING", ExpressionFunction::InString, 2, 4},
    {"FORMAT", ExpressionFunction::Format, 2, 2},
    {"DEFORMAT", ExpressionFunction::Deformat, 2, 2},
    {"LEN", ExpressionFunction::Len, 1, 1},
    {"ABS", ExpressionFunction::Abs, 1, 1},
    {"INT", ExpressionFunction::Int, 1, 1},
    {"VAL", ExpressionFunction::Val, 1, 1},
    {"CHR", ExpressionFunction::Chr, 1, 1},
}};

bool IsNameStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsNameChar(char c) {
  return IsNameStart(c) || (c >= '0' && c <= '9') || c == ':';
}
bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string Printable(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) return std::string("'") + c + "'";
  static const char kHex[] = "0123456789ABCDEF";
  return std::string("byte 0x") + kHex[u >> 4] + kHex[u & 15];
}

// Keeps the parser's nesting count balanced on every way out of a nested rule.
class DepthGuard {
 public:
  explicit DepthGuard(int& depth) : depth_(depth) { ++depth_; }
  ~DepthGuard() { --depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int& depth_;
};

std::unique_ptr<ExpressionNode> MakeNode(ExpressionNode::Kind kind, int position) {
  auto node = std::make_unique<ExpressionNode>();
  node->kind = kind;
  node->position = position;
  return node;
}

}  // namespace

std::unique_ptr<ExpressionNode> ExpressionParser::Parse() {
  tokens_.clear();
  next_ = 0;
  depth_ = 0;
  error_.clear();
  errorPosition_ = 0;
  if (!Tokenize()) return nullptr;
  if (Peek().kind == TokenKind::End) return nullptr;  // blank: no expression
  auto root = ParseOr();
  if (!root) return nullptr;
  if (Peek().kind != TokenKind::End) {
    const Token& t = Peek();
    Fail(t.position, t.kind == TokenKind::RightParen
                         ? "unbalanced ')'"
                         : "unexpected '" + t.text + "' after the end of the expression");
    return nullptr;
  }
  return root;
}

bool ExpressionParser::Fail(int position, std::string message) {
  if (error_.empty()) {
    errorPosition_ = position;
    error_ = "Expression syntax error at column " + std::to_string(position) + ": " + message;
  }
  return false;
}

bool ExpressionParser::ReadNumber(std::size_t& i, Token& token) {
  const std::size_t n = text_.size();
  std::size_t start = i;
  while (i < n && IsDigit(text_[i]))
    ++i;
  if (i < n && text_[i] == '.') {
    ++i;
    while (i < n && IsDigit(text_[i]))
      ++i;
  }
  if (i < n && (text_[i] == 'e' || text_[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < n && (text_[j] == '+' || text_[j] == '-')) ++j;
    if (j < n && IsDigit(text_[j])) {
      while (j < n && IsDigit(text_[j]))
        ++j;
      i = j;
    }
  }
  if (i < n && (IsNameChar(text_[i]) || text_[i] == '.')) {
    return Fail(token.position,
                "malformed number '" + std::string(text_.substr(start, i - start + 1)) + "'");
  }
  token.kind = TokenKind::Number;
  token.text = std::string(text_.substr(start, i - start));
  if (!ExpressionValue::ParseNumber(token.text, token.number)) {
    return Fail(token.position, "number '" + token.text + "' is out of range");
  }
  return true;
}

bool ExpressionParser::ReadText(std::size_t& i, Token& token) {
  const std::size_t n = text_.size();
  ++i;
  token.kind = TokenKind::Text;
  bool closed = false;
  while (i < n) {
    if (text_[i] == '\'') {
      if (i + 1 < n && text_[i + 1] == '\'') {
        token.text += '\'';
        i += 2;
        continue;
      }
      ++i;
      closed = true;
      break;
    }
    token.text += text_[i++];
  }
  if (!closed) return Fail(token.position, "string not closed by a quote");
  return true;
}

bool ExpressionParser::Tokenize() {
  const std::size_t n = text_.size();
  std::size_t i = 0;
  while (true) {
    while (i < n && (text_[i] == ' ' || text_[i] == '\t' || text_[i] == '\r' || text_[i] == '\n')) {
      ++i;
    }
    Token token;
    token.position = static_cast<int>(i) + 1;
    if (i >= n) {
      tokens_.push_back(token);
      return true;
    }
    char c = text_[i];
    if (IsDigit(c) || (c == '.' && i + 1 < n && IsDigit(text_[i + 1]))) {
      if (!ReadNumber(i, token)) return false;
    } else if (c == '\'') {
      if (!ReadText(i, token)) return false;
    } else if (c == '@') {
      // Pictures hold "," and "(" ")" of their own ("@n$,12.2", "@n(10.2)"): the token runs
      // to a blank or to a ")" that closes no "(" of the picture.
      std::size_t start = i++;
      int open = 0;
      while (i < n && text_[i] != ' ' && text_[i] != '\t' && (text_[i] != ')' || open > 0)) {
        if (text_[i] == '(') ++open;
        if (text_[i] == ')') --open;
        ++i;
      }
      if (i - start == 1) return Fail(token.position, "picture expected after '@'");
      token.kind = TokenKind::Picture;
      token.text = std::string(text_.substr(start, i - start));
    } else if (IsNameStart(c)) {
      std::size_t start = i;
      while (i < n && IsNameChar(text_[i]))
        ++i;
      token.kind = TokenKind::Name;
      token.text = Bindings::UpperName(text_.substr(start, i - start));
    } else if (c == '(') {
      token.kind = TokenKind::LeftParen;
      token.text = "(";
      ++i;
    } else if (c == ')') {
      token.kind = TokenKind::RightParen;
      token.text = ")";
      ++i;
    } else if (c == ',') {
      token.kind = TokenKind::Comma;
      token.text = ",";
      ++i;
    } else {
      token.kind = TokenKind::Operator;
      char d = i + 1 < n ? text_[i + 1] : '\0';
      if ((c == '<' && (d == '>' || d == '=')) || (c == '>' && d == '=') ||
          (c == '~' && d == '=')) {
        token.text = std::string{c, d};
        i += 2;
      } else if (c == '=' || c == '<' || c == '>' || c == '+' || c == '-' || c == '*' || c == '/' ||
                 c == '%' || c == '&') {
        token.text = std::string{c};
        ++i;
      } else if (c == '~') {
        return Fail(token.position, "'~' must be followed by '='");
      } else {
        return Fail(token.position, "unexpected character " + Printable(c));
      }
    }
    tokens_.push_back(std::move(token));
  }
}

bool ExpressionParser::IsKeyword(const Token& token, std::string_view keyword) const {
  return token.kind == TokenKind::Name && token.text == keyword;
}

bool ExpressionParser::IsOperator(const Token& token, std::string_view op) const {
  return token.kind == TokenKind::Operator && token.text == op;
}

bool ExpressionParser::Enter(int position) {
  if (depth_ > kMaxDepth) {
    return Fail(position,
                "expression nested more than " + std::to_string(kMaxDepth) + " levels deep");
  }
  return true;
}

std::unique_ptr<ExpressionNode> ExpressionParser::ParseOr() {
  auto first = ParseAnd();
  if (!first || !IsKeyword(Peek(), "OR")) return first;
  auto node = MakeNode(ExpressionNode::Kind::Or, first->position);
  node->children.push_back(std::move(first));
  while (IsKeyword(Peek(), "OR")) {
    ++next_;
    auto operand = ParseAnd();
    if (!operand) return nullptr;
    node->children.push_back(std::move(operand));
  }
  return node;
}

std::unique_ptr<ExpressionNode> ExpressionParser::ParseAnd() {
  auto first = ParseNot();
  if (!first || !IsKeyword(Peek(), "AND")) return first;
  auto node = MakeNode(ExpressionNode::Kind::And, first->position);
  node->children.push_back(std::move(first));
  while (IsKeyword(Peek(), "AND")) {
    ++next_;
    auto operand = ParseNot();
    if (!operand) return nullptr;
    node->children.push_back(std::move(operand));
  }
  return node;
}

std::unique_ptr<ExpressionNode> ExpressionParser::ParseNot() {
  if (!IsKeyword(Peek(), "NOT")) return ParseCompare();
  int position = Peek().position;
  ++next_;
  DepthGuard guard(depth_);
  if (!Enter(position)) return nullptr;
  auto operand = ParseNot();
  if (!operand) return nullptr;
  auto node = MakeNode(ExpressionNode::Kind::Not, position);
  node->children.push_back(std::move(operand));
  return node;
}

std::unique_ptr<ExpressionNode> ExpressionParser::ParseCompare() {
  auto left = ParseChain(0);
  if (!left) return nullptr;
  static constexpr std::array<std::pair<std::string_view, CompareOp>, 7> kOps = {{
      {"=", CompareOp::Equal},
      {"<>", CompareOp::NotEqual},
      {"<", CompareOp::Less},
      {">", CompareOp::Greater},
      {"<=", CompareOp::LessEqual},
      {">=", CompareOp::GreaterEqual},
      {"~=", CompareOp::Like},
  }};
  for (const auto& [text, op] : kOps) {
    if (!IsOperator(Peek(), text)) continue;
    int position = Peek().position;
    ++next_;
    auto right = ParseChain(0);
    if (!right) return nullptr;
    for (const auto& [other, unused] : kOps) {
      if (IsOperator(Peek(), other)) {
        Fail(Peek().position, "comparisons cannot be chained; use AND");
        return nullptr;
      }
    }
    auto node = MakeNode(ExpressionNode::Kind::Compare, position);
    node->compare = op;
    node->children.push_back(std::move(left));
    node->children.push_back(std::move(right));
    return node;
  }
  return left;
}

std::unique_ptr<ExpressionNode> ExpressionParser::ParseChain(int level) {
  static constexpr std::array<std::string_view, 3> kLevelOps = {"&", "+-", "*/%"};
  auto operand = [&] { return level < 2 ? ParseChain(level + 1) : ParseUnary(); };
  auto isLevelOp = [&](const Token& t) {
    return t.kind == TokenKind::Operator && t.text.size() == 1 &&
           kLevelOps[level].find(t.text[0]) != std::string_view::npos;
  };
  auto first = operand();
  if (!first || !isLevelOp(Peek())) return first;
  auto node = MakeNode(ExpressionNode::Kind::Chain, first->position);
  node->children.push_back(std::move(first));
  while (isLevelOp(Peek())) {
    node->ops.push_back(Peek().text[0]);
    ++next_;
    auto next = operand();
    if (!next) return nullptr;
    node->children.push_back(std::move(next));
  }
  return node;
}

std::unique_ptr<ExpressionNode> ExpressionParser::ParseUnary() {
  const Token& t = Peek();
  if (!IsOperator(t, "-") && !IsOperator(t, "+")) return ParsePrimary();
  bool negate = t.text == "-";
  int position = t.position;
  ++next_;
  DepthGuard guard(depth_);
  if (!Enter(position)) return nullptr;
  auto operand = ParseUnary();
  if (!operand || !negate) return operand;
  auto node = MakeNode(ExpressionNode::Kind::Negate, position);
  node->children.push_back(std::move(operand));
  return node;
}

std::unique_ptr<ExpressionNode> ExpressionParser::ParsePrimary() {
  Token t = Peek();
  switch (t.kind) {
    case TokenKind::Number: {
      ++next_;
      auto node = MakeNode(ExpressionNode::Kind::Literal, t.position);
      // Held exactly when it fits a decimal, so 0.1 + 0.2 is 0.3.
      const auto exact = Decimal::Parse(t.text);
      node->value = exact && exact->Valid() ? ExpressionValue::FromDecimal(*exact)
                                            : ExpressionValue::FromNumber(t.number);
      return node;
    }
    case TokenKind::Text:
    case TokenKind::Picture: {
      ++next_;
      auto node = MakeNode(ExpressionNode::Kind::Literal, t.position);
      node->value = ExpressionValue::FromText(std::move(t.text));
      return node;
    }
    case TokenKind::Name: {
      if (t.text == "AND" || t.text == "OR" || t.text == "NOT") {
        Fail(t.position, "operand expected before " + t.text);
        return nullptr;
      }
      ++next_;
      if (Peek().kind == TokenKind::LeftParen) return ParseCall(t);
      auto node = MakeNode(ExpressionNode::Kind::Name, t.position);
      node->name = std::move(t.text);
      return node;
    }
    case TokenKind::LeftParen: {
      ++next_;
      DepthGuard guard(depth_);
      if (!Enter(t.position)) return nullptr;
      auto inner = ParseOr();
      if (!inner) return nullptr;
      if (Peek().kind != TokenKind::RightParen) {
        Fail(Peek().position,
             "')' expected to close the '(' at column " + std::to_string(t.position));
        return nullptr;
      }
      ++next_;
      return inner;
    }
    case TokenKind::End:
      Fail(t.position, "unexpected end of expression; operand expected");
      return nullptr;
    default:
      Fail(t.position, "operand expected before '" + t.text + "'");
      return nullptr;
  }
}

std::unique_ptr<ExpressionNode> ExpressionParser::ParseCall(const Token& nameToken) {
  const FunctionInfo* info = nullptr;
  for (const FunctionInfo& f : kFunctions) {
    if (f.name == nameToken.text) info = &f;
  }
  if (info == nullptr) {
    Fail(nameToken.position, "unknown function " + nameToken.text);
    return nullptr;
  }
  int open = Peek().position;
  ++next_;  // '('
  DepthGuard guard(depth_);
  if (!Enter(open)) return nullptr;
  auto node = MakeNode(ExpressionNode::Kind::Call, nameToken.position);
  node->function = info->function;
  if (Peek().kind != TokenKind::RightParen) {
    while (true) {
      auto arg = ParseOr();
      if (!arg) return nullptr;
      node->children.push_back(std::move(arg));
      if (Peek().kind == TokenKind::Comma) {
        ++next_;
        continue;
      }
      if (Peek().kind == TokenKind::RightParen) break;
      Fail(Peek().position, "',' or ')' expected in the arguments of " + nameToken.text);
      return nullptr;
    }
  }
  ++next_;  // ')'
  int count = static_cast<int>(node->children.size());
  if (count < info->minArgs || count > info->maxArgs) {
    std::string expected = info->minArgs == info->maxArgs ? std::to_string(info->minArgs)
                                                          : std::to_string(info->minArgs) + " to " +
                                                                std::to_string(info->maxArgs);
    Fail(nameToken.position, nameToken.text + " takes " + expected + " argument" +
                                 (info->maxArgs == 1 ? "" : "s") + ", not " +
                                 std::to_string(count));
    return nullptr;
  }
  return node;
}

}  // namespace rt
