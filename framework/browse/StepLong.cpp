#include "framework/browse/StepLong.h"

#include <cmath>

std::uint8_t StepLong::GetPercentile(const rt::AnyRef& value) {
  if (High == Low) return 50;
  const double factor = 100.0 / (static_cast<double>(High) - Low);
  auto p = static_cast<std::int16_t>(std::trunc((value.Number() - Low) * factor));
  if (Controls & kStepDescending) p = static_cast<std::int16_t>(100 - p);
  const auto result = static_cast<std::uint8_t>(p);
  return result == 0 ? 1 : result;
}

rt::Decimal StepLong::GetValue(std::uint8_t percentage) {
  int percent = percentage;
  if (Controls & kStepDescending) percent = 100 - percent;
  // (percentage / 100) x (High - Low) + Low, exactly.
  const rt::Decimal span(static_cast<std::int64_t>(High) - Low);
  return (rt::Decimal(percent) * span).Divide(rt::Decimal(100), 2) + rt::Decimal(Low);
}

void StepLong::Kill() {}

void StepLong::SetLimit(const rt::AnyRef& first, const rt::AnyRef& last) {
  const auto firstValue = static_cast<std::int32_t>(std::trunc(first.Number()));
  const auto lastValue = static_cast<std::int32_t>(std::trunc(last.Number()));
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
