// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The checksum of a stored BLOB chunk: a fast 64-bit non-cryptographic hash (four lanes of
// multiply-rotate rounds over 32-byte stripes, then an avalanche), enough to catch damage to a
// chunk's bytes. Stored as a signed 64-bit integer in the table.

#include <cstddef>
#include <cstdint>

namespace rt {

std::uint64_t ChunkChecksum(const void* data, std::size_t size);

}  // namespace rt
