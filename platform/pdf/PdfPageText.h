// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a page's text layout gives: the page's text and the boxes of a text's matches. Both
// the single-threaded path (the document set's own instance) and the parallel workers (an
// instance per thread) go through these functions, so they give the same results.

#include <string>
#include <string_view>
#include <vector>

#include "platform/pdf/PdfRect.h"

namespace poppler {
class page;
}

namespace rt {

class PdfPageText {
 public:
  // Matches beyond this many on one page are not reported.
  static constexpr int kMaxMatchesPerPage = 10000;

  // The page's text in UTF-8, without the library's closing page break; empty when the page
  // cannot be read.
  static std::string Extract(poppler::page* page);

  // `text` (UTF-8) as searched: code points, folded when case-insensitive, blank runs made
  // one blank, no trailing blank.
  static std::u32string Needle(std::string_view text, bool caseInsensitive);

  // The boxes (in page points) where `needle` occurs on the page, in reading order.
  static std::vector<PdfRect> Search(poppler::page* page, const std::u32string& needle,
                                     bool caseInsensitive);

  // False only when the page's extracted text shows that `needle` cannot occur on it, so
  // that the page's layout need not be made. Blanks and hyphens are left out on both sides
  // (the text joins hyphenated lines and lays words out with its own blanks).
  static bool MayContain(std::string_view pageText, const std::u32string& needle,
                         bool caseInsensitive);
};

}  // namespace rt
