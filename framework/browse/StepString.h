// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The thumb step of a sort order whose free element is a string. Texts are placed between
// the order's first and last values by their characters after the prefix both limits share
// (three characters, read as one base-256 number), so the thumb follows the alphabet of the
// data actually present; Low and High hold those numbers for the two limits.

#include <cstdint>
#include <string>

#include "framework/browse/StepLong.h"

class StepString : public StepLong {
 public:
  std::string LowText;   // free-element text at thumb position 0
  std::string HighText;  // free-element text at thumb position 100
  std::uint8_t NoCase = 0;

  void Init(std::uint8_t controls, bool noCase);

  std::uint8_t GetPercentile(const rt::AnyRef& value) override;
  // The limits' numbers interpolated; use GetText for the text itself.
  rt::Decimal GetValue(std::uint8_t percentage) override;
  void SetLimit(const rt::AnyRef& first, const rt::AnyRef& last) override;
  void SetFreeElement(const rt::AnyRef& freeElement, std::uint8_t percentage) override;

  // The text at a thumb position: the shared prefix followed by the interpolated characters.
  std::string GetText(std::uint8_t percentage) const;

 private:
  std::string Keyed(std::string text) const;
  std::int32_t Code(const std::string& keyed) const;
  std::size_t prefix_ = 0;
};
