// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One component of a key in a file manager's key list.

#include <cstdint>
#include <string>

#include "platform/runtime/values/AnyRef.h"

struct KeyComponentEntry {
  rt::AnyRef Field;       // the record field the component names
  std::string FieldName;  // the field's label, or "UPPER(" label ")" for a case-free string
  std::uint8_t Ascend = 1;
};
