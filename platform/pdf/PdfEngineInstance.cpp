// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfEngineInstance.h"

#include <string>

#include "platform/pdf/PdfCoreDocument.h"
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

}  // namespace rt
