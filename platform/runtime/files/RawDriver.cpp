// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/files/RawDriver.h"

#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {

int RawDriver::Open(int mode) {
  next_ = 1;
  return OpenFile(AccessFlags(mode));
}

int RawDriver::Send(std::string_view, std::string_view, std::string&) {
  return NotSupported();
}

std::uint32_t RawDriver::Length(std::uint32_t length) const {
  const std::uint32_t size = file_.RecordSize();
  return length == 0 || length > size ? size : length;
}

int RawDriver::Records(std::int64_t& count) {
  std::int64_t bytes = 0;
  if (int e = handle_.Size(bytes)) return e;
  const std::int64_t size = file_.RecordSize();
  count = size == 0 ? 0 : (bytes + size - 1) / size;
  return kNoError;
}

int RawDriver::SetFile() {
  next_ = 1;
  ClearError();
  return kNoError;
}

int RawDriver::ReadAt(std::int64_t pointer, std::uint32_t length) {
  if (pointer < 1) {
    SetError(kNoRecordError);
    return kNoRecordError;
  }
  std::size_t got = 0;
  if (int e = handle_.ReadAt(pointer - 1, file_.Record(), Length(length), got)) return e;
  if (got == 0) {
    SetError(kNoRecordError);
    return kNoRecordError;
  }
  pointer_ = pointer;
  bytesRead_ = static_cast<std::uint32_t>(got);
  next_ = pointer + static_cast<std::int64_t>(got);
  ClearError();
  return kNoError;
}

int RawDriver::Next() {
  return ReadAt(next_, 0);
}

int RawDriver::GetByPointer(std::int64_t pointer, std::uint32_t length) {
  return ReadAt(pointer, length);
}

int RawDriver::Reset(const FileKey* key, std::string_view position) {
  std::int64_t pointer = 0;
  if (int e = DecodePointer(key, position, pointer)) return e;
  next_ = pointer;
  ClearError();
  return kNoError;
}

int RawDriver::Add(std::uint32_t length) {
  std::int64_t end = 0;
  if (int e = handle_.Size(end)) return e;
  return WriteAt(end + 1, length);
}

int RawDriver::Put() {
  if (pointer_ == 0) {
    SetError(kNoRecordError);
    return kNoRecordError;
  }
  return WriteAt(pointer_, bytesRead_);
}

int RawDriver::WriteAt(std::int64_t pointer, std::uint32_t length) {
  if (pointer < 1) {
    SetError(kNoRecordError);
    return kNoRecordError;
  }
  const std::uint32_t n = Length(length);
  if (int e = handle_.WriteAt(pointer - 1, file_.Record(), n)) return e;
  pointer_ = pointer;
  bytesRead_ = n;
  return kNoError;
}

}  // namespace rt
