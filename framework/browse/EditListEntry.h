// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The edit object of one list column for editing in place.

#include <cstdint>
#include <memory>

class EditEntry;

struct EditListEntry {
  std::int32_t Field = 0;              // list field number
  std::uint8_t FreeUp = 0;             // the browse releases Control at Kill
  std::shared_ptr<EditEntry> Control;  // none: the column is not editable
  std::int32_t Column = 0;
};
