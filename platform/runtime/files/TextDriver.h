// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The TEXT driver: a text file read line by line and appended to line by line. The record's
// first text field holds the line (the whole buffer when the record has no text field); a
// line longer than the field is cut, and the rest of it is skipped. A trailing "\r" is
// dropped. Add appends the field's text without trailing blanks and a newline in a single
// write, so several threads or processes may append to the same file. With the option
// "CREATE=on" sent before, an open for writing creates a missing file (never truncating one
// that exists). Pointers are the 1-based byte position of a line's start.

#include <cstdint>
#include <string>

#include "platform/runtime/files/PlainFileDriver.h"

namespace rt {

class TextDriver : public PlainFileDriver {
 public:
  explicit TextDriver(File& file) : PlainFileDriver(file) {}

  int Open(int mode) override;
  int Records(std::int64_t& count) override;
  int SetFile() override;
  int Next() override;
  int GetByPointer(std::int64_t pointer, std::uint32_t length) override;
  int Reset(const FileKey* key, std::string_view position) override;
  int Add(std::uint32_t length) override;

 private:
  // Reads the line starting at the 0-based offset into the record.
  int ReadLine(std::int64_t offset);
  void StoreLine(const std::string& line);
  std::string LineText() const;

  std::int64_t next_ = 0;  // 0-based offset of the next line
};

}  // namespace rt
