// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The order text of a view: components separated by ",", each an optional "+" (ascending,
// the default) or "-" (descending) followed by a field label ("DEM:ID") or UPPER(label) /
// LOWER(label) for an order without regard to letter case. Labels are matched without
// regard to case; blanks around the parts are ignored.

#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/expressions/ViewQuery.h"
#include "platform/runtime/values/RecordLayout.h"

namespace rt {

class ViewOrder {
 public:
  // Parses `text` for the fields of `layout`. A blank text gives no components (record
  // order). On a fault returns false with a message naming it in `error`.
  static bool Parse(std::string_view text, const RecordLayout& layout,
                    std::vector<ViewOrderComponent>& components, std::string& error);
};

}  // namespace rt
