#include "app/LoadBlobFromFile.h"

#include <cmath>
#include <memory>
#include <string>

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
  in.Send("FILEBUFFERS=" +
          std::to_string(std::llround(static_cast<double>(size) / kFileBufferBytes)));
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
  in.SetName(std::string(name));
  if (int e = in.Open(kReadShared)) return e;
  std::int64_t size = 0;
  int result = in.Size(size);
  if (result == rt::kNoError) {
    if (size == 0) {
      rt::SetError(rt::kBadNameError);
      result = rt::kBadNameError;
    } else {
      result = CopyChunks(in, table, blob, size);
    }
  }
  // The close must not hide the failure that ended the copy.
  const rt::ErrorState failure = rt::LastError();
  in.Close();
  if (result != rt::kNoError) {
    rt::SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
  }
  return result;
}
