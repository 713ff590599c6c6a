// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One or more PDF documents shown as one sequence of pages: page 0 is the first page of the
// first document, and an appended document's pages follow the pages already there.
//
// Documents come from a file by name or from bytes in memory (a record's BLOB); either way
// the engine keeps its own copy of the bytes, so the file may change or vanish afterwards.
// Bad input (missing, unreadable, empty, not a PDF, truncated, damaged, password-protected,
// too large, no pages) is refused with an error code and text; a failed load leaves the set
// empty, a failed append leaves the set as it was.
//
// Not thread-safe: PdfEngine serialises every call.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/pdf/PdfError.h"
#include "platform/pdf/PdfImage.h"
#include "platform/pdf/PdfParallelPages.h"
#include "platform/pdf/PdfProperty.h"
#include "platform/pdf/PdfRect.h"
#include "platform/pdf/PdfSize.h"
#include "platform/pdf/PdfTextCache.h"

namespace rt {

class PdfDocumentSet {
 public:
  // Larger documents are refused rather than read into memory.
  static constexpr std::uint64_t kMaxDocumentBytes = std::uint64_t{1} << 30;
  // Largest rendered image, in pixels (a 256 MB bitmap).
  static constexpr std::uint64_t kMaxRenderPixels = std::uint64_t{64} << 20;

  PdfDocumentSet();
  ~PdfDocumentSet();
  PdfDocumentSet(const PdfDocumentSet&) = delete;
  PdfDocumentSet& operator=(const PdfDocumentSet&) = delete;

  PdfError LoadFile(const std::string& fileName);
  PdfError AppendFile(const std::string& fileName);
  // `name` labels the document in properties and print jobs (may be empty).
  PdfError LoadBytes(std::vector<char> bytes, const std::string& name);
  PdfError AppendBytes(std::vector<char> bytes, const std::string& name);
  void Clear();

  bool Empty() const { return pageCount_ == 0; }
  int PageCount() const { return pageCount_; }
  int DocumentCount() const { return static_cast<int>(documents_.size()); }
  std::vector<std::string> DocumentNames() const;

  // Size of a page in points with its rotation applied; zero for a page out of range.
  PdfSize PageSize(int page) const;
  std::vector<PdfSize> PageSizes() const;

  // A page's text in UTF-8 (empty out of range). Extracted once and kept (see TextCache).
  std::string PageText(int page);
  // A page's text extracted now and not kept (only the text instance's last page layout
  // stays): a long document read page by page this way holds one page's text at a time (a
  // kept text is reused).
  std::string ExtractPageText(int page);
  // Every page's text, pages separated by a form feed ('\f'); no separator after the last.
  // Pages not kept yet are extracted in parallel, one instance of the document per core.
  std::string DocumentText();
  std::size_t DocumentTextLength();
  // Every page's text, in page order (extracted as DocumentText does).
  std::vector<std::shared_ptr<const std::string>> PageTexts();
  // The texts kept now, by page (null where none is kept); nothing is extracted.
  std::vector<std::shared_ptr<const std::string>> KeptTexts();
  // As KeptTexts, for ruling pages out of a search: a page's text and its search come from
  // the same layout (PdfTextLayout), so every kept text holds every character the search
  // sees (both leave out what lies outside the crop box).
  std::vector<std::shared_ptr<const std::string>> KeptTextsForSearch();
  // The kept texts: dropped with the documents, capped in bytes.
  PdfTextCache& TextCache() { return cache_; }

  // The documents' bytes and page ranges, for work on instances of their own.
  std::vector<PdfSource> Sources() const;

  // The boxes (in page points) where `text` (UTF-8) occurs on a page, in reading order. The
  // page's text, made by the same layout, is kept too.
  std::vector<PdfRect> Search(int page, const std::string& text, bool caseInsensitive);

  // Renders a page at the given scale (pixels per point; 1 is 72 dpi).
  PdfError RenderPage(int page, double pixelsPerPoint, PdfImage& image);

  // Properties of every document in order, each group starting with its "File" line.
  std::vector<PdfProperty> Properties() const;

 private:
  struct Document;

  PdfError Add(std::vector<char> bytes, const std::string& name, bool replace);
  PdfError ReadFile(const std::string& fileName, std::vector<char>& bytes) const;
  // The document holding a set page and the page's index in it; null out of range.
  Document* Locate(int page, int& indexInDocument) const;
  // The text of a page of a document, laid out on the document's text instance.
  static std::string LayoutText(Document& document, int index);
  void Reindex();

  std::vector<std::unique_ptr<Document>> documents_;
  std::vector<int> firstPages_;  // first set page of each document
  int pageCount_ = 0;
  PdfTextCache cache_;
};

}  // namespace rt
