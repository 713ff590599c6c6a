// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Exact decimal numbers: a signed 64-bit mantissa scaled by 10^places (0 to 18 places).
// Arithmetic is done on 128-bit intermediates and is exact whenever the result fits; a
// product or quotient with more fraction digits than fit is rounded half away from zero.
// A result that cannot be held (overflow, division by zero, unreadable text) is invalid;
// an invalid operand makes every result invalid, so a failed step cannot pass for a value.

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace rt {

class Decimal {
 public:
  static constexpr int kMaxPlaces = 18;

  Decimal() = default;
  // An integer value.
  Decimal(std::int64_t value) : mantissa_(value) {}  // NOLINT: implicit by design
  // mantissa / 10^places; places outside 0..18 give an invalid value.
  static Decimal FromParts(std::int64_t mantissa, int places);
  // Reads "12", "-3.50", " +0.5 ", ".5", "1e3", "2.5E-2". Surrounding blanks are allowed.
  // Fraction digits beyond 18 places are rounded; nullopt when the text is not a number
  // or the value is too large.
  static std::optional<Decimal> Parse(std::string_view text);
  // The double's shortest exact text, read as above; invalid for NaN, infinities and
  // values too large.
  static Decimal FromDouble(double value);
  static Decimal Invalid();

  bool Valid() const { return valid_; }
  std::int64_t Mantissa() const { return mantissa_; }
  int Places() const { return places_; }
  bool IsZero() const { return valid_ && mantissa_ == 0; }
  bool IsNegative() const { return valid_ && mantissa_ < 0; }

  // Plain text keeping the scale: "-3.50" for mantissa -350 with 2 places; "" when invalid.
  std::string ToText() const;
  // Plain text rounded to the given places (half away from zero).
  std::string ToText(int places) const;
  // Plain text without trailing fraction zeros: "-12.5", "3", "0".
  std::string ToPlainText() const;
  double ToDouble() const;
  // The value with its fraction dropped (towards zero).
  std::int64_t ToInteger() const;

  Decimal Add(const Decimal& other) const;
  Decimal Subtract(const Decimal& other) const;
  Decimal Multiply(const Decimal& other) const;
  // this / other rounded half away from zero to `places` fraction digits (clamped to 0..18).
  Decimal Divide(const Decimal& other, int places) const;
  // Rounded half away from zero to `places` digits; a value with fewer places is unchanged.
  Decimal Round(int places) const;
  // The same value held with exactly `places` digits (rounding when fewer).
  Decimal Rescale(int places) const;
  // Trailing fraction zeros dropped.
  Decimal Normalized() const;
  Decimal Negated() const;
  Decimal Abs() const;

  // Compares by value (1.50 equals 1.5). An invalid value orders before every valid one.
  int Compare(const Decimal& other) const;

  friend Decimal operator+(const Decimal& a, const Decimal& b) { return a.Add(b); }
  friend Decimal operator-(const Decimal& a, const Decimal& b) { return a.Subtract(b); }
  friend Decimal operator*(const Decimal& a, const Decimal& b) { return a.Multiply(b); }
  friend bool operator==(const Decimal& a, const Decimal& b) { return a.Compare(b) == 0; }
  friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) {
    return a.Compare(b) <=> 0;
  }

 private:
  Decimal(std::int64_t mantissa, int places, bool valid)
      : mantissa_(mantissa), places_(static_cast<std::int8_t>(places)), valid_(valid) {}
  static Decimal FromWide(__int128 mantissa, int places);

  std::int64_t mantissa_ = 0;
  std::int8_t places_ = 0;
  bool valid_ = true;
};

}  // namespace rt
