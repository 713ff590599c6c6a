// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Test helpers: a temporary folder removed at the end of the test, and file writing.

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/pdf/PdfCoreDocument.h"
#include "platform/pdf/PdfDocumentSet.h"
#include "platform/pdf/PdfEngineInstance.h"
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

// A page drawn through the library's C++ interface and its own renderer, the way the engine
// drew before it rendered through the core interface: the reference its pixels must equal.
inline rt::PdfError LibraryRendering(const std::vector<char>& bytes, int page, double scale,
                                     rt::PdfImage& image) {
  std::unique_ptr<poppler::document> document(
      poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
  std::unique_ptr<poppler::page> drawn(document ? document->create_page(page) : nullptr);
  if (!drawn) return rt::PdfError{1, "no such page"};
  poppler::page_renderer renderer;
  renderer.set_image_format(poppler::image::format_argb32);
  renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
  renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
  const poppler::image rendered = renderer.render_page(drawn.get(), 72 * scale, 72 * scale);
  if (!rendered.is_valid()) return rt::PdfError{1, "not rendered"};
  image.width = rendered.width();
  image.height = rendered.height();
  image.stride = rendered.bytes_per_row();
  const auto* data = reinterpret_cast<const std::uint8_t*>(rendered.const_data());
  const std::size_t size = static_cast<std::size_t>(image.stride) * image.height;
  image.bytes = rt::PdfPixels::Allocate(size);
  if (image.bytes.size() != size) return rt::PdfError{1, "out of memory"};
  std::memcpy(image.bytes.data(), data, size);
  return {};
}

// Draws each page at each resolution on a core-interface instance of `bytes` and through
// the library's own renderer (LibraryRendering); returns "page N at D dpi" for every page
// that fails either way or whose pixels differ.
inline std::vector<std::string> RenderingDifferences(const std::vector<char>& bytes,
                                                     const std::vector<int>& pages,
                                                     const std::vector<double>& dpis) {
  rt::PdfCoreDocument document(std::make_shared<const std::vector<char>>(bytes));
  std::vector<std::string> differences;
  for (int page : pages) {
    for (double dpi : dpis) {
      rt::PdfImage image;
      rt::PdfImage expected;
      if (!document.Render(page, dpi / 72, {}, image).Ok() ||
          !LibraryRendering(bytes, page, dpi / 72, expected).Ok() ||
          image.width != expected.width || image.height != expected.height ||
          image.stride != expected.stride || !(image.bytes == expected.bytes)) {
        differences.push_back("page " + std::to_string(page + 1) + " at " +
                              std::to_string(static_cast<int>(dpi)) + " dpi");
      }
    }
  }
  return differences;
}

}  // namespace pdftest
