// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/expressions/Expression.h"

#include <cmath>
#include <cstdint>

#include "platform/runtime/expressions/ExpressionParser.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Picture.h"
#include "platform/runtime/values/Text.h"

namespace rt {

namespace {

// Longest text a function may build (LEFT padding, for instance); longer requests fail.
constexpr std::size_t kMaxBuiltText = 1 << 20;

// A count or position argument as an integer, kept well inside the range of int64.
std::int64_t ToIndex(double value) {
  constexpr double kLimit = 1e15;
  if (!(value > -kLimit)) return static_cast<std::int64_t>(-kLimit);
  if (!(value < kLimit)) return static_cast<std::int64_t>(kLimit);
  return static_cast<std::int64_t>(std::trunc(value));
}

bool Like(const ExpressionValue& a, const ExpressionValue& b) {
  std::string left = Upper(TrimRight(a.Text()));
  std::string right = Upper(TrimRight(b.Text()));
  return left.compare(0, right.size(), right) == 0 && left.size() >= right.size();
}

class Evaluator {
 public:
  explicit Evaluator(const Bindings& bindings) : bindings_(bindings) {}

  ExpressionValue Eval(const ExpressionNode& node);
  int Error() const { return error_; }
  const std::string& Message() const { return message_; }

 private:
  ExpressionValue Fail(const ExpressionNode& node, const std::string& what, ExpressionValue result);
  ExpressionValue Call(const ExpressionNode& node);
  ExpressionValue Chain(const ExpressionNode& node);

