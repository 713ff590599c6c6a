// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Positions: opaque byte strings of at most kMaxPositionSize bytes that identify a record in a
// key (the key's values and the record id) or in record order (the record id alone). They stay
// valid while other records are added and deleted: resetting to a position whose record is gone
// continues with its neighbour in the same order.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace rt {

inline constexpr std::size_t kMaxPositionSize = 1024;

// One key component value as stored: an integer, a real or a text.
using KeyValue = std::variant<std::int64_t, double, std::string>;

class FilePosition {
 public:
  enum class Kind : std::uint8_t { File, Key, KeyRecordOnly };

  Kind kind = Kind::File;
  int key = 0;                   // key number for Key and KeyRecordOnly
  std::vector<KeyValue> values;  // Key only
  std::int64_t record = 0;       // record id (or byte pointer for raw files)

  // Encodes the position; a key position whose values would not fit in kMaxPositionSize
  // bytes is stored as KeyRecordOnly (the values are then looked up by record id).
  std::string Encode() const;
  // Appends what Encode gives for a Key position with these values, without a copy of them.
  static void AppendKey(std::string& out, int key, const std::vector<KeyValue>& values,
                        std::int64_t record);
  // Decodes a position made by Encode; nullopt for anything malformed.
  static std::optional<FilePosition> Decode(std::string_view bytes);
};

}  // namespace rt
