// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An instance of one document for its text: one text device, kept for the instance's
// lifetime, lays each page out once and serves both the page's text and the boxes of a
// search on it. Keeping the device keeps what it caches between pages (parsed colour spaces
// and their transforms), which a device made for every call builds again on every page.
//
// Goes through the PDF library's core interface; its headers stay inside this class's source.
// Not thread-safe: one thread at a time uses an instance (every thread opens its own).

#include <memory>
#include <string>
#include <vector>

#include "platform/pdf/PdfRect.h"

namespace rt {

class PdfTextLayout {
 public:
  // An instance reading the document from `bytes` (shared, never written).
  explicit PdfTextLayout(std::shared_ptr<const std::vector<char>> bytes);
  ~PdfTextLayout();
  PdfTextLayout(const PdfTextLayout&) = delete;
  PdfTextLayout& operator=(const PdfTextLayout&) = delete;

  // False when the library cannot read the document.
  bool Ok() const;
  int PageCount() const;

  // The page's text in UTF-8 (0-based page), without the closing page break; empty when the
  // page cannot be read. Lays the page out unless it was the last page laid out.
  std::string Text(int page);

  // The boxes (in page points) where `needle` (as PdfPageText::Needle gives it) occurs on the
  // page, in reading order, at most PdfPageText::kMaxMatchesPerPage. Uses the page's layout
  // when it was the last one made (as after Text()), otherwise makes it.
  std::vector<PdfRect> Search(int page, const std::u32string& needle, bool caseInsensitive);

 private:
  struct State;
  // Lays the page out unless it was the last page laid out; false when it cannot be read.
  bool LayOut(int page);

  std::unique_ptr<State> state_;
};

}  // namespace rt
