#include "platform/pdf/PdfSearch.h"

#include "platform/pdf/PdfDocumentSet.h"

namespace rt {

int PdfSearch::Find(PdfDocumentSet& documents, std::string_view text, bool findNext,
                    bool caseInsensitive) {
  const std::size_t end = text.find_last_not_of(" \t\r\n");
  const std::string needle(end == std::string_view::npos ? std::string_view{}
                                                         : text.substr(0, end + 1));
  if (findNext && searched_ && needle == text_ && caseInsensitive == caseInsensitive_) {
    if (matches_.empty()) return -1;
    current_ = (current_ + 1) % static_cast<int>(matches_.size());
    return current_;
  }
  Reset();
  text_ = needle;
  caseInsensitive_ = caseInsensitive;
  searched_ = true;
  if (needle.empty()) return -1;
  for (int page = 0; page < documents.PageCount(); ++page) {
    for (const PdfRect& box : documents.Search(page, needle, caseInsensitive)) {
      matches_.push_back(PdfMatch{page, box});
    }
  }
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
