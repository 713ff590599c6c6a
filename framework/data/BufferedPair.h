// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One entry of a buffered field-pair list: the left and right references plus a private
// buffer that holds its own copy of a value: at first a blank value of the right variable's
// type, then whatever was last assigned to it, in that variable's own type and size.

#include <cstdint>
#include <cstring>
#include <vector>

#include "framework/data/FieldPair.h"

struct BufferedPair : FieldPair {
  rt::AnyRef Buffer;  // refers to `storage`

  // Makes the buffer a blank value of the right variable's type.
  BufferedPair(const rt::AnyRef& left, const rt::AnyRef& right) : FieldPair(left, right) {
    Retype(right);
    if (!Buffer.IsNull()) Buffer.Clear();
  }

  // The buffer becomes an exact copy of the variable's value (type, size and bytes), so a
  // value put back later is the one taken, whatever the other side's type.
  void Hold(const rt::AnyRef& from) {
    Retype(from);
    if (!from.IsNull()) std::memcpy(storage.data(), from.Address(), from.Size());
  }

  std::vector<std::uint8_t> storage;

 private:
  void Retype(const rt::AnyRef& like) {
    storage.assign(like.IsNull() ? 1 : like.Size() + 1, 0);
    Buffer = like.IsNull() ? rt::AnyRef()
                           : rt::AnyRef(storage.data(), like.Type(), like.Size(), like.Places());
  }
};
