// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/expressions/ExpressionValue.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/runtime/values/Text.h"

namespace rt {

namespace {}  // namespace

ExpressionValue ExpressionValue::FromNumber(double number) {
  ExpressionValue v;
  v.kind_ = Kind::Number;
  // Keep results finite so that every later comparison and conversion is defined.
  v.number_ = std::isfinite(number) ? number : 0;
  return v;
}

ExpressionValue ExpressionValue::FromDecimal(const Decimal& number) {
  if (!number.Valid()) return FromNumber(0);
  ExpressionValue v = FromNumber(number.ToDouble());
  v.exact_ = true;
  v.decimal_ = number;
  return v;
}

ExpressionValue ExpressionValue::FromText(std::string text) {
  ExpressionValue v;
  v.kind_ = Kind::Text;
  v.text_ = std::move(text);
  return v;
}

double ExpressionValue::Number() const {
  if (kind_ == Kind::Number) return number_;
  double n = 0;
  return ParseNumber(text_, n) ? n : 0;
}

std::optional<Decimal> ExpressionValue::Exact() const {
  if (kind_ == Kind::Text) {
    double unused = 0;
    if (!ParseNumber(text_, unused)) return std::nullopt;
    auto parsed = Decimal::Parse(text_);
    if (parsed && parsed->Valid()) return parsed;
    return std::nullopt;
  }
  if (exact_) return decimal_;
  // Integers up to 2^53 are held exactly by a double.
  constexpr double kExactLimit = 9007199254740992.0;
  if (number_ == std::trunc(number_) && std::fabs(number_) <= kExactLimit) {
    return Decimal(static_cast<std::int64_t>(number_));
  }
  return std::nullopt;
}

std::string ExpressionValue::Text() const {
  if (kind_ == Kind::Text) return text_;
  return exact_ ? decimal_.ToPlainText() : NumberText(number_);
}

void ExpressionValue::AppendText(std::string_view tail) {
  if (kind_ != Kind::Text) {
    text_ = Text();
    kind_ = Kind::Text;
    exact_ = false;
    number_ = 0;
  }
  text_ += tail;
}

bool ExpressionValue::Truth() const {
  if (kind_ == Kind::Number) return number_ != 0;
  double n = 0;
  if (ParseNumber(text_, n)) return n != 0;
  return text_.find_first_not_of(' ') != std::string::npos;
}

int ExpressionValue::Compare(const ExpressionValue& other) const {
  if (kind_ == Kind::Number || other.kind_ == Kind::Number) {
    // Exactly when both sides are known exactly (a text only when it reads as a number).
    const auto a = Exact();
    const auto b = a ? other.Exact() : std::nullopt;
    if (a && b) return a->Compare(*b);
  }
  if (kind_ == Kind::Number && other.kind_ == Kind::Number) {
    return number_ < other.number_ ? -1 : (number_ > other.number_ ? 1 : 0);
  }
  if (kind_ != other.kind_) {
    double a = 0;
    double b = 0;
    if (kind_ == Kind::Number) {
      a = number_;
      if (ParseNumber(other.text_, b)) return a < b ? -1 : (a > b ? 1 : 0);
    } else {
      b = other.number_;
      if (ParseNumber(text_, a)) return a < b ? -1 : (a > b ? 1 : 0);
    }
  }
  return CompareTexts(Text(), other.Text());
}

std::string ExpressionValue::NumberText(double number) {
  if (!std::isfinite(number)) return "0";
  if (number == 0) return "0";  // also turns -0 into "0"
  char buffer[64];
  // 15 significant digits round away the binary noise of sums such as 0.1 + 0.2.
  int n = std::snprintf(buffer, sizeof buffer, "%.15g", number);
  std::string text(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  if (text.find_first_of("eE") == std::string::npos) return text;
  // Plain decimal form for large and small magnitudes too.
  n = std::snprintf(buffer, sizeof buffer, "%.15f", number);
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buffer) return text;  // huge: keep exponent
  text.assign(buffer, static_cast<std::size_t>(n));
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0')
      text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

bool ExpressionValue::ParseNumber(std::string_view text, double& number) {
  const std::string_view s = Trim(text);
  if (s.empty()) return false;
  std::size_t i = 0;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') {
    negative = s[i] == '-';
    ++i;
  }
  // Check the shape ourselves: from_chars also accepts "inf", "nan" and hex forms.
  std::size_t digits = 0;
  std::size_t start = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9')
    ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
      ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    std::size_t expDigits = 0;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9')
      ++j, ++expDigits;
    if (expDigits == 0) return false;
    i = j;
  }
  if (i != s.size()) return false;
  double value = 0;
  auto result = std::from_chars(s.data() + start, s.data() + s.size(), value);
  // Out of range (such as "1e999") is not a usable number.
  if (result.ec != std::errc() || !std::isfinite(value)) return false;
  number = negative ? -value : value;
  return true;
}

int ExpressionValue::CompareTexts(std::string_view a, std::string_view b) {
  a = TrimRight(a);
  b = TrimRight(b);
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace rt
