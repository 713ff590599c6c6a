// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One entry of a popup manager's item list.

#include <cstdint>

#include "platform/runtime/values/FixedString.h"

struct PopupItemEntry {
  std::int32_t ControlID = 0;  // control the item's event goes to
  std::int32_t Depth = 1;      // nesting level, 1 at the top
  std::int32_t Event = 0;      // event posted when the item is chosen (0: none)
  std::uint8_t MimicMode = 0;  // 1: the item mirrors the control ControlID
  std::uint8_t Disabled = 0;   // 0 taken from the mirrored control, 1 disabled, 2 enabled
  std::uint8_t Check = 0;      // 0 no check mark, 1 ticked, 2 not ticked
  std::uint8_t OnToolbox = 0;  // 1: the item has a button on the toolbox
  rt::CString<256> Icon;
  rt::CString<1025> Name;  // unique within one manager
  rt::CString<1025> Text;  // "-" is a separator line

  bool IsSeparator() const { return Text == std::string_view("-"); }
};
