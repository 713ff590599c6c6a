// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/values/RecordLayout.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/runtime/values/Picture.h"
#include "platform/runtime/values/Text.h"

namespace rt {

std::uint32_t NumericSize(FieldType type) {
  switch (type) {
    case FieldType::Byte:
      return 1;
    case FieldType::Short:
    case FieldType::UShort:
      return 2;
    case FieldType::Long:
    case FieldType::ULong:
    case FieldType::Date:
    case FieldType::Time:
      return 4;
    case FieldType::Decimal:
    case FieldType::Real:
      return 8;
    case FieldType::String:
    case FieldType::CString:
      return 0;
  }
  return 0;
}

bool IsText(FieldType type) {
  return type == FieldType::String || type == FieldType::CString;
}
bool IsNumeric(FieldType type) {
  return !IsText(type);
}

int RecordLayout::AddField(std::string label, FieldType type, std::uint32_t size,
                           std::string picture, std::uint8_t places) {
  FieldDesc field;
  field.label = std::move(label);
  field.type = type;
  field.offset = size_;
  field.size = IsText(type) ? size : NumericSize(type);
  field.picture = std::move(picture);
  field.places = places;
  size_ += field.size;
  fields_.push_back(std::move(field));
  return FieldCount();
}

int RecordLayout::FindField(std::string_view label) const {
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const std::string& l = fields_[i].label;
    if (SameName(l, label)) {
      return static_cast<int>(i) + 1;
    }
  }
  return 0;
}

namespace {
template <typename T>
T Load(const void* record, std::uint32_t offset) {
  T v;
  std::memcpy(&v, static_cast<const char*>(record) + offset, sizeof v);
  return v;
}
template <typename T>
void Store(void* record, std::uint32_t offset, T v) {
  std::memcpy(static_cast<char*>(record) + offset, &v, sizeof v);
}
}  // namespace

namespace {

int FieldPlaces(const FieldDesc& f) {
  return std::min<int>(f.places, Decimal::kMaxPlaces);
}

// A double read from text; 0 for text that is not wholly a number.
double ParseReal(std::string_view text) {
  const std::string s(Trim(text, kBlanks));
  if (s.empty()) return 0.0;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(v)) return 0.0;
  return v;
}

// A double converted to an integer without undefined behaviour: NaN gives 0, values
// beyond the 64-bit range are clamped, the fraction is dropped.
std::int64_t RealToInteger(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.2e18) return std::numeric_limits<std::int64_t>::max();
  if (v <= -9.2e18) return std::numeric_limits<std::int64_t>::min();
  return static_cast<std::int64_t>(v);
}

// Whether the text is written as a number ("-12", "3.5", ".5e-3"), whatever its size.
bool NumberShaped(std::string_view text) {
  text = Trim(text, kBlanks);
  std::size_t i = 0;
  auto digits = [&] {
    const std::size_t from = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
      ++i;
    return i - from;
  };
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t count = digits();
  if (i < text.size() && text[i] == '.') {
    ++i;
    count += digits();
  }
  if (count == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == text.size();
}

bool IsBlankText(std::string_view text) {
  return Trim(text, kBlanks).empty();
}

// The range of an integer-held type; dates and times also hold 0, which is outside it.
bool IntegerRange(FieldType type, std::int64_t& low, std::int64_t& high) {
  switch (type) {
    case FieldType::Byte:
      low = 0;
      high = std::numeric_limits<std::uint8_t>::max();
      return true;
    case FieldType::Short:
      low = std::numeric_limits<std::int16_t>::min();
      high = std::numeric_limits<std::int16_t>::max();
      return true;
    case FieldType::UShort:
      low = 0;
      high = std::numeric_limits<std::uint16_t>::max();
      return true;
    case FieldType::Long:
      low = std::numeric_limits<std::int32_t>::min();
      high = std::numeric_limits<std::int32_t>::max();
      return true;
    case FieldType::ULong:
      low = 0;
      high = std::numeric_limits<std::uint32_t>::max();
      return true;
    case FieldType::Date: {
      static const std::int32_t lastDay = DateValue(9999, 12, 31);
      low = 1;
      high = lastDay;
      return true;
    }
    case FieldType::Time:
      low = 1;
      high = TimeValue(23, 59, 59, 99);
      return true;
    default:
      return false;
  }
}

// The largest mantissa of a Decimal field; the lowest is its negation.
constexpr std::int64_t kMaxDecimalMantissa = std::numeric_limits<std::int64_t>::max();

}  // namespace

