// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/StoreDriver.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/ChunkChecksum.h"
#include "platform/sqltable/TableValues.h"
#include "platform/store/StoreStatement.h"
#include "platform/store/StoreStatementGuard.h"

namespace rt {

static_assert(kStoreChunkSize == kTableChunkSize, "STORE stores BLOBs in the shared chunk size");

// ---- BLOBs ----

void StoreDriver::ClearBlobs() {
  for (Blob& b : blobs_) {
    b = Blob{};
    b.modified = true;
  }
}

int StoreDriver::BlobSize(int blob, std::int64_t& size) {
  size = blobs_[blob - 1].size;
  ClearError();
  return kNoError;
}

int StoreDriver::CheckChunk(std::int64_t rid, int number, std::int64_t size, std::int64_t chunk,
                            std::string_view bytes, const StoreStatement& s, int sumColumn) const {
  const std::string problem = ChunkProblem(number, size, chunk, bytes.size());
  if (!problem.empty()) return Damaged(rid, problem);
  if (checksums_ &&
      (s.Type(sumColumn) != SQLITE_INTEGER ||
       static_cast<std::uint64_t>(s.Int(sumColumn)) != ChunkChecksum(bytes.data(), bytes.size()))) {
    return Damaged(rid, "BLOB " + std::to_string(number) + " chunk " + std::to_string(chunk) +
                            " fails its checksum");
  }
  return kNoError;
}

// Reads the stored contents into memory (once), checking every chunk.
int StoreDriver::LoadBlob(Blob& blob, int number) {
  if (blob.data) return kNoError;
  auto data = std::make_shared<std::vector<char>>();
  try {
    data->resize(static_cast<std::size_t>(blob.size));
  } catch (const std::exception&) {
    SetError(kFileSystemError, {}, "0", "not enough memory for the BLOB");
    return kFileSystemError;
  }
  if (blob.storedRid != 0 && blob.size > 0) {
    const std::int64_t rid = blob.storedRid;
    const int read = [&] {
      auto s = Statement(std::string("SELECT chunk, bytes, ") + (checksums_ ? "sum" : "0") +
                         " FROM blob_chunks WHERE rid = ? AND blob = ? ORDER BY chunk");
      if (!s) return ErrorCode();
      s->Bind(1, rid);
      s->Bind(2, static_cast<std::int64_t>(number));
      std::int64_t next = 0;
      int rc;
      while ((rc = s->Step()) == SQLITE_ROW) {
        const std::int64_t chunk = s->Int(0);
        const std::string_view bytes = s->Blob(1);
        if (int e = CheckChunk(rid, number, blob.size, chunk, bytes, *s, 2)) return e;
        if (chunk != next) break;
        std::memcpy(data->data() + chunk * kStoreChunkSize, bytes.data(), bytes.size());
        ++next;
      }
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc, "BLOB read");
      if (next * kStoreChunkSize < blob.size) {
        return Damaged(
            rid, "BLOB " + std::to_string(number) + " chunk " + std::to_string(next) + " missing");
      }
      return kNoError;
    }();
    if (int e = BlobReadResult(blob, read)) return e;
  }
  blob.data = std::move(data);
  return kNoError;
}

int StoreDriver::MakeWritable(Blob& blob, int number) {
  if (int e = LoadBlob(blob, number)) return e;
  if (blob.data.use_count() > 1) blob.data = std::make_shared<std::vector<char>>(*blob.data);
  blob.modified = true;
  return kNoError;
}

int StoreDriver::SetBlobSize(int number, std::int64_t size) {
  if (size > kTableMaxBlobSize) {
    SetError(kDriverError, {}, "0", "BLOB size beyond the largest BLOB size");
    return kDriverError;
  }
  Blob& blob = blobs_[number - 1];
  if (int e = MakeWritable(blob, number)) return e;
  try {
    blob.data->resize(static_cast<std::size_t>(size));
  } catch (const std::exception&) {
    SetError(kFileSystemError, {}, "0", "not enough memory for the BLOB");
    return kFileSystemError;
  }
  blob.size = size;
  ClearError();
  return kNoError;
}

int StoreDriver::ReadBlob(int number, std::int64_t offset, void* destination, std::size_t length,
                          std::size_t& got) {
  got = 0;
  Blob& blob = blobs_[number - 1];
  if (offset >= blob.size || length == 0) {
    ClearError();
    return kNoError;
  }
  const std::size_t n = std::min<std::size_t>(length, static_cast<std::size_t>(blob.size - offset));
  auto* out = static_cast<char*>(destination);
  if (blob.data) {
    std::memcpy(out, blob.data->data() + offset, n);
    got = n;
    ClearError();
    return kNoError;
  }
  const std::int64_t first = offset / kStoreChunkSize;
  const std::int64_t last = (offset + static_cast<std::int64_t>(n) - 1) / kStoreChunkSize;
  const int read = ReadChunks(blob, number, offset, out, n, first, last);
  if (int e = BlobReadResult(blob, read)) return e;
  got = n;
  ClearError();
  return kNoError;
}

