// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LoadBlobFromFile.h"

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/runtime/files/FileHandle.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Text.h"

namespace {

constexpr int kReadShared = rt::kAccessReadOnly | rt::kShareDenyNone;  // 40h
constexpr std::int64_t kFileBufferBytes = 512;

std::unique_ptr<rt::File> MakeInFile() {
  rt::RecordLayout layout("INFILE");
  layout.AddField("BUFFER", rt::FieldType::String, kInFileRecordSize);
  return std::make_unique<rt::File>("INFILE", "", "RAW", std::move(layout));
}

rt::ThreadLocal<rt::File>& InFiles() {
  static rt::ThreadLocal<rt::File> files(MakeInFile);
  return files;
}

// Copies the whole file into the BLOB; returns 0 or the error code.
int CopyChunks(rt::File& in, rt::File& table, int blob, std::int64_t size) {
  // A buffering hint: the copy reads the same bytes without it.
  static_cast<void>(in.Send(
      "FILEBUFFERS=" + std::to_string(std::llround(static_cast<double>(size) / kFileBufferBytes))));
  if (int e = table.SetBlobSize(blob, size)) return e;
  std::int64_t pos = 0;
  while (pos < size) {
    const std::int64_t remaining = size - pos;
    const std::uint32_t chunk = remaining > kInFileRecordSize - 1
                                    ? kInFileRecordSize
                                    : static_cast<std::uint32_t>(remaining);
    if (int e = in.GetByPointer(pos + 1, chunk)) return e;
    if (in.BytesRead() != chunk) {
      // The file shrank while it was read: the rest of the buffer holds stale bytes.
      rt::SetError(rt::kFileSystemError, "The file was shorter than its size when read");
      return rt::kFileSystemError;
    }
    if (int e = table.WriteBlob(blob, pos, in.Record(), chunk)) return e;
    pos += chunk;
  }
  return rt::kNoError;
}

struct FileStamp {
  bool known = false;
  std::uintmax_t size = 0;
  std::filesystem::file_time_type modified{};
};

FileStamp StampOf(const std::string& name) {
  FileStamp stamp;
  std::error_code ec;
  stamp.size = std::filesystem::file_size(name, ec);
  if (ec) return stamp;
  stamp.modified = std::filesystem::last_write_time(name, ec);
  stamp.known = !ec;
  return stamp;
}

// Fails when the file changed while it was copied (written to, grown, cut or replaced): the
// bytes copied may then mix old and new contents.
int CheckUnchanged(rt::File& in, const std::string& name, std::int64_t size,
                   const FileStamp& before) {
  std::int64_t sizeNow = 0;
  if (int e = in.Size(sizeNow)) return e;
  const FileStamp after = StampOf(name);
  const auto expected = static_cast<std::uintmax_t>(size);
  const bool same = sizeNow == size && before.known && after.known && before.size == expected &&
                    after.size == before.size && after.modified == before.modified;
  if (same) return rt::kNoError;
  rt::SetError(rt::kFileSystemError, "The file changed while it was read: " + name);
  return rt::kFileSystemError;
}

}  // namespace

rt::File& InFile() {
  return InFiles().Get();
}

void DestroyInFile() {
  if (InFiles().Exists()) InFiles().Destroy();
}

int LoadBlobFromFile(rt::File& table, int blob, std::string_view name) {
  rt::File& in = InFile();
  name = rt::TrimRight(name);
  if (name.empty()) {
    rt::SetError(rt::kBadNameError);
    return rt::kBadNameError;
  }
  if (int e = rt::FileHandle::CheckName(name)) return e;
  const std::string fileName(name);
  in.SetName(fileName);
  if (int e = in.Open(kReadShared)) return e;
  std::int64_t size = 0;
  int result = in.Size(size);
  // What the BLOB held, put back when the copy fails, so a failed import is never stored.
  std::string before;
  bool saved = false;
  if (result == rt::kNoError) {
    const FileStamp stamp = StampOf(fileName);
    if (size == 0) {
      rt::SetError(rt::kBadNameError, "The file is empty");
      result = rt::kBadNameError;
    } else if ((result = table.GetBlobContents(blob, before)) == rt::kNoError) {
      saved = true;
      result = CopyChunks(in, table, blob, size);
      if (result == rt::kNoError) result = CheckUnchanged(in, fileName, size, stamp);
    }
  }
  // The close must not hide the failure that ended the copy.
  const rt::ErrorState failure = rt::LastError();
  static_cast<void>(in.Close());  // read only: nothing is lost when the close fails
  if (result != rt::kNoError) {
    std::string text = failure.text;
    if (saved && table.SetBlobContents(blob, before) != rt::kNoError)
      text += " (the previous contents could not be put back)";
    rt::SetError(failure.code, text, failure.driverCode, failure.driverText);
  }
  return result;
}

std::string LoadErrorText(int code) {
  const std::string& text = rt::LastError().text;
  return text.empty() ? "error " + std::to_string(code) : text;
}
