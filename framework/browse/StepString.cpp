// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/browse/StepString.h"

#include <algorithm>

#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/values/Text.h"

namespace {

constexpr std::size_t kCodeChars = 3;

}  // namespace

void StepString::Init(std::uint8_t controls, bool noCase) {
  StepLong::Init(controls);
  NoCase = noCase ? 1 : 0;
}

std::string StepString::Keyed(std::string text) const {
  text = std::string(rt::ClipText(text));
  return NoCase ? rt::Upper(text) : text;
}

std::int32_t StepString::Code(const std::string& keyed) const {
  std::int32_t code = 0;
  for (std::size_t i = 0; i < kCodeChars; ++i) {
    const std::size_t at = prefix_ + i;
    code = code * 256 + (at < keyed.size() ? static_cast<unsigned char>(keyed[at]) : 0);
  }
  return code;
}

void StepString::SetLimit(const rt::AnyRef& first, const rt::AnyRef& last) {
  std::string firstText = Keyed(first.Text());
  std::string lastText = Keyed(last.Text());
  if (Controls & kStepDescending) std::swap(firstText, lastText);
  LowText = std::move(firstText);
  HighText = std::move(lastText);
  const auto shared =
      std::mismatch(LowText.begin(), LowText.end(), HighText.begin(), HighText.end());
  prefix_ = static_cast<std::size_t>(shared.first - LowText.begin());
  Low = Code(LowText);
  High = Code(HighText);
}

std::uint8_t StepString::GetPercentile(const rt::AnyRef& value) {
  if (High == Low) return 50;
  const std::string text = Keyed(value.Text());
  int p = 0;
  // Texts outside the limits (records added since they were read) stay at the nearer end;
  // the ones between them share the limits' prefix.
  if (rt::CompareText(text, LowText) <= 0) {
    p = 0;
  } else if (rt::CompareText(text, HighText) >= 0) {
    p = 100;
  } else {
    const double span = static_cast<double>(High) - Low;
    p = std::clamp(static_cast<int>((Code(text) - Low) * 100.0 / span), 0, 100);
  }
  if (Controls & kStepDescending) p = 100 - p;
  return static_cast<std::uint8_t>(p == 0 ? 1 : p);
}

rt::Decimal StepString::GetValue(std::uint8_t percentage) {
  return StepLong::GetValue(percentage);
}

std::string StepString::GetText(std::uint8_t percentage) const {
  int percent = std::min<int>(percentage, 100);
  if (Controls & kStepDescending) percent = 100 - percent;
  if (percent == 0) return LowText;
  if (percent == 100) return HighText;
  std::int64_t code = Low + (static_cast<std::int64_t>(High) - Low) * percent / 100;
  std::string tail(kCodeChars, '\0');
  for (std::size_t i = kCodeChars; i-- > 0;) {
    tail[i] = static_cast<char>(code % 256);
    code /= 256;
  }
  while (!tail.empty() && tail.back() == '\0')
    tail.pop_back();
  // A NUL inside would end the text early where it is stored.
  std::replace(tail.begin(), tail.end(), '\0', '\x01');
  return LowText.substr(0, prefix_) + tail;
}

void StepString::SetFreeElement(const rt::AnyRef& freeElement, std::uint8_t percentage) {
  freeElement.SetText(GetText(percentage));
}
