// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgDriver.h"

#include <algorithm>
#include <cstring>

#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/ChunkChecksum.h"
#include "platform/sqltable/TableValues.h"

namespace rt {

namespace {

// One stored chunk read from a reply row (chunk, bytes, sum); 47 text when it does not fit.
std::string ChunkAt(const PgResult& r, int row, int number, std::int64_t size, std::int64_t& chunk,
                    std::string_view& bytes) {
  std::int64_t sum = 0;
  if (!r.Int(row, 0, chunk) || !r.Blob(row, 1, bytes) || !r.Int(row, 2, sum)) {
    return "BLOB " + std::to_string(number) + " chunk of another type";
  }
  std::string problem = ChunkProblem(number, size, chunk, bytes.size());
  if (problem.empty() &&
      static_cast<std::uint64_t>(sum) != ChunkChecksum(bytes.data(), bytes.size())) {
    problem = "BLOB " + std::to_string(number) + " chunk " + std::to_string(chunk) +
              " fails its checksum";
  }
  return problem;
}

}  // namespace

void PgDriver::ClearBlobs() {
  for (Blob& b : blobs_) {
    b = Blob{};
    b.modified = true;
  }
}

int PgDriver::BlobSize(int blob, std::int64_t& size) {
  size = blobs_[blob - 1].size;
  ClearError();
  return kNoError;
}

int PgDriver::LoadBlob(Blob& blob, int number) {
  if (blob.data) return kNoError;
  auto data = std::make_shared<std::vector<char>>();
  try {
    data->resize(static_cast<std::size_t>(blob.size));
  } catch (const std::exception&) {
    SetError(kFileSystemError, {}, "0", "not enough memory for the BLOB");
    return kFileSystemError;
  }
  if (blob.storedRid != 0 && blob.size > 0) {
    const int read = ReadChunks(blob, number, 0, data->data(), static_cast<std::size_t>(blob.size),
                                0, ChunkCount(blob.size) - 1);
    if (int e = BlobReadResult(blob, read)) return e;
  }
  blob.data = std::move(data);
  return kNoError;
}

int PgDriver::MakeWritable(Blob& blob, int number) {
  if (int e = LoadBlob(blob, number)) return e;
  if (blob.data.use_count() > 1) blob.data = std::make_shared<std::vector<char>>(*blob.data);
  blob.modified = true;
  return kNoError;
}

int PgDriver::SetBlobSize(int number, std::int64_t size) {
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

int PgDriver::ReadBlob(int number, std::int64_t offset, void* destination, std::size_t length,
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

// Reads the chunks in slices, so that a large BLOB never sits in the client twice.
int PgDriver::ReadChunks(const Blob& blob, int number, std::int64_t offset, char* out,
                         std::size_t n, std::int64_t first, std::int64_t last) {
  constexpr std::int64_t kSlice = 16;
  const std::int64_t end = offset + static_cast<std::int64_t>(n);
  std::int64_t next = first;
  while (next <= last) {
    PgParams p;
    p.Int(blob.storedRid);
    p.Int(number);
    p.Int(next);
    p.Int(std::min(last, next + kSlice - 1));
    PgResult r;
    if (int e = Run("SELECT chunk, bytes, sum FROM " + chunks_ +
                        " WHERE rid = $1 AND blob = $2 AND chunk BETWEEN $3 AND $4 ORDER BY chunk",
                    p, r, "BLOB read")) {
      return e;
    }
    const std::int64_t before = next;
    for (int i = 0; i < r.Rows(); ++i) {
      std::int64_t chunk = 0;
      std::string_view bytes;
      const std::string problem = ChunkAt(r, i, number, blob.size, chunk, bytes);
      if (!problem.empty()) return Damaged(blob.storedRid, problem);
      if (chunk != next) break;
      const std::int64_t chunkStart = chunk * kTableChunkSize;
      const std::int64_t from = std::max(offset, chunkStart);
      const std::int64_t to = std::min(end, chunkStart + static_cast<std::int64_t>(bytes.size()));
      if (to > from) {
        std::memcpy(out + (from - offset), bytes.data() + (from - chunkStart),
                    static_cast<std::size_t>(to - from));
      }
      ++next;
    }
    if (next == before || (next <= last && next < before + kSlice)) break;
  }
  if (next <= last) {
    return Damaged(blob.storedRid, "BLOB " + std::to_string(number) + " chunk " +
                                       std::to_string(next) + " missing");
  }
  return kNoError;
}

int PgDriver::BlobReadResult(const Blob& blob, int result) {
  if (result != kNoError && result != kBadFileError) return result;
  const ErrorState failure = LastError();
  if (int e = CheckBlobCurrent(blob)) return e;
  if (result != kNoError) {
    SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
  }
  return result;
}

int PgDriver::WriteBlob(int number, std::int64_t offset, const void* source, std::size_t length) {
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

int PgDriver::WriteChunks(std::int64_t rid, int number, const Blob& blob) {
  PgParams del;
  del.Int(rid);
  del.Int(number);
  PgResult r;
  if (int e = conn_.Run("DELETE FROM " + chunks_ + " WHERE rid = $1 AND blob = $2", del, r,
                        "BLOB write")) {
    return e;
  }
  if (blob.size == 0) return kNoError;
  if (!blob.data) {
    // Contents still on the server under another record: copy them there.
    PgParams copy;
    copy.Int(rid);
    copy.Int(blob.storedRid);
    copy.Int(number);
    return conn_.Run(
        "INSERT INTO " + chunks_ +
            " (rid, blob, chunk, bytes, sum) SELECT $1, blob, chunk, bytes, sum FROM " + chunks_ +
            " WHERE rid = $2 AND blob = $3",
        copy, r, "BLOB write");
  }
  const std::string insert =
      "INSERT INTO " + chunks_ + " (rid, blob, chunk, bytes, sum) VALUES ($1, $2, $3, $4, $5)";
  for (std::int64_t at = 0, chunk = 0; at < blob.size; at += kTableChunkSize, ++chunk) {
    const std::int64_t n = std::min(kTableChunkSize, blob.size - at);
    const char* bytes = blob.data->data() + at;
    PgParams p;
    p.Int(rid);
    p.Int(number);
    p.Int(chunk);
    p.Bytes(bytes, static_cast<std::size_t>(n));
    p.Int(static_cast<std::int64_t>(ChunkChecksum(bytes, static_cast<std::size_t>(n))));
    if (int e = conn_.Run(insert, p, r, "BLOB write")) return e;
  }
  return kNoError;
}

int PgDriver::WriteBlobs(std::int64_t rid, bool onlyModified) {
  for (std::size_t b = 0; b < blobs_.size(); ++b) {
    const Blob& blob = blobs_[b];
    if (onlyModified && !blob.modified) continue;
    if (!onlyModified && blob.size == 0) continue;
    if (int e = WriteChunks(rid, static_cast<int>(b) + 1, blob)) return e;
  }
  return kNoError;
}

}  // namespace rt
