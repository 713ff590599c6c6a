// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The document the storing benchmarks store: random bytes written to a file once, and how the
// document form stores a file through a table driver (read in pieces into the BLOB, then the
// record added).

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/runtime/files/File.h"
#include "platform/runtime/values/RecordLayout.h"

namespace bench {

inline constexpr std::size_t kDocumentSize = 100 * 1024 * 1024;
inline constexpr std::size_t kPiece = 32768;

// Writes `size` random bytes (the same on every run) to `path`; false on failure.
inline bool WriteDocument(const std::string& path, std::size_t size = kDocumentSize) {
  std::mt19937_64 random(7);
  std::vector<std::uint64_t> block(kPiece / 8);
  std::ofstream out(path, std::ios::binary);
  for (std::size_t done = 0; done < size; done += kPiece) {
    for (auto& w : block)
      w = random();
    out.write(reinterpret_cast<const char*>(block.data()),
              static_cast<std::streamsize>(std::min(kPiece, size - done)));
  }
  return static_cast<bool>(out.flush());
}

// Stores the document into BLOB 1 of a new record with the number `id` of the open table `f`;
// false on failure.
inline bool StoreDocument(rt::File& f, const std::string& document, int id = 1) {
  std::ifstream in(document, std::ios::binary);
  std::vector<char> piece(kPiece);
  std::int64_t at = 0;
  while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
    const auto got = static_cast<std::size_t>(in.gcount());
    if (f.WriteBlob(1, at, piece.data(), got) != 0) return false;
    at += static_cast<std::int64_t>(got);
  }
  rt::WriteInteger(f.Layout().Field(1), f.Record(), id);
  return f.Add() == 0;
}

}  // namespace bench
