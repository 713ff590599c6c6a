// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One sort order of a browse: the view manager's order entry plus the order's locator, the
// fields whose change forces a refill, and the thumb step.

#include <memory>

#include "framework/data/FieldPairs.h"
#include "framework/data/OrderEntry.h"

class StepLocator;
class StepLong;

struct SortOrder : OrderEntry {
  StepLocator* Locator = nullptr;
  std::unique_ptr<FieldPairs> Resets;  // left: a reset field, right: its remembered value
  StepLong* Thumb = nullptr;
};
