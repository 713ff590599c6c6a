#pragma once
// Text search over every page of a document set, and the search's state: the matches, the
// current match and whether matches are to be highlighted.
//
// Find collects the matches of all pages and makes the first one current. Find-next with the
// same text and case rule moves to the match after the current one, wrapping from the last
// to the first; with a different text or case rule (or no earlier search) it searches anew,
// like Find. The text is taken without its trailing blanks (callers pass fixed-width,
// blank-padded fields); a blank text finds nothing and clears the matches.

#include <string>
#include <string_view>
#include <vector>

#include "platform/pdf/PdfMatch.h"

namespace rt {

class PdfDocumentSet;

class PdfSearch {
 public:
  // Returns the index of the current match, or -1 when nothing was found.
  int Find(PdfDocumentSet& documents, std::string_view text, bool findNext, bool caseInsensitive);
  // Find-next of `text` (blank-padded) with the case rule continues this search: moves to
  // the match after the current one, wrapping. Returns the new current index (-1: none);
  // false when a new search is needed instead.
  bool Continue(std::string_view text, bool caseInsensitive, int& current);
  // Takes the matches of a new search of `text`; the first becomes current.
  int Take(std::string_view text, bool caseInsensitive, std::vector<PdfMatch> matches);
  // The text without its trailing blanks, as searched.
  static std::string Needle(std::string_view text);
  // Forgets the matches (the documents changed).
  void Reset();

  const std::vector<PdfMatch>& Matches() const { return matches_; }
  int CurrentIndex() const { return current_; }
  const PdfMatch* CurrentMatch() const;
  const std::string& Text() const { return text_; }
  bool CaseInsensitive() const { return caseInsensitive_; }

  bool highlight = true;  // the surface marks the matches

 private:
  std::string text_;
  bool caseInsensitive_ = true;
  bool searched_ = false;
  std::vector<PdfMatch> matches_;
  int current_ = -1;
};

}  // namespace rt
