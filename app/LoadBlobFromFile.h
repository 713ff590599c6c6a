// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Copies a file from disk into a BLOB of a table's current record buffer, in 32768-byte
// reads through the thread's RAW file INFILE. Nothing is written to the table: the record
// must be inserted or updated afterwards.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/files/File.h"

inline constexpr std::uint32_t kInFileRecordSize = 32768;

// The calling thread's INFILE: RAW driver, one 32768-byte string BUFFER; its name is set
// before each open.
rt::File& InFile();
// Destroys the calling thread's INFILE, when it made one.
void DestroyInFile();

// Returns 0 when every byte was copied; otherwise the BLOB holds what it held before and the
// result is 36 (rt::kBadNameError) for an empty name, a name holding a NUL or an empty file,
// 8 (rt::kFileSystemError) when the file changed while it was read (its size or time of
// change differ afterwards, or a read came back short), or the runtime's error code of the
// failed open, read or BLOB write.
[[nodiscard]] int LoadBlobFromFile(rt::File& table, int blob, std::string_view name);

// The runtime's text of the calling thread's last error, for a message saying why a file was
// not stored; "error <code>" when the runtime gave none.
std::string LoadErrorText(int code);