std::string RealText(double value) {
  char buffer[64];
  auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  if (ec != std::errc()) return "0";
  return std::string(buffer, ptr);
}

std::int64_t ReadInteger(const FieldDesc& f, const void* r) {
  switch (f.type) {
    case FieldType::Byte:
      return Load<std::uint8_t>(r, f.offset);
    case FieldType::Short:
      return Load<std::int16_t>(r, f.offset);
    case FieldType::UShort:
      return Load<std::uint16_t>(r, f.offset);
    case FieldType::Long:
    case FieldType::Date:
    case FieldType::Time:
      return Load<std::int32_t>(r, f.offset);
    case FieldType::ULong:
      return Load<std::uint32_t>(r, f.offset);
    case FieldType::Decimal:
      return Decimal::FromParts(Load<std::int64_t>(r, f.offset), FieldPlaces(f)).ToInteger();
    case FieldType::Real:
      return RealToInteger(Load<double>(r, f.offset));
    case FieldType::String:
    case FieldType::CString:
      return ReadDecimal(f, r).ToInteger();
  }
  return 0;
}

FieldFit WriteInteger(const FieldDesc& f, void* r, std::int64_t v) {
  std::int64_t low = 0;
  std::int64_t high = 0;
  if (IntegerRange(f.type, low, high)) {
    const bool none = v == 0 && (f.type == FieldType::Date || f.type == FieldType::Time);
    if (!none && (v < low || v > high)) return FieldFit::OutOfRange;
  }
  switch (f.type) {
    case FieldType::Byte:
      Store<std::uint8_t>(r, f.offset, static_cast<std::uint8_t>(v));
      break;
    case FieldType::Short:
      Store<std::int16_t>(r, f.offset, static_cast<std::int16_t>(v));
      break;
    case FieldType::UShort:
      Store<std::uint16_t>(r, f.offset, static_cast<std::uint16_t>(v));
      break;
    case FieldType::Long:
    case FieldType::Date:
    case FieldType::Time:
      Store<std::int32_t>(r, f.offset, static_cast<std::int32_t>(v));
      break;
    case FieldType::ULong:
      Store<std::uint32_t>(r, f.offset, static_cast<std::uint32_t>(v));
      break;
    case FieldType::Decimal:
      return WriteDecimal(f, r, Decimal(v));
    case FieldType::Real:
      Store<double>(r, f.offset, static_cast<double>(v));
      break;
    case FieldType::String:
    case FieldType::CString:
      return WriteText(f, r, std::to_string(v));
  }
  return FieldFit::Fits;
}

double ReadReal(const FieldDesc& f, const void* r) {
  if (f.type == FieldType::Real) return Load<double>(r, f.offset);
  if (IsText(f.type)) return ParseReal(ReadText(f, r));
  if (f.type == FieldType::Decimal) return ReadDecimal(f, r).ToDouble();
  return static_cast<double>(ReadInteger(f, r));
}

FieldFit WriteReal(const FieldDesc& f, void* r, double v) {
  if (f.type == FieldType::Real) {
    Store<double>(r, f.offset, v);
    return FieldFit::Fits;
  }
  if (IsText(f.type)) return WriteText(f, r, RealText(v));
  if (f.type == FieldType::Decimal) return WriteDecimal(f, r, Decimal::FromDouble(v));
  // Beyond 64 bits (or not a number) is beyond every integer field too.
  if (!std::isfinite(v) || std::fabs(v) >= 9.2e18) return FieldFit::OutOfRange;
  return WriteInteger(f, r, RealToInteger(v));
}

