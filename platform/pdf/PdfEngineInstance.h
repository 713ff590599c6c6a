// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An engine's documents opened once more, for rendering on a thread of the caller's own.
//
// The PDF library is not thread-safe per document, but instances opened from the same bytes
// are independent: a page view renders on an instance of its own, so that neither waits for
// the other and the engine's calls (a zoom, a scroll) never wait behind a page render. The
// documents are opened on first use, from the bytes the engine keeps (shared, read only).
// Not thread-safe itself: one thread uses an instance at a time.

#include <memory>
#include <vector>

#include "platform/pdf/PdfError.h"
#include "platform/pdf/PdfImage.h"
#include "platform/pdf/PdfParallelPages.h"

namespace rt {

class PdfCoreDocument;

class PdfEngineInstance {
 public:
  explicit PdfEngineInstance(std::vector<PdfSource> sources);
  ~PdfEngineInstance();
  PdfEngineInstance(const PdfEngineInstance&) = delete;
  PdfEngineInstance& operator=(const PdfEngineInstance&) = delete;

  int PageCount() const;
  // Renders a set page at a scale (pixels per point), as PdfEngine::RenderPage does.
  PdfError RenderPage(int page, double pixelsPerPoint, PdfImage& image);

 private:
  struct Opened {
    std::unique_ptr<PdfCoreDocument> document;
    bool tried = false;
  };

  std::vector<PdfSource> sources_;
  std::vector<Opened> opened_;
};

}  // namespace rt
