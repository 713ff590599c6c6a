// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The thumb step of a sort order whose free element is a number: maps between the free
// element's values and the 0-100 position of the list's scroll-bar thumb, using the values
// of the order's first and last records.

#include <cstdint>

#include "platform/runtime/values/AnyRef.h"
#include "platform/runtime/values/Decimal.h"

// Controls bit: the order is descending (its first record holds the highest value).
inline constexpr std::uint8_t kStepDescending = 0x10;

class StepLong {
 public:
  std::uint8_t Controls = 0;
  std::int32_t Low = 0;
  std::int32_t High = 0;

  StepLong() = default;
  StepLong(const StepLong&) = delete;
  StepLong& operator=(const StepLong&) = delete;
  virtual ~StepLong() = default;

  void Init(std::uint8_t controls) { Controls = controls; }

  // ---- Virtual operations, in table order ----
  // Thumb position 1-100 of a value; values beyond the limits (records added since they were
  // read) stay at the nearer end.
  virtual std::uint8_t GetPercentile(const rt::AnyRef& value);  // 1
  // The value at a thumb position.
  virtual rt::Decimal GetValue(std::uint8_t percentage);  // 2
  virtual void Kill();                                    // 3
  // The free element's values of the order's first and last records.
  virtual void SetLimit(const rt::AnyRef& first, const rt::AnyRef& last);  // 4
  // Whether the browse must read the order's first and last records for the limits.
  virtual bool LimitNeeded();  // 5

  // Puts the value at a thumb position into the free element, in the element's own terms
  // (a number here; a text for steps over string keys).
  virtual void SetFreeElement(const rt::AnyRef& freeElement, std::uint8_t percentage);
};
