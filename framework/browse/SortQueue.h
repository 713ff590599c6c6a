// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The browse's sort orders: an order queue whose entries are SortOrder.

#include <memory>

#include "framework/browse/SortOrder.h"
#include "framework/data/OrderQueue.h"

class SortQueue : public OrderQueue {
 public:
  std::unique_ptr<OrderEntry> NewEntry() override { return std::make_unique<SortOrder>(); }
  SortOrder* CurrentSort() const { return static_cast<SortOrder*>(Current()); }
};
