// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sqltable/SqlTableDriver.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/ChunkChecksum.h"

namespace rt {

namespace {

int NoMemory() {
  SetError(kFileSystemError, {}, "0", "not enough memory for the BLOB");
  return kFileSystemError;
}

}  // namespace

void SqlTableDriver::ClearBlobs() {
  for (Blob& b : blobs_) {
    b = Blob{};
    b.modified = true;
  }
}

int SqlTableDriver::BlobSize(int blob, std::int64_t& size) {
  size = blobs_[blob - 1].size;
  ClearError();
  return kNoError;
}

// Reads the stored contents into memory (once), checking every chunk.
int SqlTableDriver::LoadBlob(Blob& blob, int number) {
  if (blob.data) return kNoError;
  auto data = std::make_shared<std::vector<char>>();
  try {
    data->resize(static_cast<std::size_t>(blob.size));
  } catch (const std::exception&) {
    return NoMemory();
  }
  if (blob.storedRid != 0 && blob.size > 0) {
    const int read = ReadChunks(blob, number, 0, data->data(), static_cast<std::size_t>(blob.size),
                                0, ChunkCount(blob.size) - 1);
    if (int e = BlobReadResult(blob, read)) return e;
  }
  blob.data = std::move(data);
  return kNoError;
}

int SqlTableDriver::MakeWritable(Blob& blob, int number) {
  if (int e = LoadBlob(blob, number)) return e;
  if (blob.data.use_count() > 1) blob.data = std::make_shared<std::vector<char>>(*blob.data);
  blob.modified = true;
  return kNoError;
}

int SqlTableDriver::SetBlobSize(int number, std::int64_t size) {
  if (size > kTableMaxBlobSize) {
    SetError(kDriverError, {}, "0", "BLOB size beyond the largest BLOB size");
    return kDriverError;
  }
  Blob& blob = blobs_[number - 1];
  if (int e = MakeWritable(blob, number)) return e;
  try {
    blob.data->resize(static_cast<std::size_t>(size));
  } catch (const std::exception&) {
    return NoMemory();
  }
  blob.size = size;
  ClearError();
  return kNoError;
}

int SqlTableDriver::ReadBlob(int number, std::int64_t offset, void* destination, std::size_t length,
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
  const std::int64_t first = offset / kTableChunkSize;
  const std::int64_t last = (offset + static_cast<std::int64_t>(n) - 1) / kTableChunkSize;
  const int read = ReadChunks(blob, number, offset, out, n, first, last);
  if (int e = BlobReadResult(blob, read)) return e;
  got = n;
  ClearError();
  return kNoError;
}

int SqlTableDriver::ReadChunks(const Blob& blob, int number, std::int64_t offset, char* out,
                               std::size_t n, std::int64_t first, std::int64_t last) {
  int placeholder = 1;
  std::string sql = std::string("SELECT chunk, bytes, ") + (checksums_ ? "sum" : "0") + " FROM " +
                    chunks_ + " WHERE rid = " + Placeholder(placeholder);
  sql += " AND blob = " + Placeholder(placeholder);
  sql += " AND chunk BETWEEN " + Placeholder(placeholder);
  sql += " AND " + Placeholder(placeholder) + " ORDER BY chunk";
  const std::int64_t end = offset + static_cast<std::int64_t>(n);
  std::int64_t next = first;
  bool gap = false;
  auto copy = [&](const StoredChunk& c) {
    if (gap) return kNoError;
    if (!c.typed) {
      return Damaged(blob.storedRid, "BLOB " + std::to_string(number) + " chunk of another type");
    }
    const std::string problem = ChunkProblem(number, blob.size, c.chunk, c.bytes.size());
    if (!problem.empty()) return Damaged(blob.storedRid, problem);
    if (checksums_ && (!c.hasSum || c.sum != ChunkChecksum(c.bytes.data(), c.bytes.size()))) {
      return Damaged(blob.storedRid, "BLOB " + std::to_string(number) + " chunk " +
                                         std::to_string(c.chunk) + " fails its checksum");
    }
    if (c.chunk != next) {
      gap = true;  // reported as missing below
      return kNoError;
    }
    const std::int64_t chunkStart = c.chunk * kTableChunkSize;
    const std::int64_t from = std::max(offset, chunkStart);
    const std::int64_t to = std::min(end, chunkStart + static_cast<std::int64_t>(c.bytes.size()));
    if (to > from) {
      std::memcpy(out + (from - offset), c.bytes.data() + (from - chunkStart),
                  static_cast<std::size_t>(to - from));
    }
    ++next;
    return kNoError;
  };
  while (next <= last && !gap) {
    const std::int64_t sliceLast =
        chunksPerQuery_ > 0 ? std::min(last, next + chunksPerQuery_ - 1) : last;
    SqlArgs args;
    args.Int(blob.storedRid);
    args.Int(number);
    args.Int(next);
    args.Int(sliceLast);
    if (int e = QueryChunks(sql, args, copy)) return e;
    if (next <= sliceLast) break;  // a chunk of this slice is missing
  }
  if (next <= last) {
    return Damaged(blob.storedRid, "BLOB " + std::to_string(number) + " chunk " +
                                       std::to_string(next) + " missing");
  }
  return kNoError;
}

int SqlTableDriver::BlobReadResult(const Blob& blob, int result) {
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

int SqlTableDriver::WriteBlob(int number, std::int64_t offset, const void* source,
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
    return NoMemory();
  }
  if (length > 0) std::memcpy(blob.data->data() + offset, source, length);
  blob.size = std::max(blob.size, end);
  ClearError();
  return kNoError;
}

int SqlTableDriver::WriteChunks(std::int64_t rid, int number, const Blob& blob) {
  int next = 1;
  std::string sql = "DELETE FROM " + chunks_ + " WHERE rid = " + Placeholder(next);
  sql += " AND blob = " + Placeholder(next);
  SqlArgs del;
  del.Int(rid);
  del.Int(number);
  if (int e = Execute(sql, del, "BLOB write")) return e;
  if (blob.size == 0) return kNoError;
  const char* columns = checksums_ ? "rid, blob, chunk, bytes, sum" : "rid, blob, chunk, bytes";
  if (!blob.data) {
    // Contents still in the table under another record: copy them there.
    next = 1;
    sql = "INSERT INTO " + chunks_ + " (" + columns + ") SELECT " + Placeholder(next);
    sql += std::string(checksums_ ? ", blob, chunk, bytes, sum" : ", blob, chunk, bytes") +
           " FROM " + chunks_ + " WHERE rid = " + Placeholder(next);
    sql += " AND blob = " + Placeholder(next);
    SqlArgs copy;
    copy.Int(rid);
    copy.Int(blob.storedRid);
    copy.Int(number);
    return Execute(sql, copy, "BLOB write");
  }
  next = 1;
  sql = "INSERT INTO " + chunks_ + " (" + columns + ") VALUES (" + Placeholder(next);
  for (int i = checksums_ ? 4 : 3; i > 0; --i)
    sql += ", " + Placeholder(next);
  sql += ")";
  for (std::int64_t at = 0, chunk = 0; at < blob.size; at += kTableChunkSize, ++chunk) {
    const auto n = static_cast<std::size_t>(std::min(kTableChunkSize, blob.size - at));
    const char* bytes = blob.data->data() + at;
    SqlArgs args;
    args.Int(rid);
    args.Int(number);
    args.Int(chunk);
    args.Bytes(bytes, n);
    if (checksums_) args.Int(static_cast<std::int64_t>(ChunkChecksum(bytes, n)));
    if (int e = Execute(sql, args, "BLOB write")) return e;
  }
  return kNoError;
}

int SqlTableDriver::WriteBlobs(std::int64_t rid, bool onlyModified) {
  for (std::size_t b = 0; b < blobs_.size(); ++b) {
    const Blob& blob = blobs_[b];
    if (onlyModified && !blob.modified) continue;
    if (!onlyModified && blob.size == 0) continue;
    if (int e = WriteChunks(rid, static_cast<int>(b) + 1, blob)) return e;
  }
  return kNoError;
}

}  // namespace rt
