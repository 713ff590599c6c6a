// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Test helpers: a temporary folder removed at the end of the test, and file writing.

#include <string>
#include <vector>

#include "platform/pdf/PdfDocumentSet.h"
#include "platform/pdf/PdfMatch.h"
#include "support/TempDir.h"

namespace pdftest {

using TempDir = testing_support::TempDir;

inline std::vector<char> Bytes(const std::string& text) {
  return std::vector<char>(text.begin(), text.end());
}

// The set's text page by page on its own instance (the plain, single-threaded path), joined
// as the document text is.
inline std::string SequentialText(rt::PdfDocumentSet& set) {
  std::string text;
  for (int page = 0; page < set.PageCount(); ++page)
    text += (page > 0 ? "\f" : "") + set.PageText(page);
  return text;
}

// The matches of `needle` page by page on the set's own instance, from `start` to the last
// page and then from the first page back.
inline std::vector<rt::PdfMatch> SequentialMatches(rt::PdfDocumentSet& set,
                                                   const std::string& needle, bool caseInsensitive,
                                                   int start = 0) {
  std::vector<rt::PdfMatch> matches;
  const int count = set.PageCount();
  for (int k = 0; k < count; ++k) {
    const int page = (start + k) % count;
    for (const rt::PdfRect& box : set.Search(page, needle, caseInsensitive))
      matches.push_back(rt::PdfMatch{page, box});
  }
  return matches;
}

}  // namespace pdftest
