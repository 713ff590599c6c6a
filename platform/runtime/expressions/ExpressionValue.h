#pragma once
// A value met while evaluating an expression: a number or a text. Numbers are doubles; texts
// keep their bytes as they are (a String field keeps its trailing blanks).

#include <string>
#include <string_view>

namespace rt {

class ExpressionValue {
 public:
  enum class Kind { Number, Text };

  ExpressionValue() = default;
  static ExpressionValue FromNumber(double number);
  static ExpressionValue FromText(std::string text);
  static ExpressionValue FromBool(bool value) { return FromNumber(value ? 1 : 0); }

  Kind GetKind() const { return kind_; }
  bool IsNumber() const { return kind_ == Kind::Number; }
  bool IsText() const { return kind_ == Kind::Text; }

  // The value as a number: a text that reads as a number gives that number, any other text 0.
  double Number() const;
  // The value as text: numbers in their shortest plain form ("12", "-3.5", "0.3").
  std::string Text() const;
  // True for a non-zero number, for a text that reads as a non-zero number, and for any
  // other text that is not blank.
  bool Truth() const;

  // Compares by value, giving <0, 0 or >0. Two numbers compare numerically. A number and a
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
  std::string text_;
};

}  // namespace rt
