// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The search state of a view: the text searched, the job collecting its matches, the current
// match and whether matches are to be highlighted.
//
// Matches are kept in the order the search walks the pages: from the page the view showed
// when Find was pressed to the last page, then from the first page back. Find makes the
// first of them current; find-next with the same text and case rule moves to the next one,
// wrapping from the last to the first once the whole set has been searched. The text is
// taken without its trailing blanks (callers pass fixed-width, blank-padded fields); a blank
// text finds nothing and clears the matches.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pdf/PdfMatch.h"

namespace rt {

class PdfSearchJob;

class PdfSearch {
 public:
  PdfSearch() = default;
  ~PdfSearch();
  PdfSearch(const PdfSearch&) = delete;
  PdfSearch& operator=(const PdfSearch&) = delete;

  // A new search of `needle` (already trimmed) whose matches `job` collects (null: a search
  // that finds nothing). Ends the search before it.
  void Begin(std::string needle, bool caseInsensitive, std::shared_ptr<PdfSearchJob> job);
  // True when find-next of `needle` with this case rule continues this search.
  bool Continues(const std::string& needle, bool caseInsensitive) const;
  // The text without its trailing blanks, as searched.
  static std::string Needle(std::string_view text);
  // Ends the search and forgets its matches (the documents changed).
  void Reset();

  const std::shared_ptr<PdfSearchJob>& Job() const { return job_; }
  std::vector<PdfMatch> Matches() const;
  int CurrentIndex() const { return current_; }
  void SetCurrent(int index) { current_ = index; }
  const std::string& Text() const { return text_; }
  bool CaseInsensitive() const { return caseInsensitive_; }

  bool highlight = true;  // the surface marks the matches

 private:
  std::string text_;
  bool caseInsensitive_ = true;
  bool searched_ = false;
  std::shared_ptr<PdfSearchJob> job_;
  int current_ = -1;
};

}  // namespace rt
