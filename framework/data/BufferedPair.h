#pragma once
// One entry of a buffered field-pair list: the left and right references plus a private
// buffer that remembers a value of the right variable's type.

#include <cstdint>
#include <vector>

#include "framework/data/FieldPair.h"

struct BufferedPair : FieldPair {
  rt::AnyRef Buffer;  // refers to `storage`, typed like Right

  // Makes the buffer a blank value of the right variable's type.
  BufferedPair(const rt::AnyRef& left, const rt::AnyRef& right)
      : FieldPair(left, right), storage(right.IsNull() ? 1 : right.Size() + 1, 0) {
    if (!right.IsNull()) {
      Buffer = rt::AnyRef(storage.data(), right.Type(), right.Size(), right.Places());
      Buffer.Clear();
    }
  }

  std::vector<std::uint8_t> storage;
};
