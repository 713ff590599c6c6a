// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Draws a page in two bands at once, on two instances of its document: the given instance
// draws the top half of the page while an instance of this object's own, on a thread of its
// own, draws the bottom half, and the bottom half's rows are then copied into the top half's
// image. Both draw with the whole page's transform, clipped to their rows (see
// PdfCoreDocument::RenderRows), so the joined image is byte for byte the single draw's.
//
// Only worth it for a page large enough, on a machine with a core to spare, when nothing
// else is being drawn in the process (a viewer drawing pages ahead has the cores busy):
// otherwise the page is drawn whole on the given instance. The second instance is opened
// on first use and closed with this object; it holds no page between draws.
// Not thread-safe: one thread draws through an object at a time.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/pdf/PdfError.h"
#include "platform/pdf/PdfImage.h"

namespace rt {

class PdfCoreDocument;

class PdfPageBands {
 public:
  // Smaller pages (in pixels) are drawn whole: starting the second thread and copying its
  // rows would cost more than the half page saves.
  static constexpr double kMinPixels = 1 << 20;

  explicit PdfPageBands(std::shared_ptr<const std::vector<char>> bytes);
  ~PdfPageBands();
  PdfPageBands(const PdfPageBands&) = delete;
  PdfPageBands& operator=(const PdfPageBands&) = delete;

  // Draws a page (0-based) of `document`, an instance of the bytes given at construction,
  // as document.Render does; in two bands when it pays.
  PdfError Render(PdfCoreDocument& document, int index, double pixelsPerPoint,
                  const std::string& name, PdfImage& image);
  // As Render, always in two bands (when the second instance opens), whatever the page's
  // size and the process's other draws.
  PdfError RenderInBands(PdfCoreDocument& document, int index, double pixelsPerPoint,
                         const std::string& name, PdfImage& image);

 private:
  // The second instance; null when it cannot be opened.
  PdfCoreDocument* Second();

  std::shared_ptr<const std::vector<char>> bytes_;
  std::unique_ptr<PdfCoreDocument> second_;
  bool secondTried_ = false;
};

}  // namespace rt
