// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the rest of the program needs of the server table driver: its name for a file's
// driver property and its registration. The driver itself and the client library stay inside
// this folder.

#include <string>

namespace rt {

inline constexpr const char* kPgDriverName = "PGSTORE";

// Registers the server table driver (idempotent); its tables live on the server that
// `conninfo` (a libpq connection string) names. A later call changes the server for the
// tables opened from then on.
void RegisterPgDriver(std::string conninfo);

}  // namespace rt
