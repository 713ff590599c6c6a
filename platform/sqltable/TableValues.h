// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the SQL table drivers share about values: a field's value as a column holds it, the
// fields of a row read back into a record buffer with the range checks every value read
// passes, and the geometry of BLOB chunks. A value a field cannot hold means the table is
// damaged (or a server answered something no driver wrote) and is refused as 47.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/files/FileKey.h"
#include "platform/runtime/files/FilePosition.h"
#include "platform/runtime/values/RecordLayout.h"

namespace rt {

// BLOB contents are stored in chunks of this many bytes, each with its checksum
// (ChunkChecksum.h).
inline constexpr std::int64_t kTableChunkSize = 256 * 1024;
// The largest BLOB size accepted from a table; a larger stored size means the table is damaged.
inline constexpr std::int64_t kTableMaxBlobSize = std::int64_t{1} << 40;

// The value of a field as its column stores it: an integer, a real, or a text (a String
// without its trailing blanks, a CString up to its terminator).
KeyValue FieldValue(const FieldDesc& field, const std::uint8_t* record);
// The values of a key's components in a record.
std::vector<KeyValue> KeyValues(const RecordLayout& layout, const FileKey& key,
                                const std::uint8_t* record);
// A value as a column of the field type holds it: a text for a text field, a real for a Real
// field, an integer otherwise; a number of the other kind is converted, a text where a
// number belongs reads as 0 and a number where a text belongs as no text.
KeyValue ColumnValue(FieldType type, const KeyValue& value);
// The SQL column type of a field: "INTEGER", "REAL" or "TEXT".
const char* SqlColumnType(FieldType type);

// Each puts a value read from a table into its field of the record buffer; false when the
// field cannot hold it (an integer out of the field's range, a text longer than the field).
bool PutInteger(const FieldDesc& field, std::uint8_t* record, std::int64_t value);
void PutReal(const FieldDesc& field, std::uint8_t* record, double value);
bool PutText(const FieldDesc& field, std::uint8_t* record, std::string_view text);
// Why a value read for a field is refused ("value 300 of TST:Grp out of range").
std::string OutOfRange(const FieldDesc& field, std::int64_t value);
std::string OutOfRange(const FieldDesc& field, std::string_view text);
// Checks a stored BLOB size; "" when it is in range, otherwise why not.
std::string BlobSizeProblem(int blob, std::int64_t size);

// The number of chunks a BLOB of `size` bytes is stored in.
inline std::int64_t ChunkCount(std::int64_t size) {
  return (size + kTableChunkSize - 1) / kTableChunkSize;
}
// Checks one stored chunk of a BLOB of `size` bytes against its place: "" when chunk number
// `chunk` may hold `length` bytes, otherwise why not.
std::string ChunkProblem(int blob, std::int64_t size, std::int64_t chunk, std::size_t length);

}  // namespace rt
