// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfCoreDocument.h"

#include <poppler/ErrorCodes.h>
#include <poppler/GlobalParams.h>
#include <poppler/Object.h>
#include <poppler/PDFDoc.h>
#include <poppler/Page.h>
#include <poppler/Stream.h>
#include <poppler/splash/SplashBitmap.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/pdf/PdfDocumentSet.h"
#include "platform/pdf/PdfDrawingDevice.h"
#include "platform/pdf/PdfEngineLock.h"
#include "platform/runtime/threads/ErrorCodes.h"

namespace rt {
namespace {

void IgnoreDiagnostic(ErrorCategory, Goffset, const char*) {}

PdfError Fail(int code, const std::string& reason, const std::string& name) {
  return PdfError{code, name.empty() ? reason : reason + ": " + name};
}

// The library's process-wide parameters are made (and its diagnostics silenced) by the
// engine's preparation before anything else of a document.
struct Prepared {
  Prepared() { PdfEngineLock::Prepare(); }
};

// x / 255 for x up to 255 * 255, rounded as the library rounds its blends.
inline std::uint8_t Div255(int x) {
  return static_cast<std::uint8_t>((x + (x >> 8) + 0x80) >> 8);
}

// Lays a page drawn on a transparent background onto white paper, as the library's device
// does at the end of a page when it is given a paper colour: each pixel's colour blended
// with white by its coverage, every pixel opaque. The same arithmetic, but runs of eight
// blank or wholly covered pixels (most of a page) are done at once rather than blended.
void OntoWhitePaper(std::uint8_t* data, const std::uint8_t* alpha, int width, int height,
                    int stride) {
  auto blend = [](std::uint8_t* pixel, int coverage) {
    const int paper = (255 - coverage) * 255;
    pixel[0] = Div255(paper + coverage * pixel[0]);
    pixel[1] = Div255(paper + coverage * pixel[1]);
    pixel[2] = Div255(paper + coverage * pixel[2]);
    pixel[3] = 0xFF;
  };
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = data + static_cast<std::size_t>(y) * stride;
    const std::uint8_t* cover = alpha + static_cast<std::size_t>(y) * width;
    int x = 0;
    for (; x + 8 <= width; x += 8) {
      std::uint64_t eight = 0;
      std::memcpy(&eight, cover + x, sizeof eight);
      std::uint8_t* pixels = row + static_cast<std::size_t>(x) * 4;
      if (eight == 0) {
        std::memset(pixels, 0xFF, 32);  // blank paper
      } else if (eight == ~std::uint64_t{0}) {
        for (int k = 0; k < 8; ++k)
          pixels[k * 4 + 3] = 0xFF;  // covered: the drawn colour stays
      } else {
        for (int k = 0; k < 8; ++k)
          blend(pixels + k * 4, cover[x + k]);
      }
    }
    for (; x < width; ++x)
      blend(row + static_cast<std::size_t>(x) * 4, cover[x]);
  }
}

}  // namespace

struct PdfCoreDocument::State {
  Prepared prepared;
  // Holds the library's process-wide parameters while the document lives; declared before
  // the document, so it goes after it.
  GlobalParamsIniter globals{&IgnoreDiagnostic};
  std::shared_ptr<const std::vector<char>> bytes;
  std::unique_ptr<PDFDoc> document;
  Status status = Status::kDamaged;
  int glyphCachesWidened = 0;
};

PdfCoreDocument::PdfCoreDocument(std::shared_ptr<const std::vector<char>> bytes)
    : state_(std::make_unique<State>()) {
  state_->bytes = std::move(bytes);
  if (!state_->bytes || state_->bytes->empty()) return;
  try {
    auto stream = std::make_unique<MemStream>(
        state_->bytes->data(), 0, static_cast<Goffset>(state_->bytes->size()), Object(objNull));
    std::lock_guard<std::mutex> lock(PdfEngineLock::Mutex());
    // Empty passwords, as the C++ interface passes them.
    state_->document = std::make_unique<PDFDoc>(stream.release(), GooString(""), GooString(""));
    if (state_->document->isOk()) {
      state_->status = Status::kOk;
    } else {
      state_->status =
          state_->document->getErrorCode() == errEncrypted ? Status::kLocked : Status::kDamaged;
      state_->document.reset();
    }
  } catch (...) {
    state_->document.reset();
    state_->status = Status::kDamaged;
  }
}

