// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One sort order of a view manager: the key that gives the order, its range limits and its
// named filters. A derived manager may keep entries of a derived type with more fields.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/data/BufferedPairs.h"
#include "framework/data/FilterEntry.h"
#include "platform/runtime/files/FileKey.h"
#include "platform/runtime/values/AnyRef.h"

// Range types of an order entry.
inline constexpr std::uint8_t kRangeNone = 0;
inline constexpr std::uint8_t kRangeFixed = 1;     // each pair fixes one key component
inline constexpr std::uint8_t kRangeFollow = 2;    // as fixed; the last pair follows its Left
inline constexpr std::uint8_t kRangeBounds = 3;    // last two pairs: low and high bound
inline constexpr std::uint8_t kRangeBuffered = 4;  // as fixed; re-applied when Right moves

struct OrderEntry {
  std::unique_ptr<std::vector<FilterEntry>> Filter;
  rt::AnyRef FreeElement;  // the first key component not fixed by the range
  std::uint8_t LimitType = kRangeNone;
  const rt::FileKey* MainKey = nullptr;
  std::unique_ptr<std::string> Order;
  std::unique_ptr<BufferedPairs> RangeList;

  OrderEntry() = default;
  OrderEntry(const OrderEntry&) = delete;
  OrderEntry& operator=(const OrderEntry&) = delete;
  virtual ~OrderEntry() = default;
};
