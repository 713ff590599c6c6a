// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An entry of a file manager's field list.

#include <string>

#include "platform/runtime/values/AnyRef.h"

struct FieldListEntry {
  std::string Tag;
  rt::AnyRef Fld;
  int FType = 0;
  std::string FPicture;
};
