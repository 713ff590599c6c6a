// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A typed reference to a variable or a record field: an address and a field description. It
// is read and written as text or as a number, compared by value, cleared and copied. Field
// pairs, range lists, locators, bound controls and queues are built on it.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/values/Decimal.h"
#include "platform/runtime/values/RecordLayout.h"

namespace rt {

class AnyRef {
 public:
  AnyRef() = default;
  // A reference to a field of a record buffer (the field's offset is applied).
  AnyRef(void* record, const FieldDesc& field);
  // A reference to a plain variable of the given type and size.
  AnyRef(void* address, FieldType type, std::uint32_t size, std::uint8_t places = 0);

  static AnyRef Of(std::int32_t& v) { return AnyRef(&v, FieldType::Long, 4); }
  static AnyRef Of(std::uint32_t& v) { return AnyRef(&v, FieldType::ULong, 4); }
  static AnyRef Of(std::int16_t& v) { return AnyRef(&v, FieldType::Short, 2); }
  static AnyRef Of(std::uint16_t& v) { return AnyRef(&v, FieldType::UShort, 2); }
  static AnyRef Of(std::uint8_t& v) { return AnyRef(&v, FieldType::Byte, 1); }
  static AnyRef Of(double& v) { return AnyRef(&v, FieldType::Real, 8); }

  bool IsNull() const { return address_ == nullptr; }
  void* Address() const { return address_; }
  FieldType Type() const { return type_; }
  std::uint32_t Size() const { return size_; }
  std::uint8_t Places() const { return places_; }
  bool IsText() const;

  // The value as text: strings as stored (String fields keep their trailing blanks), numbers
  // in plain decimal form ("12", "-3.50" for a decimal with two places).
  std::string Text() const;
  // The value as a number: a string is read as a decimal number (0 when it is not one).
  double Number() const;
  std::int64_t Integer() const;
  // The exact value of a number (a Real through its shortest text); a text is read as a
  // number, invalid when it is not one.
  Decimal Value() const;

  // Writes text: strings are padded or cut (never inside a UTF-8 character); numbers are
  // parsed (blank text gives 0; a fraction is rounded to a Decimal's places and dropped for
  // integer types). Each write says how the value fitted: one the field cannot hold, or
  // text that is not a number, leaves the field as it was (see FieldFit).
  FieldFit SetText(std::string_view text) const;
  FieldFit SetNumber(double value) const;
  FieldFit SetInteger(std::int64_t value) const;
  // Writes an exact value: rounded to a Decimal's places, truncated for integers.
  FieldFit SetValue(const Decimal& value) const;
  // The lowest and highest value the field holds; false for texts and Reals.
  bool Limits(Decimal& low, Decimal& high) const;

  // Compares by value: two numbers numerically; two texts as strings with trailing blanks
  // ignored; a number and a text by value when the text is a number, else as texts.
  // A null reference orders before everything else. Returns <0, 0 or >0.
  int Compare(const AnyRef& other) const;
  // Clears to blanks/zero; high > 0 sets the highest value, high < 0 the lowest (for texts
  // the lowest is the blank text, which orders before every other text).
  void Clear(int high = 0) const;
  // Copies the other's value, converting between types.
  FieldFit CopyFrom(const AnyRef& other) const;

 private:
  FieldDesc Desc() const;

  void* address_ = nullptr;
  FieldType type_ = FieldType::Long;
  std::uint32_t size_ = 0;
  std::uint8_t places_ = 0;
};

}  // namespace rt
