// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/StepLong.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

std::int32_t ToLong(double value) {
  constexpr double kMin = std::numeric_limits<std::int32_t>::min();
  constexpr double kMax = std::numeric_limits<std::int32_t>::max();
  if (std::isnan(value)) return 0;
  return static_cast<std::int32_t>(std::trunc(std::clamp(value, kMin, kMax)));
}

}  // namespace

std::uint8_t StepLong::GetPercentile(const rt::AnyRef& value) {
  if (High == Low) return 50;
  const double factor = 100.0 / (static_cast<double>(High) - Low);
  const double raw = std::trunc((value.Number() - Low) * factor);
  // Taken as it stands, a value just below Low would come out near 255 and put the thumb at
  // the far end; one above High beyond 100.
  int p = std::isnan(raw) ? 0 : static_cast<int>(std::clamp(raw, 0.0, 100.0));
  if (Controls & kStepDescending) p = 100 - p;
  return static_cast<std::uint8_t>(p == 0 ? 1 : p);
}

rt::Decimal StepLong::GetValue(std::uint8_t percentage) {
  int percent = std::min<int>(percentage, 100);
  if (Controls & kStepDescending) percent = 100 - percent;
  // (percentage / 100) x (High - Low) + Low, exactly.
  const rt::Decimal span(static_cast<std::int64_t>(High) - Low);
  return (rt::Decimal(percent) * span).Divide(rt::Decimal(100), 2) + rt::Decimal(Low);
}

void StepLong::Kill() {}

void StepLong::SetLimit(const rt::AnyRef& first, const rt::AnyRef& last) {
  const std::int32_t firstValue = ToLong(first.Number());
  const std::int32_t lastValue = ToLong(last.Number());
  if (Controls & kStepDescending) {
    Low = lastValue;
    High = firstValue;
  } else {
    Low = firstValue;
    High = lastValue;
  }
}

bool StepLong::LimitNeeded() {
  return true;
}

void StepLong::SetFreeElement(const rt::AnyRef& freeElement, std::uint8_t percentage) {
  freeElement.SetValue(GetValue(percentage));
}
