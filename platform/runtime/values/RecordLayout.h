// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// platform/runtime/values: the values the runtime works with and how they are stored: fixed
// strings, decimals, pictures (formatting and reading), record layouts over byte buffers,
// references to any value, queues, and the small text helpers (Text.h).
//
// The described layout of a record buffer: fields with a label, a type, an offset and a
// size. A table's record, a queue's entry and a window's bound group are byte buffers read
// and written through a layout.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/values/Decimal.h"

namespace rt {

enum class FieldType : std::uint8_t {
  Byte,     // unsigned 8-bit
  Short,    // signed 16-bit
  UShort,   // unsigned 16-bit
  Long,     // signed 32-bit
  ULong,    // unsigned 32-bit
  String,   // fixed length, space-padded
  CString,  // fixed capacity, NUL-terminated (at most size-1 characters)
  Decimal,  // exact decimal: signed 64-bit mantissa scaled by 10^places
  Date,     // signed 32-bit day count
  Time,     // signed 32-bit centiseconds since midnight, plus one
  Real,     // IEEE double
};

// Size in bytes of the numeric types; strings take their declared size.
std::uint32_t NumericSize(FieldType type);
bool IsNumeric(FieldType type);
bool IsText(FieldType type);

struct FieldDesc {
  std::string label;  // e.g. "DEM:ID"; matched without regard to case
  FieldType type = FieldType::Long;
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
  std::string picture;      // display picture, e.g. "n-14" or "s80"
  std::uint8_t places = 0;  // decimal places of a Decimal field
};

class RecordLayout {
 public:
  RecordLayout() = default;
  explicit RecordLayout(std::string name) : name_(std::move(name)) {}

  // Appends a field after the last one. `size` is needed only for strings. Returns the
  // field's 1-based number.
  int AddField(std::string label, FieldType type, std::uint32_t size = 0, std::string picture = {},
               std::uint8_t places = 0);

  const std::string& Name() const { return name_; }
  std::uint32_t Size() const { return size_; }
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  // 1-based field number.
  const FieldDesc& Field(int number) const { return fields_.at(number - 1); }
  const std::vector<FieldDesc>& Fields() const { return fields_; }
  // 1-based number of the field with this label (case-insensitive), or 0.
  int FindField(std::string_view label) const;

 private:
  std::string name_;
  std::vector<FieldDesc> fields_;
  std::uint32_t size_ = 0;
};

// How a value written to a field fitted it. A value that does not fit leaves the field as
// it was, so that no wrapped or zeroed number ever stands in for what was meant.
enum class FieldFit : std::uint8_t {
  Fits,        // written (an integer field drops a fraction, a Decimal rounds to its places,
               // a text is cut to its field)
  Blank,       // blank text for a number: written as zero
  Unreadable,  // text that is not a number, for a numeric field: nothing written
  OutOfRange,  // a number the field cannot hold: nothing written
};

// Byte-level access to one field of a buffer. Numbers are read and written in the host's
// byte order; texts of String fields come back with trailing blanks kept. Decimal fields
// are read and written by value: ReadInteger drops the fraction, ReadText gives the plain
// text with the field's places ("-3.50"), and text is written exactly (never through a
// double), rounded half away from zero to the field's places. Every write says how the
// value fitted: integers beyond their type's range, Decimals past their digits (a signed
// 64-bit mantissa, lowest value left out so that every value negates), day counts
// past 31 December 9999, time values past 23:59:59.99, and text that is not a number are
// refused and write nothing.
std::int64_t ReadInteger(const FieldDesc& field, const void* record);
FieldFit WriteInteger(const FieldDesc& field, void* record, std::int64_t value);
double ReadReal(const FieldDesc& field, const void* record);
FieldFit WriteReal(const FieldDesc& field, void* record, double value);
std::string ReadText(const FieldDesc& field, const void* record);
// Writes text into a String (padded with blanks) or CString field, cut at the field's size
// but never inside a UTF-8 character; or reads it as a number for a numeric field.
FieldFit WriteText(const FieldDesc& field, void* record, std::string_view text);
// Exact value of a numeric or numeric-text field (invalid for text that is not a number);
// Real fields go through their shortest exact text.
Decimal ReadDecimal(const FieldDesc& field, const void* record);
// Writes a value: rounded to a Decimal field's places, truncated towards zero for integer
// fields; an invalid value is out of range.
FieldFit WriteDecimal(const FieldDesc& field, void* record, const Decimal& value);
// The lowest and highest value a numeric field other than Real holds; false for the rest.
// Dates and times hold zero (no date, no time) too.
bool FieldLimits(const FieldDesc& field, Decimal& low, Decimal& high);
// Shortest text that reads back as the same double ("0.1", "12", "1e+300").
std::string RealText(double value);
// Clears a field: blanks for String, empty for CString, zero otherwise.
void ClearField(const FieldDesc& field, void* record);

}  // namespace rt
