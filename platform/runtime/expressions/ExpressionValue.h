// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A value met while evaluating an expression: a number or a text. A number is a double and,
// when it is known exactly (a literal such as 0.1, a decimal field, a sum of such values), also
// an exact decimal, so that 0.1 + 0.2 equals 0.3. Texts keep their bytes as they are (a
// String field keeps its trailing blanks).

#include <optional>
#include <string>
#include <string_view>

#include "platform/runtime/values/Decimal.h"

namespace rt {

class ExpressionValue {
 public:
  enum class Kind { Number, Text };

  ExpressionValue() = default;
  static ExpressionValue FromNumber(double number);
  // An exact number; an invalid decimal gives 0.
  static ExpressionValue FromDecimal(const Decimal& number);
  static ExpressionValue FromText(std::string text);
  static ExpressionValue FromBool(bool value) { return FromNumber(value ? 1 : 0); }

  Kind GetKind() const { return kind_; }
  bool IsNumber() const { return kind_ == Kind::Number; }
  bool IsText() const { return kind_ == Kind::Text; }

  // The value as a number: a text that reads as a number gives that number, any other text 0.
  double Number() const;
  // The exact value of a number known exactly, of an integral double, or of a text that
  // reads as a number; nothing otherwise.
  std::optional<Decimal> Exact() const;
  // The value as text: numbers in their shortest plain form ("12", "-3.5", "0.3").
  std::string Text() const;
  // Makes the value the text of itself followed by `tail`, in place (long joins stay linear).
  void AppendText(std::string_view tail);
  // True for a non-zero number, for a text that reads as a non-zero number, and for any
  // other text that is not blank.
  bool Truth() const;

  // Compares by value, giving <0, 0 or >0. Two numbers compare numerically (exactly when both
  // are known exactly). A number and a
  // text compare numerically when the text reads as a number, otherwise as texts. Two texts
  // compare byte by byte with trailing blanks ignored.
  int Compare(const ExpressionValue& other) const;

  // The plain decimal text of a number, as Text() gives it.
  static std::string NumberText(double number);
  // Reads a whole text as a decimal number: optional blanks around, an optional sign, digits
  // with an optional decimal point and an optional exponent. False when the text is not one.
  static bool ParseNumber(std::string_view text, double& number);
  // Compares two texts byte by byte with trailing blanks ignored.
  static int CompareTexts(std::string_view a, std::string_view b);

 private:
  Kind kind_ = Kind::Number;
  double number_ = 0;
  bool exact_ = false;  // decimal_ holds the number exactly
  Decimal decimal_;
  std::string text_;
};

}  // namespace rt
