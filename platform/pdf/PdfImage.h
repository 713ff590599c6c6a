// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A rendered page: width x height pixels, rows of `stride` bytes, each pixel a native-endian
// 32-bit 0xAARRGGBB value. Plain data, so any surface can draw it; move-only, the pixels
// having one owner (a front end may hand them on to an image of its own).

#include <cstdint>
#include <cstring>

#include "platform/pdf/PdfPixels.h"

namespace rt {

struct PdfImage {
  int width = 0;
  int height = 0;
  int stride = 0;
  PdfPixels bytes;

  bool Empty() const { return width <= 0 || height <= 0; }
  // The pixel at (x, y); the caller keeps x and y inside the image.
  std::uint32_t Pixel(int x, int y) const {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + static_cast<std::size_t>(y) * stride + x * 4, 4);
    return value;
  }
};

}  // namespace rt