  const Bindings& bindings_;
  int error_ = kNoError;
  std::string message_;
};

ExpressionValue Evaluator::Fail(const ExpressionNode& node, const std::string& what,
                                ExpressionValue result) {
  if (error_ == kNoError) {
    error_ = kExpressionEvalError;
    message_ =
        "Expression evaluation error at column " + std::to_string(node.position) + ": " + what;
  }
  return result;
}

ExpressionValue Evaluator::Eval(const ExpressionNode& node) {
  using Kind = ExpressionNode::Kind;
  switch (node.kind) {
    case Kind::Literal:
      return node.value;
    case Kind::Name: {
      const AnyRef* ref = bindings_.FindUpper(node.name);
      if (ref == nullptr) {
        return Fail(node, "unknown name " + node.name, ExpressionValue::FromText(""));
      }
      if (ref->IsText()) return ExpressionValue::FromText(ref->Text());
      // A decimal field is exact; a real one is a double like any other.
      if (ref->Type() == FieldType::Decimal) {
        const Decimal value = ref->Value();
        if (value.Valid()) return ExpressionValue::FromDecimal(value);
      }
      return ExpressionValue::FromNumber(ref->Number());
    }
    case Kind::Negate: {
      const ExpressionValue operand = Eval(*node.children[0]);
      if (operand.IsNumber()) {
        if (const auto exact = operand.Exact())
          return ExpressionValue::FromDecimal(exact->Negated());
      }
      return ExpressionValue::FromNumber(-operand.Number());
    }
    case Kind::Not:
      return ExpressionValue::FromBool(!Eval(*node.children[0]).Truth());
    case Kind::And:
      for (const auto& child : node.children) {
        if (!Eval(*child).Truth()) return ExpressionValue::FromBool(false);
      }
      return ExpressionValue::FromBool(true);
    case Kind::Or:
      for (const auto& child : node.children) {
        if (Eval(*child).Truth()) return ExpressionValue::FromBool(true);
      }
      return ExpressionValue::FromBool(false);
    case Kind::Chain:
      return Chain(node);
    case Kind::Compare: {
      ExpressionValue a = Eval(*node.children[0]);
      ExpressionValue b = Eval(*node.children[1]);
      if (node.compare == CompareOp::Like) return ExpressionValue::FromBool(Like(a, b));
      int c = a.Compare(b);
      switch (node.compare) {
        case CompareOp::Equal:
          return ExpressionValue::FromBool(c == 0);
        case CompareOp::NotEqual:
          return ExpressionValue::FromBool(c != 0);
        case CompareOp::Less:
          return ExpressionValue::FromBool(c < 0);
        case CompareOp::Greater:
          return ExpressionValue::FromBool(c > 0);
        case CompareOp::LessEqual:
          return ExpressionValue::FromBool(c <= 0);
        case CompareOp::GreaterEqual:
          return ExpressionValue::FromBool(c >= 0);
        case CompareOp::Like:
          break;
      }
      return ExpressionValue::FromBool(false);
    }
    case Kind::Call:
      return Call(node);
  }
  return ExpressionValue::FromText("");
}

// The exact result of a + - * or / step on two numbers known exactly, when there is one: a
// quotient only when it has a finite decimal form that fits.
std::optional<Decimal> ExactStep(const ExpressionValue& left, const ExpressionValue& right,
                                 char op) {
  if (!left.IsNumber() || !right.IsNumber()) return std::nullopt;
  const auto a = left.Exact();
  const auto b = a ? right.Exact() : std::nullopt;
  if (!a || !b) return std::nullopt;
  Decimal r = Decimal::Invalid();
  switch (op) {
    case '+':
      r = *a + *b;
      break;
    case '-':
      r = *a - *b;
      break;
    case '*':
      r = *a * *b;
      // A product rounded to fit is no longer exact.
      if (r.Valid() && a->Places() + b->Places() > Decimal::kMaxPlaces) return std::nullopt;
      break;
    case '/':
      if (b->IsZero()) return std::nullopt;
      r = a->Divide(*b, Decimal::kMaxPlaces);
      if (!r.Valid() || r.Multiply(*b).Compare(*a) != 0) return std::nullopt;
      r = r.Normalized();
      break;
    default:
      return std::nullopt;
  }
  if (!r.Valid()) return std::nullopt;
  return r;
}

ExpressionValue Evaluator::Chain(const ExpressionNode& node) {
  ExpressionValue value = Eval(*node.children[0]);
  for (std::size_t i = 0; i < node.ops.size(); ++i) {
    const ExpressionNode& rightNode = *node.children[i + 1];
    ExpressionValue right = Eval(rightNode);
    char op = node.ops[i];
    if (op == '&') {
      value.AppendText(right.Text());
      continue;
    }
    if (const auto exact = ExactStep(value, right, op)) {
      value = ExpressionValue::FromDecimal(*exact);
      continue;
    }
    double a = value.Number();
    double b = right.Number();
    double r = 0;
    switch (op) {
      case '+':
        r = a + b;
        break;
      case '-':
        r = a - b;
        break;
      case '*':
        r = a * b;
        break;
      case '/':
      case '%':
        if (b == 0) {
          value = Fail(rightNode, op == '/' ? "division by zero" : "remainder by zero",
                       ExpressionValue::FromNumber(0));
          continue;
        }
        r = op == '/' ? a / b : std::fmod(a, b);
        break;
      default:
        break;
    }
    if (!std::isfinite(r)) {
      value = Fail(rightNode, "number out of range", ExpressionValue::FromNumber(0));
      continue;
    }
    value = ExpressionValue::FromNumber(r);
  }
  return value;
}

ExpressionValue Evaluator::Call(const ExpressionNode& node) {
  std::vector<ExpressionValue> args;
  args.reserve(node.children.size());
  for (const auto& child : node.children)
    args.push_back(Eval(*child));
  auto text = [&](std::size_t i) { return args[i].Text(); };
  auto integer = [&](std::size_t i, std::int64_t fallback) {
    return i < args.size() ? ToIndex(args[i].Number()) : fallback;
  };
  switch (node.function) {
    case ExpressionFunction::Upper:
      return ExpressionValue::FromText(Upper(text(0)));
    case ExpressionFunction::Lower:
      return ExpressionValue::FromText(Lower(text(0)));
    case ExpressionFunction::Clip:
      return ExpressionValue::FromText(std::string(TrimRight(text(0))));
    case ExpressionFunction::Sub: {
      std::string s = text(0);
      std::int64_t size = static_cast<std::int64_t>(s.size());
      std::int64_t start = integer(1, 1);
      std::int64_t length = integer(2, size);
      std::int64_t index = start > 0 ? start - 1 : (start < 0 ? size + start : 0);
      if (index < 0) index = 0;
      if (index >= size || length <= 0) return ExpressionValue::FromText("");
      if (length > size - index) length = size - index;
      return ExpressionValue::FromText(
          s.substr(static_cast<std::size_t>(index), static_cast<std::size_t>(length)));
    }
    case ExpressionFunction::Left: {
      std::string s = text(0);
      std::size_t lead = s.find_first_not_of(' ');
      if (lead == std::string::npos) lead = s.size();
      std::string result = s.substr(lead) + std::string(lead, ' ');
      if (args.size() > 1) {
        std::int64_t length = integer(1, 0);
        if (length < 0) length = 0;
        if (static_cast<std::uint64_t>(length) > kMaxBuiltText) {
          return Fail(node, "LEFT length too large", ExpressionValue::FromText(result));
        }
        result.resize(static_cast<std::size_t>(length), ' ');
      }
      return ExpressionValue::FromText(std::move(result));
    }
    case ExpressionFunction::InString: {
      std::string sub = text(0);
      std::string s = text(1);
      std::int64_t step = integer(2, 1);
      std::int64_t start = integer(3, 1);
      if (step == 0) return Fail(node, "INSTRING step is 0", ExpressionValue::FromNumber(0));
      std::int64_t size = static_cast<std::int64_t>(s.size());
      std::int64_t subSize = static_cast<std::int64_t>(sub.size());
      std::int64_t last = size - subSize + 1;  // last position where sub fits
      std::int64_t stride = step < 0 ? -step : step;
      auto matches = [&](std::int64_t p) {
        return s.compare(static_cast<std::size_t>(p - 1), sub.size(), sub) == 0;
      };
      // The 1-based number of the stride-wide piece starting at position p.
      auto index = [&](std::int64_t p) { return (p - 1) / stride + 1; };
      if (step > 0) {
        for (std::int64_t p = start < 1 ? 1 : start; p <= last; p += step) {
          if (matches(p)) return ExpressionValue::FromNumber(static_cast<double>(index(p)));
        }
      } else {
        for (std::int64_t p = start > last ? last : start; p >= 1; p += step) {
          if (matches(p)) return ExpressionValue::FromNumber(static_cast<double>(index(p)));
        }
      }
      return ExpressionValue::FromNumber(0);
    }
    case ExpressionFunction::Format:
    case ExpressionFunction::Deformat:
      return ExpressionValue::FromText(node.function == ExpressionFunction::Format
                                           ? FormatPicture(text(0), text(1))
                                           : DeformatPicture(text(0), text(1)));
    case ExpressionFunction::Len:
      return ExpressionValue::FromNumber(static_cast<double>(text(0).size()));
    case ExpressionFunction::Abs:
      if (const auto exact = args[0].Exact()) return ExpressionValue::FromDecimal(exact->Abs());
      return ExpressionValue::FromNumber(std::fabs(args[0].Number()));
    case ExpressionFunction::Int:
      if (const auto exact = args[0].Exact()) {
        return ExpressionValue::FromDecimal(Decimal(exact->ToInteger()));
      }
      return ExpressionValue::FromNumber(std::trunc(args[0].Number()));
    case ExpressionFunction::Val: {
      std::string s = text(0);
      return ExpressionValue::FromNumber(s.empty() ? 0 : static_cast<unsigned char>(s[0]));
    }
    case ExpressionFunction::Chr: {
      double n = args[0].Number();
      if (!(n >= 0 && n < 256)) {
        return Fail(node, "CHR code outside 0 to 255", ExpressionValue::FromText(""));
      }
      return ExpressionValue::FromText(std::string(1, static_cast<char>(static_cast<int>(n))));
    }
  }
  return ExpressionValue::FromText("");
}

bool HasNames(const ExpressionNode& node) {
  if (node.kind == ExpressionNode::Kind::Name) return true;
  for (const auto& child : node.children) {
    if (HasNames(*child)) return true;
  }
  return false;
}

// The field side of a pushable comparison: a bound name, or UPPER/LOWER of one.
bool FieldSide(const ExpressionNode& node, const Bindings& bindings, ExpressionTerm& term) {
  const ExpressionNode* name = &node;
  term.fold = CaseFold::None;
  if (node.kind == ExpressionNode::Kind::Call &&
      (node.function == ExpressionFunction::Upper || node.function == ExpressionFunction::Lower)) {
    term.fold = node.function == ExpressionFunction::Upper ? CaseFold::Upper : CaseFold::Lower;
    name = node.children[0].get();
  }
  if (name->kind != ExpressionNode::Kind::Name) return false;
  const AnyRef* ref = bindings.FindUpper(name->name);
  if (ref == nullptr) return false;
  term.label = name->name;
  term.field = *ref;
  return true;
}

// A constant operand: no names, evaluates without error.
bool ConstantSide(const ExpressionNode& node, ExpressionValue& value) {
  if (HasNames(node)) return false;
  Bindings none;
  Evaluator evaluator(none);
  value = evaluator.Eval(node);
  return evaluator.Error() == kNoError;
}

CompareOp Mirror(CompareOp op) {
  switch (op) {
    case CompareOp::Less:
      return CompareOp::Greater;
    case CompareOp::Greater:
      return CompareOp::Less;
    case CompareOp::LessEqual:
      return CompareOp::GreaterEqual;
    case CompareOp::GreaterEqual:
      return CompareOp::LessEqual;
    default:
      return op;
  }
}

// With `partial`, parts of an AND that are no such comparison are passed over: the
// comparisons found then select a superset of what the whole expression selects.
bool CollectTerms(const ExpressionNode& node, const Bindings& bindings,
                  std::vector<ExpressionTerm>& terms, bool partial = false) {
  if (node.kind == ExpressionNode::Kind::And) {
    for (const auto& child : node.children) {
      if (!CollectTerms(*child, bindings, terms, partial) && !partial) return false;
    }
    return true;
  }
  if (node.kind != ExpressionNode::Kind::Compare) return false;
  ExpressionTerm term;
  term.op = node.compare;
  const ExpressionNode& left = *node.children[0];
  const ExpressionNode& right = *node.children[1];
  if (FieldSide(left, bindings, term) && ConstantSide(right, term.literal)) {
    // field op constant
  } else if (FieldSide(right, bindings, term) && ConstantSide(left, term.literal)) {
    if (term.op == CompareOp::Like) return false;  // a prefix test is not symmetric
    term.op = Mirror(term.op);
  } else {
    return false;
  }
  bool fieldIsText = term.fold != CaseFold::None || term.field.IsText();
  if (term.op == CompareOp::Like) {
    // Both sides are compared as texts.
    term.literal = ExpressionValue::FromText(term.literal.Text());
  } else if (fieldIsText) {
    // A text field against a number compares numerically or as text depending on each
    // record's value: not reproducible by one SQL comparison.
    if (term.literal.IsNumber()) return false;
  } else if (term.literal.IsText()) {
    double number = 0;
    if (!ExpressionValue::ParseNumber(term.literal.Text(), number)) return false;
    term.literal = ExpressionValue::FromNumber(number);
  }
  terms.push_back(std::move(term));
  return true;
}

}  // namespace

Expression::Expression() = default;
Expression::~Expression() = default;
Expression::Expression(Expression&&) noexcept = default;
Expression& Expression::operator=(Expression&&) noexcept = default;

int Expression::Compile(std::string_view text) {
  text_ = std::string(text);
  root_.reset();
  error_.clear();
  errorPosition_ = 0;
  failed_ = false;
  ExpressionParser parser(text);
  root_ = parser.Parse();
  if (parser.Failed()) {
    root_.reset();
    failed_ = true;
    error_ = parser.ErrorMessage();
    errorPosition_ = parser.ErrorPosition();
    SetError(kExpressionSyntaxError, error_);
    return kExpressionSyntaxError;
  }
  return kNoError;
}

ExpressionValue Expression::Evaluate(const Bindings& bindings, int* error) const {
  if (failed_ || !root_) {
    if (error != nullptr) *error = failed_ ? kExpressionSyntaxError : kNoError;
    if (failed_) SetError(kExpressionSyntaxError, error_);
    return ExpressionValue::FromText("");
  }
  Evaluator evaluator(bindings);
  ExpressionValue value = evaluator.Eval(*root_);
  if (error != nullptr) *error = evaluator.Error();
  if (evaluator.Error() != kNoError) {
    SetError(evaluator.Error(), evaluator.Message());
    return ExpressionValue::FromText("");
  }
  return value;
}

bool Expression::Test(const Bindings& bindings, int* error) const {
  if (!failed_ && !root_) {
    if (error != nullptr) *error = kNoError;
    return true;
  }
  int code = kNoError;
  ExpressionValue value = Evaluate(bindings, &code);
  if (error != nullptr) *error = code;
  return code == kNoError && value.Truth();
}

std::optional<std::vector<ExpressionTerm>> Expression::Conjunction(const Bindings& bindings) const {
  if (failed_) return std::nullopt;
  std::vector<ExpressionTerm> terms;
  if (!root_) return terms;
  if (!CollectTerms(*root_, bindings, terms)) return std::nullopt;
  return terms;
}

std::vector<ExpressionTerm> Expression::ConjunctionTerms(const Bindings& bindings) const {
  std::vector<ExpressionTerm> terms;
  if (failed_ || !root_) return terms;
  CollectTerms(*root_, bindings, terms, true);
  return terms;
}

std::string QuotedLiteral(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

}  // namespace rt
