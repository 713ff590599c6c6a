// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A document opened through the PDF library's core interface, for page sizes and drawing.
//
// Drawing here hands the library's bitmap memory to the engine's image as it is (no copy),
// where the library's C++ interface copies it into an image of its own first; the pixels
// are the same. The device keeps a page of glyphs per font (PdfDrawingDevice). Page sizes
// come from the page objects alone, without the C++ interface's page wrappers. Not
// thread-safe: one thread uses a document at a time.

#include <memory>
#include <string>
#include <vector>

#include "platform/pdf/PdfError.h"
#include "platform/pdf/PdfImage.h"
#include "platform/pdf/PdfSize.h"

class PDFDoc;

namespace rt {

class PdfCoreDocument {
 public:
  enum class Status { kOk, kLocked, kDamaged };

  // Opens the document from `bytes` (kept alive by the document).
  explicit PdfCoreDocument(std::shared_ptr<const std::vector<char>> bytes);
  ~PdfCoreDocument();
  PdfCoreDocument(const PdfCoreDocument&) = delete;
  PdfCoreDocument& operator=(const PdfCoreDocument&) = delete;

  Status OpenStatus() const;
  int PageCount() const;
  // Size of a page (0-based) in points with its rotation applied; zero when unreadable.
  PdfSize PageSize(int index);
  // Renders a page (0-based) at a scale (pixels per point); `name` labels errors.
  PdfError Render(int index, double pixelsPerPoint, const std::string& name, PdfImage& image);
  // How many fonts' glyph caches the last Render widened (for tests).
  int GlyphCachesWidened() const;
  // The library's document, for the other users of the core interface in this folder (the
  // text layout); null when it could not be opened.
  PDFDoc* Core() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace rt
