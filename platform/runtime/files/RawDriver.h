// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The RAW driver: any file read and written as records of the declared size at byte
// positions. Pointers are 1-based byte positions; a read moves at most the record's size
// (or the given length) and BytesRead tells how many bytes came; the rest of the buffer is
// left as it was. Next reads the following record-sized block; Add appends.

#include <cstdint>

#include "platform/runtime/files/PlainFileDriver.h"

namespace rt {

class RawDriver : public PlainFileDriver {
 public:
  explicit RawDriver(File& file) : PlainFileDriver(file) {}

  int Open(int mode) override;
  int Send(std::string_view option, std::string_view value, std::string& reply) override;
  int Records(std::int64_t& count) override;
  int SetFile() override;
  int Next() override;
  int GetByPointer(std::int64_t pointer, std::uint32_t length) override;
  int Reset(const FileKey* key, std::string_view position) override;
  int Add(std::uint32_t length) override;
  int Put() override;
  int WriteAt(std::int64_t pointer, std::uint32_t length) override;

 private:
  std::uint32_t Length(std::uint32_t length) const;
  int ReadAt(std::int64_t pointer, std::uint32_t length);

  std::int64_t next_ = 1;  // where Next reads
};

}  // namespace rt
