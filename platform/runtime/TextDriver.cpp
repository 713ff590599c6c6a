#include "platform/runtime/TextDriver.h"

#include <fcntl.h>
#include <algorithm>
#include <cstring>

#include "platform/runtime/ErrorState.h"
#include "platform/runtime/File.h"
#include "platform/runtime/FilePosition.h"

namespace rt {

namespace {

constexpr std::size_t kReadBlock = 16384;

int BadPosition() {
  SetError(kDriverError, {}, "0", "Invalid position");
  return kDriverError;
}

// The field that holds the line: the first text field, or nullptr for the whole buffer.
const FieldDesc* LineField(const File& file) {
  for (const FieldDesc& f : file.Layout().Fields()) {
    if (IsText(f.type)) return &f;
  }
  return nullptr;
}

}  // namespace

int TextDriver::Create() {
  FileHandle handle;
  return handle.Open(file_.PhysicalName(), O_RDWR | O_CREAT | O_TRUNC);
}

int TextDriver::Open(int mode) {
  const int access = mode & 0x0F;
  const int flags = access == kAccessReadOnly    ? O_RDONLY
                    : access == kAccessWriteOnly ? O_WRONLY | O_APPEND
                                                 : O_RDWR | O_APPEND;
  pointer_ = 0;
  next_ = 0;
  bytesRead_ = 0;
  return handle_.Open(file_.PhysicalName(), flags);
}

int TextDriver::Close() {
  handle_.Close();
  ClearError();
  return kNoError;
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

int TextDriver::Position(const FileKey* key, std::string& position) {
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

int TextDriver::Reset(const FileKey* key, std::string_view position) {
  if (key) return NotSupported();
  const auto p = FilePosition::Decode(position);
  if (!p || p->kind != FilePosition::Kind::File || p->record < 1) return BadPosition();
  next_ = p->record - 1;
  ClearError();
  return kNoError;
}

int TextDriver::Reget(const FileKey* key, std::string_view position) {
  if (key) return NotSupported();
  const auto p = FilePosition::Decode(position);
  if (!p || p->kind != FilePosition::Kind::File) return BadPosition();
  return GetByPointer(p->record, 0);
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

int TextDriver::Size(std::int64_t& bytes) {
  return handle_.Size(bytes);
}

}  // namespace rt
