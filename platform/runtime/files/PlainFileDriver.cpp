// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/files/PlainFileDriver.h"

#include <fcntl.h>

#include "platform/runtime/files/File.h"
#include "platform/runtime/files/FilePosition.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {

int PlainFileDriver::Create() {
  FileHandle handle;
  return handle.Open(file_.PhysicalName(), O_RDWR | O_CREAT | O_TRUNC);
}

int PlainFileDriver::AccessFlags(int mode) {
  const int access = mode & 0x0F;
  return access == kAccessReadOnly ? O_RDONLY : access == kAccessWriteOnly ? O_WRONLY : O_RDWR;
}

int PlainFileDriver::OpenFile(int flags) {
  pointer_ = 0;
  bytesRead_ = 0;
  return handle_.Open(file_.PhysicalName(), flags);
}

int PlainFileDriver::Close() {
  handle_.Close();
  ClearError();
  return kNoError;
}

int PlainFileDriver::Position(const FileKey* key, std::string& position) {
  if (key) return NotSupported();
  if (pointer_ == 0) {
    SetError(kNoRecordError);
    return kNoRecordError;
  }
  FilePosition p;
  p.record = pointer_;
  position = p.Encode();
  ClearError();
  return kNoError;
}

int PlainFileDriver::BadPosition() {
  SetError(kDriverError, {}, "0", "Invalid position");
  return kDriverError;
}

int PlainFileDriver::DecodePointer(const FileKey* key, std::string_view position,
                                   std::int64_t& pointer) {
  if (key) return NotSupported();
  const auto p = FilePosition::Decode(position);
  if (!p || p->kind != FilePosition::Kind::File) return BadPosition();
  pointer = p->record;
  return kNoError;
}

int PlainFileDriver::Reget(const FileKey* key, std::string_view position) {
  std::int64_t pointer = 0;
  if (int e = DecodePointer(key, position, pointer)) return e;
  return GetByPointer(pointer, 0);
}

int PlainFileDriver::Size(std::int64_t& bytes) {
  return handle_.Size(bytes);
}

}  // namespace rt
