// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the RAW and TEXT drivers share: one plain file opened by its physical name, the
// current record's 1-based byte pointer, the bytes the last read moved, and positions that
// carry that pointer.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/files/FileDriver.h"
#include "platform/runtime/files/FileHandle.h"

namespace rt {

class PlainFileDriver : public FileDriver {
 public:
  explicit PlainFileDriver(File& file) : FileDriver(file) {}

  // Creates the file, or empties it when it exists.
  int Create() override;
  int Close() override;
  int Position(const FileKey* key, std::string& position) override;
  // Reads the record at the position's pointer.
  int Reget(const FileKey* key, std::string_view position) override;
  std::int64_t Pointer() const override { return pointer_; }
  int Size(std::int64_t& bytes) override;
  std::uint32_t BytesRead() const override { return bytesRead_; }

 protected:
  // open(2) access flags of an open mode.
  static int AccessFlags(int mode);
  // Opens the physical file with open(2) flags; no record is current afterwards.
  int OpenFile(int flags);
  // The pointer held by a position made by Position; sets the error and returns it when the
  // position is not one of a plain file (or a key is given).
  int DecodePointer(const FileKey* key, std::string_view position, std::int64_t& pointer);
  static int BadPosition();

  FileHandle handle_;
  std::int64_t pointer_ = 0;  // 1-based position of the current record, 0 none
  std::uint32_t bytesRead_ = 0;
};

}  // namespace rt
