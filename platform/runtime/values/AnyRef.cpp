// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/values/AnyRef.h"

#include <cfloat>
#include <cstring>
#include <limits>

#include "platform/runtime/values/FixedString.h"

namespace rt {

namespace {

template <typename T>
void StoreAt(void* address, T value) {
  std::memcpy(address, &value, sizeof value);
}

}  // namespace

AnyRef::AnyRef(void* record, const FieldDesc& field)
    : address_(record == nullptr ? nullptr : static_cast<char*>(record) + field.offset),
      type_(field.type),
      size_(field.size),
      places_(field.places) {}

AnyRef::AnyRef(void* address, FieldType type, std::uint32_t size, std::uint8_t places)
    : address_(address),
      type_(type),
      size_(rt::IsText(type) ? size : NumericSize(type)),
      places_(places) {}

FieldDesc AnyRef::Desc() const {
  FieldDesc desc;
  desc.type = type_;
  desc.offset = 0;
  desc.size = size_;
  desc.places = places_;
  return desc;
}

bool AnyRef::IsText() const {
  return rt::IsText(type_);
}

std::string AnyRef::Text() const {
  if (IsNull()) return {};
  return ReadText(Desc(), address_);
}

double AnyRef::Number() const {
  if (IsNull()) return 0.0;
  return ReadReal(Desc(), address_);
}

std::int64_t AnyRef::Integer() const {
  if (IsNull()) return 0;
  return ReadInteger(Desc(), address_);
}

Decimal AnyRef::Value() const {
  if (IsNull()) return Decimal::Invalid();
  return ReadDecimal(Desc(), address_);
}

FieldFit AnyRef::SetText(std::string_view text) const {
  if (IsNull()) return FieldFit::Fits;
  return WriteText(Desc(), address_, text);
}

FieldFit AnyRef::SetNumber(double value) const {
  if (IsNull()) return FieldFit::Fits;
  return WriteReal(Desc(), address_, value);
}

FieldFit AnyRef::SetInteger(std::int64_t value) const {
  if (IsNull()) return FieldFit::Fits;
  return WriteInteger(Desc(), address_, value);
}

FieldFit AnyRef::SetValue(const Decimal& value) const {
  if (IsNull()) return FieldFit::Fits;
  return WriteDecimal(Desc(), address_, value);
}

bool AnyRef::Limits(Decimal& low, Decimal& high) const {
  return !IsNull() && FieldLimits(Desc(), low, high);
}

int AnyRef::Compare(const AnyRef& other) const {
  if (IsNull() || other.IsNull()) {
    return static_cast<int>(!IsNull()) - static_cast<int>(!other.IsNull());
  }
  const bool leftText = IsText();
  const bool rightText = other.IsText();
  if (leftText && rightText) return CompareText(Text(), other.Text());
  // A text takes part as a number only when it reads as one.
  const Decimal left = Value();
  const Decimal right = other.Value();
  if (left.Valid() && right.Valid()) return left.Compare(right);
  if (leftText || rightText) return CompareText(Text(), other.Text());
  // Two numbers beyond the exact range (a huge or non-finite Real).
  const double a = Number();
  const double b = other.Number();
  return a < b ? -1 : (a > b ? 1 : 0);
}

void AnyRef::Clear(int high) const {
  if (IsNull()) return;
  char* p = static_cast<char*>(address_);
  if (type_ == FieldType::String) {
    std::memset(p, high > 0 ? 0xFF : ' ', size_);
    return;
  }
  if (type_ == FieldType::CString) {
    std::memset(p, 0, size_);
    if (high > 0 && size_ > 0) std::memset(p, 0xFF, size_ - 1);
    return;
  }
  if (high == 0) {
    std::memset(p, 0, size_);
    return;
  }
  const bool top = high > 0;
  switch (type_) {
    case FieldType::Byte:
      StoreAt<std::uint8_t>(p, top ? std::numeric_limits<std::uint8_t>::max() : 0);
      break;
    case FieldType::Short:
      StoreAt<std::int16_t>(p, top ? std::numeric_limits<std::int16_t>::max()
                                   : std::numeric_limits<std::int16_t>::min());
      break;
    case FieldType::UShort:
      StoreAt<std::uint16_t>(p, top ? std::numeric_limits<std::uint16_t>::max() : 0);
      break;
    case FieldType::Long:
    case FieldType::Date:
    case FieldType::Time:
      StoreAt<std::int32_t>(p, top ? std::numeric_limits<std::int32_t>::max()
                                   : std::numeric_limits<std::int32_t>::min());
      break;
    case FieldType::ULong:
      StoreAt<std::uint32_t>(p, top ? std::numeric_limits<std::uint32_t>::max() : 0);
      break;
    case FieldType::Decimal:
      // Symmetric limits keep the value negatable.
      StoreAt<std::int64_t>(p, top ? std::numeric_limits<std::int64_t>::max()
                                   : -std::numeric_limits<std::int64_t>::max());
      break;
    case FieldType::Real:
      StoreAt<double>(p, top ? DBL_MAX : -DBL_MAX);
      break;
    case FieldType::String:
    case FieldType::CString:
      break;
  }
}

FieldFit AnyRef::CopyFrom(const AnyRef& other) const {
  if (IsNull() || address_ == other.address_) return FieldFit::Fits;
  if (other.IsNull()) {
    Clear();
    return FieldFit::Fits;
  }
  if (type_ == other.type_ && size_ == other.size_ && places_ == other.places_) {
    std::memmove(address_, other.address_, size_);  // the same representation
    return FieldFit::Fits;
  }
  if (IsText() || other.IsText()) return SetText(other.Text());
  if (type_ == FieldType::Real || other.type_ == FieldType::Real) return SetNumber(other.Number());
  return SetValue(other.Value());
}

}  // namespace rt
