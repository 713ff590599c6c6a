// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfPageBands.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "platform/pdf/PdfCoreDocument.h"

namespace rt {

PdfPageBands::PdfPageBands(std::shared_ptr<const std::vector<char>> bytes)
    : bytes_(std::move(bytes)) {}

PdfPageBands::~PdfPageBands() = default;

PdfCoreDocument* PdfPageBands::Second() {
  if (!secondTried_) {
    secondTried_ = true;
    try {
      second_ = std::make_unique<PdfCoreDocument>(bytes_);
    } catch (...) {
      second_.reset();
    }
    if (second_ && second_->OpenStatus() != PdfCoreDocument::Status::kOk) second_.reset();
  }
  return second_.get();
}

PdfError PdfPageBands::Render(PdfCoreDocument& document, int index, double pixelsPerPoint,
                              const std::string& name, PdfImage& image) {
  const PdfSize size = document.PageSize(index);
  const double pixels = size.width * size.height * pixelsPerPoint * pixelsPerPoint;
  const bool pays = std::isfinite(pixels) && pixels >= kMinPixels &&
                    std::thread::hardware_concurrency() >= 2 &&
                    PdfCoreDocument::DrawsInProgress() == 0;
  if (!pays) return document.Render(index, pixelsPerPoint, name, image);
  return RenderInBands(document, index, pixelsPerPoint, name, image);
}

PdfError PdfPageBands::RenderInBands(PdfCoreDocument& document, int index, double pixelsPerPoint,
                                     const std::string& name, PdfImage& image) {
  image = PdfImage{};
  const PdfSize size = document.PageSize(index);
  const double height = std::ceil(size.height * pixelsPerPoint);
  if (!std::isfinite(height) || height < 2 || height > 1e6)
    return document.Render(index, pixelsPerPoint, name, image);
  const int split = static_cast<int>(height / 2);
  PdfImage bottom;
  PdfError bottomError{1, {}};
  {
    std::jthread helper;
    try {
      helper = std::jthread([&] {
        PdfCoreDocument* second = Second();
        if (second == nullptr) return;
        bottomError = second->RenderRows(index, pixelsPerPoint, split,
                                         std::numeric_limits<int>::max(), name, bottom);
      });
    } catch (...) {
      return document.Render(index, pixelsPerPoint, name, image);
    }
    const PdfError error = document.RenderRows(index, pixelsPerPoint, 0, split, name, image);
    if (!error.Ok()) return error;
  }  // the helper has joined
  if (!bottomError.Ok() || bottom.width != image.width || bottom.height != image.height ||
      bottom.stride != image.stride || split >= image.height) {
    // The second instance did not draw its half: the page is drawn whole here.
    return document.Render(index, pixelsPerPoint, name, image);
  }
  const std::size_t offset = static_cast<std::size_t>(split) * image.stride;
  std::memcpy(image.bytes.data() + offset, bottom.bytes.data() + offset,
              image.bytes.size() - offset);
  return {};
}

}  // namespace rt
