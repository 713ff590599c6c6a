// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The parameters of one statement of an SQL table driver, in placeholder order, as the
// driver code both drivers share builds them; each driver binds them its own way. Bytes are
// borrowed until the statement has run.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/runtime/files/FilePosition.h"

namespace rt {

// Bytes bound as a BLOB.
struct SqlBytes {
  std::string_view bytes;
};
using SqlArg = std::variant<std::int64_t, double, std::string, SqlBytes>;

class SqlArgs {
 public:
  void Int(std::int64_t v) { args_.emplace_back(v); }
  void Real(double v) { args_.emplace_back(v); }
  void Text(std::string v) { args_.emplace_back(std::move(v)); }
  void Bytes(const void* data, std::size_t size) {
    args_.emplace_back(SqlBytes{std::string_view(static_cast<const char*>(data), size)});
  }
  void Value(KeyValue v) {
    std::visit([this](auto&& x) { args_.emplace_back(std::forward<decltype(x)>(x)); },
               std::move(v));
  }

  std::vector<SqlArg>::const_iterator begin() const { return args_.begin(); }
  std::vector<SqlArg>::const_iterator end() const { return args_.end(); }

 private:
  std::vector<SqlArg> args_;
};

}  // namespace rt
