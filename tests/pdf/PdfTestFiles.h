#pragma once
// Test helpers: a temporary folder removed at the end of the test, and file writing.

#include <string>
#include <vector>

#include "support/TempDir.h"

namespace pdftest {

using TempDir = testing_support::TempDir;

inline std::vector<char> Bytes(const std::string& text) {
  return std::vector<char>(text.begin(), text.end());
}

}  // namespace pdftest
