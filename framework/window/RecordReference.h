// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A borrowed reference to a record buffer: its address, the layout that describes its
// fields, and its size in bytes.

#include <cstdint>

#include "platform/runtime/values/RecordLayout.h"

struct RecordReference {
  void* Address = nullptr;
  const rt::RecordLayout* Layout = nullptr;
  std::uint32_t Size = 0;

  static RecordReference Of(void* record, const rt::RecordLayout& layout) {
    return {record, &layout, layout.Size()};
  }
  // Usable for field access: an address, a layout, and room for every field of the layout.
  bool Valid() const { return Address && Layout && Size >= Layout->Size(); }
};
