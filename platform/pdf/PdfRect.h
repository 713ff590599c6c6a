// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A rectangle: in page points (origin at the page's top-left corner, y downwards) for match
// boxes, or in view pixels for the page layout.

namespace rt {

struct PdfRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;

  double Right() const { return x + width; }
  double Bottom() const { return y + height; }
  bool operator==(const PdfRect&) const = default;
};

}  // namespace rt
