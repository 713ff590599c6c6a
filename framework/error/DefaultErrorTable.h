// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The default message table, packed: a 2-byte entry count, then per entry the 2-byte
// identifier, 1-byte level, 1-byte title length and title, 1-byte text length and text
// (all numbers little-endian).

#include <cstdint>
#include <span>

// The packed default table; it lives as long as the process.
std::span<const std::uint8_t> DefaultErrorTable();
