// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The sort orders of a view manager with one current entry. A derived manager passes its own
// queue whose NewEntry makes entries of its derived type.

#include <memory>
#include <vector>

#include "framework/data/OrderEntry.h"

class OrderQueue {
 public:
  std::vector<std::unique_ptr<OrderEntry>> Entries;
  int Pointer = 0;  // 1-based number of the current entry, 0 none

  OrderQueue() = default;
  OrderQueue(const OrderQueue&) = delete;
  OrderQueue& operator=(const OrderQueue&) = delete;
  virtual ~OrderQueue() = default;

  virtual std::unique_ptr<OrderEntry> NewEntry() { return std::make_unique<OrderEntry>(); }

  int Records() const { return static_cast<int>(Entries.size()); }
  OrderEntry* Current() const {
    return Pointer >= 1 && Pointer <= Records() ? Entries[Pointer - 1].get() : nullptr;
  }
};
