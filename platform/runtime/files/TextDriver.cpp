// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/files/TextDriver.h"

#include <fcntl.h>
#include <algorithm>
#include <cstring>

#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {

namespace {

constexpr std::size_t kReadBlock = 16384;

// The field that holds the line: the first text field, or nullptr for the whole buffer.
const FieldDesc* LineField(const File& file) {
  for (const FieldDesc& f : file.Layout().Fields()) {
    if (IsText(f.type)) return &f;
  }
  return nullptr;
}

bool CreateWhenMissing(const std::string& option) {
  return option == "1" || (option.size() == 2 && (option[0] == 'o' || option[0] == 'O') &&
                           (option[1] == 'n' || option[1] == 'N'));
}

}  // namespace

int TextDriver::Open(int mode) {
  int flags = AccessFlags(mode);
  if (flags != O_RDONLY) {
    flags |= O_APPEND;
    if (CreateWhenMissing(file_.Option("CREATE"))) flags |= O_CREAT;
  }
  next_ = 0;
  return OpenFile(flags);
}

int TextDriver::Records(std::int64_t& count) {
  count = 0;
  std::string block(kReadBlock, '\0');
  std::int64_t offset = 0;
  char last = '\n';
  for (;;) {
    std::size_t got = 0;
    if (int e = handle_.ReadAt(offset, block.data(), block.size(), got)) return e;
    if (got == 0) break;
    count += std::count(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got), '\n');
    last = block[got - 1];
    offset += static_cast<std::int64_t>(got);
  }
  if (last != '\n') ++count;  // a last line without its newline
  ClearError();
  return kNoError;
}

int TextDriver::SetFile() {
  next_ = 0;
  ClearError();
  return kNoError;
}

int TextDriver::ReadLine(std::int64_t offset) {
  std::string line;
  std::string block(kReadBlock, '\0');
  std::int64_t at = offset;
  bool ended = false;
  bool any = false;
  const std::size_t keep = file_.RecordSize() + 1;
  while (!ended) {
    std::size_t got = 0;
    if (int e = handle_.ReadAt(at, block.data(), block.size(), got)) return e;
    if (got == 0) break;
    any = true;
    const char* begin = block.data();
    const char* nl = static_cast<const char*>(std::memchr(begin, '\n', got));
    const std::size_t take = nl ? static_cast<std::size_t>(nl - begin) : got;
    if (line.size() < keep) line.append(begin, std::min(take, keep - line.size()));
    at += static_cast<std::int64_t>(take);
    if (nl) {
      at += 1;
      ended = true;
    }
  }
  if (!any) {
    SetError(kNoRecordError);
    return kNoRecordError;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  StoreLine(line);
  pointer_ = offset + 1;
  next_ = at;
  ClearError();
  return kNoError;
}

void TextDriver::StoreLine(const std::string& line) {
  if (const FieldDesc* f = LineField(file_)) {
    WriteText(*f, file_.Record(), line);
    bytesRead_ = static_cast<std::uint32_t>(std::min<std::size_t>(line.size(), f->size));
    return;
  }
  const std::size_t n = std::min<std::size_t>(line.size(), file_.RecordSize());
  std::memset(file_.Record(), ' ', file_.RecordSize());
  std::memcpy(file_.Record(), line.data(), n);
  bytesRead_ = static_cast<std::uint32_t>(n);
}

std::string TextDriver::LineText() const {
  std::string text;
  if (const FieldDesc* f = LineField(file_)) {
    text = ReadText(*f, file_.Record());
  } else {
    text.assign(reinterpret_cast<const char*>(file_.Record()), file_.RecordSize());
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
    text.pop_back();
  return text;
}

int TextDriver::Next() {
  return ReadLine(next_);
}

int TextDriver::GetByPointer(std::int64_t pointer, std::uint32_t) {
  if (pointer < 1) {
    SetError(kNoRecordError);
    return kNoRecordError;
  }
  return ReadLine(pointer - 1);
}

int TextDriver::Reset(const FileKey* key, std::string_view position) {
  std::int64_t pointer = 0;
  if (int e = DecodePointer(key, position, pointer)) return e;
  if (pointer < 1) return BadPosition();
  next_ = pointer - 1;
  ClearError();
  return kNoError;
}

int TextDriver::Add(std::uint32_t length) {
  std::string line = LineText();
  if (length > 0 && length < line.size()) line.resize(length);
  line.push_back('\n');
  std::int64_t before = 0;
  handle_.Size(before);
  if (int e = handle_.WriteAt(-1, line.data(), line.size())) return e;
  pointer_ = before + 1;
  return kNoError;
}

}  // namespace rt
