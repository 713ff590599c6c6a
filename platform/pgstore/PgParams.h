// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The parameters of one statement: integers and reals sent in the binary format, texts as
// text and bytes as binary; the values are copied (or, for Bytes, borrowed until the call).

#include <libpq-fe.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/pgstore/PgResult.h"
#include "platform/runtime/files/FilePosition.h"

namespace rt {

class PgParams {
 public:
  void Int(std::int64_t v) {
    auto& slot = numbers_.emplace_back();
    const auto bits = static_cast<std::uint64_t>(v);
    for (int i = 0; i < 8; ++i)
      slot[i] = static_cast<char>(bits >> (56 - 8 * i));
    Add(slot.data(), 8, 1, kPgInt8);
  }
  void Real(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    auto& slot = numbers_.emplace_back();
    for (int i = 0; i < 8; ++i)
      slot[i] = static_cast<char>(bits >> (56 - 8 * i));
    Add(slot.data(), 8, 1, kPgFloat8);
  }
  void Text(std::string_view v) {
    // Sent in binary (the bytes as they are), so that the text needs no terminator.
    const std::string& copy = texts_.emplace_back(v);
    Add(copy.data(), copy.size(), 1, kPgText);
  }
  // Bytes that stay alive until the statement has run.
  void Bytes(const void* data, std::size_t size) {
    Add(size == 0 ? "" : static_cast<const char*>(data), size, 1, kPgBytea);
  }
  void Value(const KeyValue& v) {
    if (const auto* i = std::get_if<std::int64_t>(&v)) {
      Int(*i);
    } else if (const auto* d = std::get_if<double>(&v)) {
      Real(*d);
    } else {
      Text(std::get<std::string>(v));
    }
  }
  void Clear() {
    numbers_.clear();
    texts_.clear();
    values_.clear();
    lengths_.clear();
    formats_.clear();
    types_.clear();
  }

  int Count() const { return static_cast<int>(values_.size()); }
  const char* const* Values() const { return values_.data(); }
  const int* Lengths() const { return lengths_.data(); }
  const int* Formats() const { return formats_.data(); }
  const Oid* Types() const { return types_.data(); }

 private:
  void Add(const char* data, std::size_t size, int format, Oid type) {
    values_.push_back(data);
    lengths_.push_back(static_cast<int>(size));
    formats_.push_back(format);
    types_.push_back(type);
  }
  std::deque<std::array<char, 8>> numbers_;
  std::deque<std::string> texts_;
  std::vector<const char*> values_;
  std::vector<int> lengths_;
  std::vector<int> formats_;
  std::vector<Oid> types_;
};

}  // namespace rt
