// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A reference to a record buffer: its address, size and layout.

#include <cstdint>

#include "platform/runtime/values/RecordLayout.h"

struct RecordGroup {
  std::uint8_t* Address = nullptr;
  std::uint32_t Size = 0;
  const rt::RecordLayout* Layout = nullptr;
};
