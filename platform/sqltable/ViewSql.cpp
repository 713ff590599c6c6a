// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sqltable/ViewSql.h"

#include <cstring>

#include "platform/runtime/values/Text.h"

namespace rt {

namespace {
constexpr char kViewTag = 'V';
}  // namespace

std::string ViewSignature(const std::vector<ViewOrderComponent>& order) {
  std::string signature;
  for (const ViewOrderComponent& c : order) {
    signature += std::to_string(c.field);
    signature += c.ascending ? '+' : '-';
    signature += c.fold == CaseFold::Upper ? 'U' : (c.fold == CaseFold::Lower ? 'L' : 'N');
    signature += ',';
  }
  return signature;
}

void EncodeViewPosition(std::string_view signature, const std::vector<KeyValue>& values,
                        std::int64_t record, std::string& out) {
  // The tag, the signature's length and the signature, written in one go.
  const std::size_t head = 3 + signature.size();
  out.resize(head);
  out[0] = kViewTag;
  out[1] = static_cast<char>((signature.size() >> 8) & 0xFF);
  out[2] = static_cast<char>(signature.size() & 0xFF);
  if (!signature.empty()) std::memcpy(out.data() + 3, signature.data(), signature.size());
  FilePosition::AppendKey(out, 0, values, record);
  if (out.size() > kMaxPositionSize) {
    out.resize(head);
    FilePosition p;
    p.kind = FilePosition::Kind::KeyRecordOnly;
    p.record = record;
    out += p.Encode();
  }
}

bool DecodeViewPosition(std::string_view bytes, std::string& signature, FilePosition& position) {
  if (bytes.size() < 3 || bytes.size() > kMaxPositionSize || bytes[0] != kViewTag) return false;
  const std::size_t length = (static_cast<std::size_t>(static_cast<unsigned char>(bytes[1])) << 8) |
                             static_cast<unsigned char>(bytes[2]);
  if (bytes.size() - 3 < length) return false;
  signature = std::string(bytes.substr(3, length));
  auto decoded = FilePosition::Decode(bytes.substr(3 + length));
  if (!decoded || decoded->kind == FilePosition::Kind::File) return false;
  position = std::move(*decoded);
  return true;
}

bool ConditionSql(const RecordLayout& layout, const ViewCondition& c, const char*& op,
                  KeyValue& value) {
  switch (c.op) {
    case CompareOp::Equal:
      op = " = ";
      break;
    case CompareOp::NotEqual:
      op = " <> ";
      break;
    case CompareOp::Less:
      op = " < ";
      break;
    case CompareOp::Greater:
      op = " > ";
      break;
    case CompareOp::LessEqual:
      op = " <= ";
      break;
    case CompareOp::GreaterEqual:
      op = " >= ";
      break;
    case CompareOp::Like:
      return false;
  }
  const FieldDesc& desc = layout.Field(c.field);
  if (desc.type == FieldType::String) {
    if (!c.literal.IsText()) return false;
    value = std::string(TrimRight(c.literal.Text()));
    return true;
  }
  if (IsNumeric(desc.type) && desc.type != FieldType::Decimal && c.fold == CaseFold::None) {
    if (!c.literal.IsNumber()) return false;
    value = c.literal.Number();
    return true;
  }
  return false;
}

}  // namespace rt
