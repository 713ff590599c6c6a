#include "platform/pdf/PdfSearch.h"

#include "platform/pdf/PdfDocumentSet.h"

namespace rt {

int PdfSearch::Find(PdfDocumentSet& documents, std::string_view text, bool findNext,
                    bool caseInsensitive) {
  int current = -1;
  if (findNext && Continue(text, caseInsensitive, current)) return current;
  const std::string needle = Needle(text);
  std::vector<PdfMatch> matches;
  for (int page = 0; page < documents.PageCount() && !needle.empty(); ++page)
    for (const PdfRect& box : documents.Search(page, needle, caseInsensitive))
      matches.push_back(PdfMatch{page, box});
  return Take(needle, caseInsensitive, std::move(matches));
}

std::string PdfSearch::Needle(std::string_view text) {
  const std::size_t end = text.find_last_not_of(" \t\r\n");
  return std::string(end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1));
}

bool PdfSearch::Continue(std::string_view text, bool caseInsensitive, int& current) {
  if (!searched_ || Needle(text) != text_ || caseInsensitive != caseInsensitive_) return false;
  if (!matches_.empty()) current_ = (current_ + 1) % static_cast<int>(matches_.size());
  current = current_;
  return true;
}

int PdfSearch::Take(std::string_view text, bool caseInsensitive, std::vector<PdfMatch> matches) {
  Reset();
  text_ = Needle(text);
  caseInsensitive_ = caseInsensitive;
  searched_ = true;
  matches_ = std::move(matches);
  current_ = matches_.empty() ? -1 : 0;
  return current_;
}

void PdfSearch::Reset() {
  text_.clear();
  searched_ = false;
  matches_.clear();
  current_ = -1;
}

const PdfMatch* PdfSearch::CurrentMatch() const {
  return current_ >= 0 ? &matches_[current_] : nullptr;
}

}  // namespace rt