std::string ReadText(const FieldDesc& f, const void* r) {
  const char* p = static_cast<const char*>(r) + f.offset;
  switch (f.type) {
    case FieldType::String:
      return std::string(p, f.size);
    case FieldType::CString:
      return std::string(p, strnlen(p, f.size));
    case FieldType::Real:
      return RealText(Load<double>(r, f.offset));
    case FieldType::Decimal:
      return ReadDecimal(f, r).ToText();
    default:
      return std::to_string(ReadInteger(f, r));
  }
}

FieldFit WriteText(const FieldDesc& f, void* r, std::string_view text) {
  char* p = static_cast<char*>(r) + f.offset;
  if (f.type == FieldType::String) {
    const std::size_t n = Utf8CutLength(text, f.size);
    std::memcpy(p, text.data(), n);
    std::memset(p + n, ' ', f.size - n);
    return FieldFit::Fits;
  }
  if (f.type == FieldType::CString) {
    if (f.size == 0) return FieldFit::Fits;
    const std::size_t n = Utf8CutLength(text, f.size - 1);
    std::memcpy(p, text.data(), n);
    std::memset(p + n, 0, f.size - n);
    return FieldFit::Fits;
  }
  if (IsBlankText(text)) {
    ClearField(f, r);
    return FieldFit::Blank;
  }
  if (f.type == FieldType::Real) {
    if (!NumberShaped(text)) return FieldFit::Unreadable;
    const double v = std::strtod(std::string(Trim(text, kBlanks)).c_str(), nullptr);
    if (!std::isfinite(v)) return FieldFit::OutOfRange;
    Store<double>(r, f.offset, v);
    return FieldFit::Fits;
  }
  const auto value = Decimal::Parse(text);
  if (!value) return NumberShaped(text) ? FieldFit::OutOfRange : FieldFit::Unreadable;
  return WriteDecimal(f, r, *value);
}

Decimal ReadDecimal(const FieldDesc& f, const void* r) {
  switch (f.type) {
    case FieldType::Decimal:
      return Decimal::FromParts(Load<std::int64_t>(r, f.offset), FieldPlaces(f));
    case FieldType::Real:
      return Decimal::FromDouble(Load<double>(r, f.offset));
    case FieldType::String:
    case FieldType::CString: {
      const auto value = Decimal::Parse(ReadText(f, r));
      return value ? *value : Decimal::Invalid();
    }
    default:
      return Decimal(ReadInteger(f, r));
  }
}

FieldFit WriteDecimal(const FieldDesc& f, void* r, const Decimal& value) {
  if (!value.Valid()) return FieldFit::OutOfRange;
  switch (f.type) {
    case FieldType::Decimal: {
      const Decimal scaled = value.Rescale(FieldPlaces(f));
      if (!scaled.Valid() || scaled.Mantissa() < -kMaxDecimalMantissa) return FieldFit::OutOfRange;
      Store<std::int64_t>(r, f.offset, scaled.Mantissa());
      return FieldFit::Fits;
    }
    case FieldType::Real:
      Store<double>(r, f.offset, value.ToDouble());
      return FieldFit::Fits;
    case FieldType::String:
    case FieldType::CString:
      return WriteText(f, r, value.ToText());
    default:
      return WriteInteger(f, r, value.ToInteger());
  }
}

bool FieldLimits(const FieldDesc& f, Decimal& low, Decimal& high) {
  if (f.type == FieldType::Decimal) {
    high = Decimal::FromParts(kMaxDecimalMantissa, FieldPlaces(f));
    low = high.Negated();
    return true;
  }
  std::int64_t lowest = 0;
  std::int64_t highest = 0;
  if (!IntegerRange(f.type, lowest, highest)) return false;
  low = Decimal(lowest);
  high = Decimal(highest);
  return true;
}

void ClearField(const FieldDesc& f, void* r) {
  char* p = static_cast<char*>(r) + f.offset;
  std::memset(p, f.type == FieldType::String ? ' ' : 0, f.size);
}

}  // namespace rt
