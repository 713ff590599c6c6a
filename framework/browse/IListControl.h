// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The list control a browse shows its page in, as the browse sees it.

#include <cstdint>

class IListControl {
 public:
  virtual ~IListControl() = default;

  // The selected row (1-based, 0 none).
  virtual std::int32_t Choice() = 0;
  virtual std::int32_t GetControl() = 0;
  // The number of rows the list shows.
  virtual std::int32_t GetItems() = 0;
  virtual bool GetVisible() = 0;
  virtual void SetChoice(std::int32_t row) = 0;
  virtual void SetControl(std::int32_t control) = 0;
  // The selected row's line among the visible rows; 1 is the top line.
  virtual std::int32_t GetLine() = 0;
};
