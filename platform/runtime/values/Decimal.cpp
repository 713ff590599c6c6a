// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/values/Decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace rt {

namespace {

using Wide = __int128;

constexpr std::int64_t kMaxMantissa = std::numeric_limits<std::int64_t>::max();

Wide Pow10(int n) {
  Wide p = 1;
  for (int i = 0; i < n; ++i)
    p *= 10;
  return p;
}

Wide WideAbs(Wide v) {
  return v < 0 ? -v : v;
}

// v / 10^n rounded half away from zero.
Wide DivRound(Wide v, int n) {
  if (n <= 0) return v;
  const Wide d = Pow10(n);
  const Wide q = v / d;
  const Wide r = WideAbs(v % d);
  if (r * 2 >= d) return v < 0 ? q - 1 : q + 1;
  return q;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

Decimal Decimal::Invalid() {
  return Decimal(0, 0, false);
}

Decimal Decimal::FromParts(std::int64_t mantissa, int places) {
  if (places < 0 || places > kMaxPlaces) return Invalid();
  return Decimal(mantissa, places, true);
}

// Brings a wide mantissa into range: extra places are rounded off until the value fits in
// 64 bits with at most 18 places; a value whose integer part does not fit is invalid.
Decimal Decimal::FromWide(Wide mantissa, int places) {
  // One rounding step only: rounding digit by digit would round twice (0.0449 -> 0.05).
  for (int drop = std::max(0, places - kMaxPlaces); drop <= places; ++drop) {
    const Wide m = DivRound(mantissa, drop);
    if (WideAbs(m) <= kMaxMantissa)
      return Decimal(static_cast<std::int64_t>(m), places - drop, true);
  }
  return Invalid();
}

std::optional<Decimal> Decimal::Parse(std::string_view text) {
  std::size_t i = 0;
  std::size_t end = text.size();
  while (i < end && IsBlank(text[i]))
    ++i;
  while (end > i && IsBlank(text[end - 1]))
    --end;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';

  // Significant digits go into `digits` (36 are kept; further integer digits only
  // scale, further fraction digits are dropped).
  Wide digits = 0;
  int kept = 0;
  int exponent = 0;
  bool anyDigit = false;
  auto take = [&](char c, bool fraction) {
    anyDigit = true;
    if (digits == 0 && c == '0') {
      if (fraction) --exponent;
      return;
    }
    if (kept < 36) {
      digits = digits * 10 + (c - '0');
      ++kept;
      if (fraction) --exponent;
    } else {
      // Digits past the 36th cannot change a rounding to 18 places half away from zero.
      if (!fraction) ++exponent;
    }
  };
  while (i < end && text[i] >= '0' && text[i] <= '9')
    take(text[i++], false);
  if (i < end && text[i] == '.') {
    ++i;
    while (i < end && text[i] >= '0' && text[i] <= '9')
      take(text[i++], true);
  }
  if (!anyDigit) return std::nullopt;
  if (i < end && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool expNegative = false;
    if (i < end && (text[i] == '+' || text[i] == '-')) expNegative = text[i++] == '-';
    if (i == end) return std::nullopt;
    int e = 0;
    while (i < end && text[i] >= '0' && text[i] <= '9') {
      if (e < 10000) e = e * 10 + (text[i] - '0');
      ++i;
    }
    exponent += expNegative ? -e : e;
  }
  if (i != end) return std::nullopt;
  // Zero keeps the places it was written with ("0.00").
  if (digits == 0) return Decimal(0, std::clamp(-exponent, 0, kMaxPlaces), true);
  if (exponent > 0) {
    if (kept + exponent > 19) return std::nullopt;
    digits *= Pow10(exponent);
    exponent = 0;
  }
  int places = -exponent;
  // Far more places than can be held: the value rounds to 0.
  if (places > 60) return Decimal(0, kMaxPlaces, true);
  if (places > 38) {
    digits /= Pow10(places - 38);
    places = 38;
  }
  Decimal d = FromWide(negative ? -digits : digits, places);
  if (!d.Valid()) return std::nullopt;
  return d;
}

Decimal Decimal::FromDouble(double value) {
  if (!std::isfinite(value)) return Invalid();
  char buffer[64];
  auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return Invalid();
  auto parsed = Parse(std::string_view(buffer, ptr - buffer));
  return parsed ? *parsed : Invalid();
}

std::string Decimal::ToText() const {
  if (!valid_) return {};
  const bool negative = mantissa_ < 0;
  // Unsigned magnitude so that the lowest mantissa does not overflow.
  std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(mantissa_) : static_cast<std::uint64_t>(mantissa_);
  std::string digits = std::to_string(magnitude);
  if (places_ > 0) {
    if (static_cast<int>(digits.size()) <= places_) {
      digits.insert(0, places_ - digits.size() + 1, '0');
    }
    digits.insert(digits.size() - places_, 1, '.');
  }
  if (negative && magnitude != 0) digits.insert(0, 1, '-');
  return digits;
}

std::string Decimal::ToText(int places) const {
  return Rescale(places).ToText();
}

std::string Decimal::ToPlainText() const {
  return Normalized().ToText();
}

double Decimal::ToDouble() const {
  if (!valid_) return 0.0;
  return std::strtod(ToText().c_str(), nullptr);
}

std::int64_t Decimal::ToInteger() const {
  if (!valid_) return 0;
  return static_cast<std::int64_t>(static_cast<Wide>(mantissa_) / Pow10(places_));
}

Decimal Decimal::Add(const Decimal& other) const {
  if (!valid_ || !other.valid_) return Invalid();
  const int places = std::max<int>(places_, other.places_);
  const Wide a = static_cast<Wide>(mantissa_) * Pow10(places - places_);
  const Wide b = static_cast<Wide>(other.mantissa_) * Pow10(places - other.places_);
  return FromWide(a + b, places);
}

Decimal Decimal::Subtract(const Decimal& other) const {
  return Add(other.Negated());
}

Decimal Decimal::Multiply(const Decimal& other) const {
  if (!valid_ || !other.valid_) return Invalid();
  const Wide product = static_cast<Wide>(mantissa_) * static_cast<Wide>(other.mantissa_);
  return FromWide(product, places_ + other.places_);
}

Decimal Decimal::Divide(const Decimal& other, int places) const {
  if (!valid_ || !other.valid_ || other.mantissa_ == 0) return Invalid();
  places = std::clamp(places, 0, kMaxPlaces);
  // result = (m1 / 10^p1) / (m2 / 10^p2) * 10^places = m1 * 10^k / m2 with k below.
  const int k = other.places_ - places_ + places;
  Wide n = WideAbs(static_cast<Wide>(mantissa_));
  Wide d = WideAbs(static_cast<Wide>(other.mantissa_));
  if (k < 0) d *= Pow10(-k);
  Wide q = n / d;
  Wide r = n % d;
  // Long division for the remaining digits keeps every intermediate small.
  for (int i = 0; i < k; ++i) {
    q = q * 10 + (r * 10) / d;
    r = (r * 10) % d;
    if (q > kMaxMantissa) return Invalid();
  }
  if (r * 2 >= d) ++q;
  if (q > kMaxMantissa) return Invalid();
  const bool negative = (mantissa_ < 0) != (other.mantissa_ < 0);
  return Decimal(static_cast<std::int64_t>(negative ? -q : q), places, true);
}

Decimal Decimal::Round(int places) const {
  if (!valid_) return Invalid();
  places = std::clamp(places, 0, kMaxPlaces);
  if (places >= places_) return *this;
  return Decimal(static_cast<std::int64_t>(DivRound(mantissa_, places_ - places)), places, true);
}

Decimal Decimal::Rescale(int places) const {
  if (!valid_) return Invalid();
  places = std::clamp(places, 0, kMaxPlaces);
  if (places <= places_) return Round(places);
  const Wide m = static_cast<Wide>(mantissa_) * Pow10(places - places_);
  if (WideAbs(m) > kMaxMantissa) return Invalid();
  return Decimal(static_cast<std::int64_t>(m), places, true);
}

Decimal Decimal::Normalized() const {
  if (!valid_) return Invalid();
  std::int64_t m = mantissa_;
  int p = places_;
  while (p > 0 && m % 10 == 0) {
    m /= 10;
    --p;
  }
  return Decimal(m, p, true);
}

Decimal Decimal::Negated() const {
  if (!valid_) return Invalid();
  // -(lowest) does not fit; such a value cannot come from Parse or arithmetic anyway.
  if (mantissa_ == std::numeric_limits<std::int64_t>::min()) return Invalid();
  return Decimal(-mantissa_, places_, true);
}

Decimal Decimal::Abs() const {
  return IsNegative() ? Negated() : *this;
}

int Decimal::Compare(const Decimal& other) const {
  if (!valid_ || !other.valid_) return static_cast<int>(valid_) - static_cast<int>(other.valid_);
  const int places = std::max<int>(places_, other.places_);
  const Wide a = static_cast<Wide>(mantissa_) * Pow10(places - places_);
  const Wide b = static_cast<Wide>(other.mantissa_) * Pow10(places - other.places_);
  return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace rt
