// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the rest of the program needs of the STORE table driver: its name for a file's
// driver property, the extension of its table files, and its registration. The driver
// itself (StoreDriver.h) and its database library stay inside this folder.

#include <cstdint>

namespace rt {

inline constexpr const char* kStoreDriverName = "STORE";
inline constexpr const char* kStoreExtension = ".sqlite";
// BLOB contents are stored in chunks of this many bytes.
inline constexpr std::int64_t kStoreChunkSize = 256 * 1024;

// Registers STORE with the runtime's driver registry (idempotent). Call once at start-up.
void RegisterStoreDriver();

}  // namespace rt
