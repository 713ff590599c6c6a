// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfEngineInstance.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <cmath>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>

#include "platform/pdf/PdfCoreDocument.h"
#include "platform/pdf/PdfDocumentSet.h"
#include "platform/pdf/PdfEngineLock.h"
#include "platform/runtime/threads/ErrorCodes.h"

namespace rt {
namespace {

PdfError Fail(int code, const std::string& reason, const std::string& name) {
  return PdfError{code, name.empty() ? reason : reason + ": " + name};
}

}  // namespace

PdfEngineInstance::PdfEngineInstance(std::vector<PdfSource> sources)
    : sources_(std::move(sources)), opened_(sources_.size()) {}

PdfEngineInstance::~PdfEngineInstance() = default;

int PdfEngineInstance::PageCount() const {
  int count = 0;
  for (const PdfSource& source : sources_)
    count += source.pageCount;
  return count;
}

PdfError PdfEngineInstance::RenderPage(int page, double pixelsPerPoint, PdfImage& image) {
  image = PdfImage{};
  std::size_t source = 0;
  while (source < sources_.size() &&
         page >= sources_[source].firstPage + sources_[source].pageCount)
    ++source;
  if (page < 0 || source == sources_.size() || page < sources_[source].firstPage)
    return Fail(kNoRecordError, "No such page", std::to_string(page + 1));
  Opened& opened = opened_[source];
  if (!opened.tried) {
    opened.tried = true;
    try {
      opened.document = std::make_unique<PdfCoreDocument>(sources_[source].bytes);
    } catch (...) {
      opened.document.reset();
    }
    if (opened.document && opened.document->OpenStatus() != PdfCoreDocument::Status::kOk)
      opened.document.reset();
  }
  if (!opened.document) return Fail(kBadFileError, "The document cannot be read", {});
  return opened.document->Render(page - sources_[source].firstPage, pixelsPerPoint, {}, image);
}

PdfError PdfEngineInstance::Render(poppler::page* page, double pixelsPerPoint,
                                   const std::string& name, PdfImage& image) {
  image = PdfImage{};
  if (!std::isfinite(pixelsPerPoint) || pixelsPerPoint <= 0)
    return Fail(kBadNameError, "Invalid rendering scale", {});
  if (page == nullptr) return Fail(kBadFileError, "The page cannot be read", name);
  PdfEngineLock::Prepare();
  try {
    poppler::rectf box = page->page_rect(poppler::crop_box);
    double width = std::abs(box.width());
    double height = std::abs(box.height());
    const auto orientation = page->orientation();
    if (orientation == poppler::page::landscape || orientation == poppler::page::seascape)
      std::swap(width, height);
    width = std::ceil(width * pixelsPerPoint);
    height = std::ceil(height * pixelsPerPoint);
    if (width * height > static_cast<double>(PdfDocumentSet::kMaxRenderPixels) || width > 1e6 ||
        height > 1e6) {
      return Fail(kFileSystemError, "The page is too large to render at this zoom", {});
    }
    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_argb32);
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    const double dpi = 72.0 * pixelsPerPoint;
    poppler::image rendered = renderer.render_page(page, dpi, dpi);
    if (!rendered.is_valid() || rendered.format() != poppler::image::format_argb32)
      return Fail(kBadFileError, "The page could not be rendered", name);
    image.width = rendered.width();
    image.height = rendered.height();
    image.stride = rendered.bytes_per_row();
    const auto* data = reinterpret_cast<const std::uint8_t*>(rendered.const_data());
    image.bytes.assign(data, data + static_cast<std::size_t>(image.stride) * image.height);
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
