#include "platform/runtime/RecordLayout.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace rt {

std::uint32_t NumericSize(FieldType type) {
  switch (type) {
    case FieldType::Byte: return 1;
    case FieldType::Short:
    case FieldType::UShort: return 2;
    case FieldType::Long:
    case FieldType::ULong:
    case FieldType::Date:
    case FieldType::Time: return 4;
    case FieldType::Decimal:
    case FieldType::Real: return 8;
    case FieldType::String:
    case FieldType::CString: return 0;
  }
  return 0;
}

bool IsText(FieldType type) { return type == FieldType::String || type == FieldType::CString; }
bool IsNumeric(FieldType type) { return !IsText(type); }

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
    if (l.size() == label.size() && strncasecmp(l.data(), label.data(), l.size()) == 0) {
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

std::int64_t ReadInteger(const FieldDesc& f, const void* r) {
  switch (f.type) {
    case FieldType::Byte: return Load<std::uint8_t>(r, f.offset);
    case FieldType::Short: return Load<std::int16_t>(r, f.offset);
    case FieldType::UShort: return Load<std::uint16_t>(r, f.offset);
    case FieldType::Long:
    case FieldType::Date:
    case FieldType::Time: return Load<std::int32_t>(r, f.offset);
    case FieldType::ULong: return Load<std::uint32_t>(r, f.offset);
    case FieldType::Decimal: return Load<std::int64_t>(r, f.offset);
    case FieldType::Real: return static_cast<std::int64_t>(Load<double>(r, f.offset));
    case FieldType::String:
    case FieldType::CString: return std::strtoll(ReadText(f, r).c_str(), nullptr, 10);
  }
  return 0;
}

void WriteInteger(const FieldDesc& f, void* r, std::int64_t v) {
  switch (f.type) {
    case FieldType::Byte: Store<std::uint8_t>(r, f.offset, static_cast<std::uint8_t>(v)); break;
    case FieldType::Short: Store<std::int16_t>(r, f.offset, static_cast<std::int16_t>(v)); break;
    case FieldType::UShort: Store<std::uint16_t>(r, f.offset, static_cast<std::uint16_t>(v)); break;
    case FieldType::Long:
    case FieldType::Date:
    case FieldType::Time: Store<std::int32_t>(r, f.offset, static_cast<std::int32_t>(v)); break;
    case FieldType::ULong: Store<std::uint32_t>(r, f.offset, static_cast<std::uint32_t>(v)); break;
    case FieldType::Decimal: Store<std::int64_t>(r, f.offset, v); break;
    case FieldType::Real: Store<double>(r, f.offset, static_cast<double>(v)); break;
    case FieldType::String:
    case FieldType::CString: WriteText(f, r, std::to_string(v)); break;
  }
}

double ReadReal(const FieldDesc& f, const void* r) {
  if (f.type == FieldType::Real) return Load<double>(r, f.offset);
  if (IsText(f.type)) return std::strtod(ReadText(f, r).c_str(), nullptr);
  return static_cast<double>(ReadInteger(f, r));
}

void WriteReal(const FieldDesc& f, void* r, double v) {
  if (f.type == FieldType::Real) {
    Store<double>(r, f.offset, v);
  } else if (IsText(f.type)) {
    WriteText(f, r, std::to_string(v));
  } else {
    WriteInteger(f, r, static_cast<std::int64_t>(v));
  }
}

std::string ReadText(const FieldDesc& f, const void* r) {
  const char* p = static_cast<const char*>(r) + f.offset;
  if (f.type == FieldType::String) return std::string(p, f.size);
  if (f.type == FieldType::CString) return std::string(p, strnlen(p, f.size));
  if (f.type == FieldType::Real) return std::to_string(Load<double>(r, f.offset));
  return std::to_string(ReadInteger(f, r));
}

void WriteText(const FieldDesc& f, void* r, std::string_view text) {
  char* p = static_cast<char*>(r) + f.offset;
  if (f.type == FieldType::String) {
    const std::size_t n = std::min<std::size_t>(text.size(), f.size);
    std::memcpy(p, text.data(), n);
    std::memset(p + n, ' ', f.size - n);
  } else if (f.type == FieldType::CString) {
    if (f.size == 0) return;
    const std::size_t n = std::min<std::size_t>(text.size(), f.size - 1);
    std::memcpy(p, text.data(), n);
    std::memset(p + n, 0, f.size - n);
  } else if (f.type == FieldType::Real) {
    Store<double>(r, f.offset, std::strtod(std::string(text).c_str(), nullptr));
  } else {
    WriteInteger(f, r, std::strtoll(std::string(text).c_str(), nullptr, 10));
  }
}

void ClearField(const FieldDesc& f, void* r) {
  char* p = static_cast<char*>(r) + f.offset;
  std::memset(p, f.type == FieldType::String ? ' ' : 0, f.size);
}

}  // namespace rt
