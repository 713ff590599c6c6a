// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A page size in points (1/72 inch), as the page is displayed (its rotation applied).

namespace rt {

struct PdfSize {
  double width = 0;
  double height = 0;

  bool operator==(const PdfSize&) const = default;
};

}  // namespace rt