PdfCoreDocument::~PdfCoreDocument() = default;

PdfCoreDocument::Status PdfCoreDocument::OpenStatus() const {
  return state_->status;
}

int PdfCoreDocument::GlyphCachesWidened() const {
  return state_->glyphCachesWidened;
}

PDFDoc* PdfCoreDocument::Core() const {
  return state_->document.get();
}

int PdfCoreDocument::PageCount() const {
  return state_->document ? state_->document->getNumPages() : 0;
}

PdfSize PdfCoreDocument::PageSize(int index) {
  if (!state_->document || index < 0 || index >= PageCount()) return {};
  try {
    Page* page = state_->document->getPage(index + 1);
    if (page == nullptr) return {};
    const PDFRectangle* box = page->getCropBox();
    PdfSize size{std::abs(box->x2 - box->x1), std::abs(box->y2 - box->y1)};
    const int rotate = page->getRotate();
    if (rotate == 90 || rotate == 270) std::swap(size.width, size.height);
    return size;
  } catch (...) {
    return {};
  }
}

PdfError PdfCoreDocument::Render(int index, double pixelsPerPoint, const std::string& name,
                                 PdfImage& image) {
  image = PdfImage{};
  state_->glyphCachesWidened = 0;
  if (!std::isfinite(pixelsPerPoint) || pixelsPerPoint <= 0)
    return Fail(kBadNameError, "Invalid rendering scale", {});
  PDFDoc* document = state_->document.get();
  Page* page = nullptr;
  try {
    if (document != nullptr && index >= 0 && index < PageCount())
      page = document->getPage(index + 1);
  } catch (...) {
    page = nullptr;
  }
  if (page == nullptr) return Fail(kBadFileError, "The page cannot be read", name);
  try {
    const PdfSize size = PageSize(index);
    const double width = std::ceil(size.width * pixelsPerPoint);
    const double height = std::ceil(size.height * pixelsPerPoint);
    if (width * height > static_cast<double>(PdfDocumentSet::kMaxRenderPixels) || width > 1e6 ||
        height > 1e6) {
      return Fail(kFileSystemError, "The page is too large to render at this zoom", {});
    }
    // The device draws on a transparent background (no paper colour given) and the page is
    // laid onto white paper here, with the same result and less work than the device's own
    // pass over every pixel.
    PdfDrawingDevice device;
    device.startDoc(document);
    const double dpi = 72.0 * pixelsPerPoint;
    document->displayPageSlice(&device, index + 1, dpi, dpi, 0, false, true, false, -1, -1, -1, -1,
                               nullptr, nullptr, nullptr, nullptr, true);
    state_->glyphCachesWidened = device.WidenedCaches();
    const std::unique_ptr<SplashBitmap> bitmap(device.takeBitmap());
    if (!bitmap || bitmap->getDataPtr() == nullptr || bitmap->getAlphaPtr() == nullptr ||
        bitmap->getWidth() <= 0 || bitmap->getHeight() <= 0 ||
        bitmap->getMode() != splashModeXBGR8 || bitmap->getRowSize() != bitmap->getWidth() * 4)
      return Fail(kBadFileError, "The page could not be rendered", name);
    OntoWhitePaper(bitmap->getDataPtr(), bitmap->getAlphaPtr(), bitmap->getWidth(),
                   bitmap->getHeight(), bitmap->getRowSize());
    // The bitmap's rows are the image's, top down without padding: its memory (from the C
    // allocator) becomes the image's as it is.
    const std::size_t bytes = static_cast<std::size_t>(bitmap->getRowSize()) * bitmap->getHeight();
    image.width = bitmap->getWidth();
    image.height = bitmap->getHeight();
    image.stride = bitmap->getRowSize();
    image.bytes = PdfPixels::Adopt(bitmap->takeData(), bytes);
  } catch (const std::bad_alloc&) {
    image = PdfImage{};
    return Fail(kFileSystemError, "Not enough memory to render the page", {});
  } catch (...) {
    image = PdfImage{};
    return Fail(kBadFileError, "The page could not be rendered", name);
  }
  return {};
}

}  // namespace rt
