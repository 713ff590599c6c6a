// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One relation of a table to another: the related table's relation manager, the linking
// fields and what a change or a delete of this table's record does to the related records.

#include <cstdint>
#include <memory>

#include "framework/data/BufferedPairs.h"
#include "platform/runtime/files/FileKey.h"

class RelationManager;

// Update and delete modes of a relation.
inline constexpr std::uint8_t kRelationNone = 0;
inline constexpr std::uint8_t kRelationClear = 1;     // blank the related records' links
inline constexpr std::uint8_t kRelationRestrict = 2;  // refuse while related records exist
inline constexpr std::uint8_t kRelationCascade = 3;   // carry the change to related records

struct RelationEntry {
  RelationManager* File = nullptr;
  // Left: this table's linking field; Right: the related table's; Buffer: this table's
  // linking value as it was before the change.
  std::unique_ptr<BufferedPairs> Fields;
  // A key of the related table led by the linking fields; nullptr for a relation towards a
  // table this one refers to.
  const rt::FileKey* HisKey = nullptr;
  std::uint8_t UpdateMode = kRelationNone;
  std::uint8_t DeleteMode = kRelationNone;
  std::uint8_t Opened = 0;  // opens of the related table made through this entry, not undone
};
