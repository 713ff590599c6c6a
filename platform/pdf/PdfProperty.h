// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One line of the document properties display: a label and its value, both UTF-8.

#include <string>

namespace rt {

struct PdfProperty {
  std::string label;
  std::string value;

  bool operator==(const PdfProperty&) const = default;
};

}  // namespace rt
