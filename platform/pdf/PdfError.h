// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The outcome of a PDF engine operation: a runtime error code (0 on success) and its text.

#include <string>

namespace rt {

struct PdfError {
  int code = 0;
  std::string text;

  bool Ok() const { return code == 0; }
};

}  // namespace rt