int StoreDriver::ReadChunks(const Blob& blob, int number, std::int64_t offset, char* out,
                            std::size_t n, std::int64_t first, std::int64_t last) {
  auto s = Statement(std::string("SELECT chunk, bytes, ") + (checksums_ ? "sum" : "0") +
                     " FROM blob_chunks WHERE rid = ? AND blob = ? AND chunk BETWEEN ? AND ? "
                     "ORDER BY chunk");
  if (!s) return ErrorCode();
  s->Bind(1, blob.storedRid);
  s->Bind(2, static_cast<std::int64_t>(number));
  s->Bind(3, first);
  s->Bind(4, last);
  int rc;
  std::int64_t next = first;
  const std::int64_t end = offset + static_cast<std::int64_t>(n);
  while ((rc = s->Step()) == SQLITE_ROW) {
    const std::int64_t chunk = s->Int(0);
    const std::string_view bytes = s->Blob(1);
    if (int e = CheckChunk(blob.storedRid, number, blob.size, chunk, bytes, *s, 2)) return e;
    if (chunk != next) break;
    const std::int64_t chunkStart = chunk * kStoreChunkSize;
    const std::int64_t from = std::max(offset, chunkStart);
    const std::int64_t to = std::min(end, chunkStart + static_cast<std::int64_t>(bytes.size()));
    if (to > from) {
      std::memcpy(out + (from - offset), bytes.data() + (from - chunkStart),
                  static_cast<std::size_t>(to - from));
    }
    ++next;
  }
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc, "BLOB read");
  if (next <= last) {
    return Damaged(blob.storedRid, "BLOB " + std::to_string(number) + " chunk " +
                                       std::to_string(next) + " missing");
  }
  return kNoError;
}

int StoreDriver::BlobReadResult(const Blob& blob, int result) {
  if (result != kNoError && result != kBadFileError) return result;
  // Chunks that do not fit the record as read are damage only when the record is still as
  // it was read: another station may have rewritten or deleted it since.
  const ErrorState failure = LastError();
  if (int e = CheckBlobCurrent(blob)) return e;
  if (result != kNoError) {
    SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
  }
  return result;
}

int StoreDriver::WriteBlob(int number, std::int64_t offset, const void* source,
                           std::size_t length) {
  if (length > static_cast<std::uint64_t>(kTableMaxBlobSize) ||
      offset > kTableMaxBlobSize - static_cast<std::int64_t>(length)) {
    SetError(kDriverError, {}, "0", "BLOB write beyond the largest BLOB size");
    return kDriverError;
  }
  Blob& blob = blobs_[number - 1];
  if (int e = MakeWritable(blob, number)) return e;
  const std::int64_t end = offset + static_cast<std::int64_t>(length);
  try {
    if (end > blob.size) blob.data->resize(static_cast<std::size_t>(end));
  } catch (const std::exception&) {
    SetError(kFileSystemError, {}, "0", "not enough memory for the BLOB");
    return kFileSystemError;
  }
  if (length > 0) std::memcpy(blob.data->data() + offset, source, length);
  blob.size = std::max(blob.size, end);
  ClearError();
  return kNoError;
}

int StoreDriver::WriteChunks(std::int64_t rid, int number, const Blob& blob) {
  auto del = Statement("DELETE FROM blob_chunks WHERE rid = ? AND blob = ?");
  if (!del) return ErrorCode();
  del->Bind(1, rid);
  del->Bind(2, static_cast<std::int64_t>(number));
  if (int e = Change(*del, "BLOB write")) return e;
  if (blob.size == 0) return kNoError;
  if (!blob.data) {
    // Contents still in the table under another record: copy them there.
    auto copy =
        Statement(checksums_ ? "INSERT INTO blob_chunks (rid, blob, chunk, bytes, sum) SELECT ?, "
                               "blob, chunk, bytes, sum FROM blob_chunks WHERE rid = ? AND blob = ?"
                             : "INSERT INTO blob_chunks (rid, blob, chunk, bytes) SELECT ?, blob, "
                               "chunk, bytes FROM blob_chunks WHERE rid = ? AND blob = ?");
    if (!copy) return ErrorCode();
    copy->Bind(1, rid);
    copy->Bind(2, blob.storedRid);
    copy->Bind(3, static_cast<std::int64_t>(number));
    return Change(*copy, "BLOB write");
  }
  auto ins = Statement(
      checksums_ ? "INSERT INTO blob_chunks (rid, blob, chunk, bytes, sum) VALUES (?, ?, "
                   "?, ?, ?)"
                 : "INSERT INTO blob_chunks (rid, blob, chunk, bytes) VALUES (?, ?, ?, ?)");
  if (!ins) return ErrorCode();
  ins->Reset();
  for (std::int64_t at = 0, chunk = 0; at < blob.size; at += kStoreChunkSize, ++chunk) {
    const std::int64_t n = std::min(kStoreChunkSize, blob.size - at);
    ins->Bind(1, rid);
    ins->Bind(2, static_cast<std::int64_t>(number));
    ins->Bind(3, chunk);
    // Change resets the statement, so the borrowed bytes are released after each chunk.
    const char* bytes = blob.data->data() + at;
    ins->BindStaticBlob(4, bytes, static_cast<std::uint64_t>(n));
    if (checksums_) {
      ins->Bind(5, static_cast<std::int64_t>(ChunkChecksum(bytes, static_cast<std::size_t>(n))));
    }
    if (int e = Change(*ins, "BLOB write")) return e;
  }
  return kNoError;
}

int StoreDriver::WriteBlobs(std::int64_t rid, bool onlyModified) {
  for (std::size_t b = 0; b < blobs_.size(); ++b) {
    const Blob& blob = blobs_[b];
    if (onlyModified && !blob.modified) continue;
    if (!onlyModified && blob.size == 0) continue;
    if (int e = WriteChunks(rid, static_cast<int>(b) + 1, blob)) return e;
  }
  return kNoError;
}

}  // namespace rt
