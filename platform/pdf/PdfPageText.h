// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The search's view of text: the needle as searched, case folding, the matches in a page's
// laid-out characters, and ruling pages out by their kept text. The single-threaded path
// (the document set's own instance) and the parallel workers (an instance per thread) both
// go through these functions, so they give the same results.

#include <string>
#include <string_view>
#include <vector>

#include "platform/pdf/PdfRect.h"

namespace rt {

class PdfPageText {
 public:
  // Matches beyond this many on one page are not reported.
  static constexpr int kMaxMatchesPerPage = 10000;

  // Unicode case folding as the search does it.
  static char32_t Fold(char32_t c);

  // `text` (UTF-8) as searched: code points, folded when case-insensitive, blank runs made
  // one blank, no trailing blank.
  static std::u32string Needle(std::string_view text, bool caseInsensitive);

  // The boxes where `needle` occurs in a page's characters (`haystack`, folded when the
  // search is case-insensitive, one box per character; blanks joining words have empty
  // boxes): the union of each match's character boxes, at most kMaxMatchesPerPage.
  static std::vector<PdfRect> Matches(const std::u32string& haystack,
                                      const std::vector<PdfRect>& charBoxes,
                                      const std::u32string& needle);

  // False only when the page's extracted text shows that `needle` cannot occur on it, so
  // that the page's layout need not be made. Blanks and hyphens are left out on both sides
  // (the text joins hyphenated lines and lays words out with its own blanks).
  static bool MayContain(std::string_view pageText, const std::u32string& needle,
                         bool caseInsensitive);
};

}  // namespace rt
