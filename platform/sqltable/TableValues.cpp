// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sqltable/TableValues.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace rt {

namespace {

template <typename T>
T Load(const std::uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void StoreAs(std::uint8_t* p, std::int64_t v) {
  const T t = static_cast<T>(v);
  std::memcpy(p, &t, sizeof t);
}

// The range of values an integer field of the type can hold.
bool FitsField(FieldType type, std::int64_t v) {
  auto within = [v](auto lo, auto hi) {
    return v >= static_cast<std::int64_t>(lo) && v <= static_cast<std::int64_t>(hi);
  };
  switch (type) {
    case FieldType::Byte:
      return within(0, 255);
    case FieldType::Short:
      return within(std::numeric_limits<std::int16_t>::min(),
                    std::numeric_limits<std::int16_t>::max());
    case FieldType::UShort:
      return within(0, std::numeric_limits<std::uint16_t>::max());
    case FieldType::Long:
    case FieldType::Date:
    case FieldType::Time:
      return within(std::numeric_limits<std::int32_t>::min(),
                    std::numeric_limits<std::int32_t>::max());
    case FieldType::ULong:
      return within(0, std::numeric_limits<std::uint32_t>::max());
    default:
      return true;
  }
}

}  // namespace

KeyValue FieldValue(const FieldDesc& f, const std::uint8_t* record) {
  const std::uint8_t* p = record + f.offset;
  switch (f.type) {
    case FieldType::Byte:
      return static_cast<std::int64_t>(Load<std::uint8_t>(p));
    case FieldType::Short:
      return static_cast<std::int64_t>(Load<std::int16_t>(p));
    case FieldType::UShort:
      return static_cast<std::int64_t>(Load<std::uint16_t>(p));
    case FieldType::Long:
    case FieldType::Date:
    case FieldType::Time:
      return static_cast<std::int64_t>(Load<std::int32_t>(p));
    case FieldType::ULong:
      return static_cast<std::int64_t>(Load<std::uint32_t>(p));
    case FieldType::Decimal:
      return Load<std::int64_t>(p);
    case FieldType::Real:
      return Load<double>(p);
    case FieldType::String: {
      std::size_t n = f.size;
      while (n > 0 && p[n - 1] == ' ')
        --n;
      return std::string(reinterpret_cast<const char*>(p), n);
    }
    case FieldType::CString:
      return std::string(reinterpret_cast<const char*>(p),
                         strnlen(reinterpret_cast<const char*>(p), f.size));
  }
  return std::int64_t{0};
}

std::vector<KeyValue> KeyValues(const RecordLayout& layout, const FileKey& key,
                                const std::uint8_t* record) {
  std::vector<KeyValue> values;
  values.reserve(key.Components().size());
  for (const KeyComponent& c : key.Components())
    values.push_back(FieldValue(layout.Field(c.field), record));
  return values;
}

KeyValue ColumnValue(FieldType type, const KeyValue& value) {
  const auto* i = std::get_if<std::int64_t>(&value);
  const auto* d = std::get_if<double>(&value);
  if (IsText(type)) {
    const auto* text = std::get_if<std::string>(&value);
    return text ? *text : std::string();
  }
  if (type == FieldType::Real) return d ? *d : (i ? static_cast<double>(*i) : 0.0);
  return i ? *i : (d ? static_cast<std::int64_t>(*d) : std::int64_t{0});
}

const char* SqlColumnType(FieldType t) {
  if (t == FieldType::Real) return "REAL";
  if (t == FieldType::String || t == FieldType::CString) return "TEXT";
  return "INTEGER";
}

bool PutInteger(const FieldDesc& d, std::uint8_t* record, std::int64_t v) {
  if (!FitsField(d.type, v)) return false;
  std::uint8_t* p = record + d.offset;
  switch (d.type) {
    case FieldType::Byte:
      StoreAs<std::uint8_t>(p, v);
      break;
    case FieldType::Short:
      StoreAs<std::int16_t>(p, v);
      break;
    case FieldType::UShort:
      StoreAs<std::uint16_t>(p, v);
      break;
    case FieldType::Long:
    case FieldType::Date:
    case FieldType::Time:
      StoreAs<std::int32_t>(p, v);
      break;
    case FieldType::ULong:
      StoreAs<std::uint32_t>(p, v);
      break;
    case FieldType::Decimal:
      StoreAs<std::int64_t>(p, v);
      break;
    default:
      break;
  }
  return true;
}

void PutReal(const FieldDesc& d, std::uint8_t* record, double v) {
  std::memcpy(record + d.offset, &v, sizeof v);
}

bool PutText(const FieldDesc& d, std::uint8_t* record, std::string_view t) {
  // Stored texts never exceed the field (a full CString has no terminator).
  if (t.size() > d.size) return false;
  std::uint8_t* p = record + d.offset;
  if (d.type == FieldType::String) {
    const std::size_t n = t.size();
    if (n > 0) std::memcpy(p, t.data(), n);
    std::memset(p + n, ' ', d.size - n);
  } else if (d.size > 0) {
    const std::size_t n = std::min<std::size_t>(t.size(), d.size - 1);
    if (n > 0) std::memcpy(p, t.data(), n);
    std::memset(p + n, 0, d.size - n);
  }
  return true;
}

std::string OutOfRange(const FieldDesc& d, std::int64_t value) {
  return "value " + std::to_string(value) + " of " + d.label + " out of range";
}

std::string OutOfRange(const FieldDesc& d, std::string_view text) {
  return "text of " + std::to_string(text.size()) + " bytes for " + d.label + " of " +
         std::to_string(d.size);
}

std::string BlobSizeProblem(int blob, std::int64_t size) {
  if (size >= 0 && size <= kTableMaxBlobSize) return {};
  return "BLOB " + std::to_string(blob) + " size " + std::to_string(size) + " out of range";
}

std::string ChunkProblem(int blob, std::int64_t size, std::int64_t chunk, std::size_t length) {
  const std::string where = "BLOB " + std::to_string(blob) + " chunk " + std::to_string(chunk);
  if (chunk < 0 || chunk >= ChunkCount(size)) return where + " out of range";
  const std::int64_t expected = std::min(kTableChunkSize, size - chunk * kTableChunkSize);
  if (static_cast<std::int64_t>(length) != expected) {
    return where + " holds " + std::to_string(length) + " bytes instead of " +
           std::to_string(expected);
  }
  return {};
}

}  // namespace rt
