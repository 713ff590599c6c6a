// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One search match: a page of the document set (0-based) and the match's box in page points.

#include "platform/pdf/PdfRect.h"

namespace rt {

struct PdfMatch {
  int page = 0;
  PdfRect box;

  bool operator==(const PdfMatch&) const = default;
};

}  // namespace rt
