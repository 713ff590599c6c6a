// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfSurfaceHeadless.h"

#include "platform/pdf/PdfEngine.h"
#include "platform/runtime/windows/UiBackend.h"

namespace rt {

void PdfSurfaceHeadless::Attach(int windowId, int control, const Rect& rect,
                                std::weak_ptr<PdfEngine> engine) {
  std::shared_ptr<PdfEngine> live = engine.lock();
  {
    std::lock_guard lock(mutex_);
    attached_ = true;
    windowId_ = windowId;
    control_ = control;
    region_ = rect;
    engine_ = std::move(engine);
  }
  ApplyViewport(live);
}

void PdfSurfaceHeadless::Resize(const Rect& rect) {
  std::shared_ptr<PdfEngine> engine;
  {
    std::lock_guard lock(mutex_);
    if (!attached_) return;
    region_ = rect;
    engine = engine_.lock();
  }
  ApplyViewport(engine);
}

void PdfSurfaceHeadless::ApplyViewport(const std::shared_ptr<PdfEngine>& engine) {
  if (!engine) return;
  Rect rect = Region();
  engine->SetViewport(PixelsX(rect.width), PixelsY(rect.height));
}

void PdfSurfaceHeadless::Refresh(bool documentsChanged) {
  std::shared_ptr<PdfEngine> engine;
  {
    std::lock_guard lock(mutex_);
    if (!attached_) return;
    engine = engine_.lock();
  }
  if (!engine) return;
  // Read the engine outside our lock: the engine serialises itself.
  const std::uint64_t revision = engine->Revision();
  std::string error = documentsChanged ? engine->LastError().text : std::string();
  std::lock_guard lock(mutex_);
  ++refreshCount_;
  if (documentsChanged) {
    ++documentRefreshCount_;
    errorText_ = std::move(error);
  }
  if (revision > lastRevision_) lastRevision_ = revision;
}

void PdfSurfaceHeadless::Detach() {
  std::lock_guard lock(mutex_);
  attached_ = false;
  engine_.reset();
}

std::string PdfSurfaceHeadless::OptionsText(const PdfPrintJob& job) {
  const PdfPrintOptions& o = job.options;
  return "copies=" + std::to_string(job.copies) + " dpi=" + std::to_string(o.RenderDpi(0)) +
         " select-printer=" + (o.selectPrinter ? "1" : "0") +
         " device-context=" + (o.deviceContext ? "1" : "0");
}

PdfPrintResult PdfSurfaceHeadless::Print(const PdfPrintJob& job, std::shared_ptr<PdfEngine>) {
  PrintJob request;
  for (const std::string& name : job.documents) {
    if (!request.documents.empty()) request.documents += "; ";
    request.documents += name;
  }
  // The backend counts pages from 1.
  request.firstPage = job.firstPage + 1;
  request.lastPage = job.lastPage + 1;
  request.options = OptionsText(job);
  Backend()->Print(request);
  return {};
}

void PdfSurfaceHeadless::ShowFile(std::shared_ptr<PdfEngine> engine, const std::string& caption) {
  const int pages = engine ? engine->PageCount() : 0;
  std::lock_guard lock(mutex_);
  shownFiles_.push_back({caption, pages});
}

bool PdfSurfaceHeadless::Attached() const {
  std::lock_guard lock(mutex_);
  return attached_;
}

int PdfSurfaceHeadless::WindowId() const {
  std::lock_guard lock(mutex_);
  return windowId_;
}

int PdfSurfaceHeadless::Control() const {
  std::lock_guard lock(mutex_);
  return control_;
}

Rect PdfSurfaceHeadless::Region() const {
  std::lock_guard lock(mutex_);
  return region_;
}

int PdfSurfaceHeadless::RefreshCount() const {
  std::lock_guard lock(mutex_);
  return refreshCount_;
}

int PdfSurfaceHeadless::DocumentRefreshCount() const {
  std::lock_guard lock(mutex_);
  return documentRefreshCount_;
}

std::uint64_t PdfSurfaceHeadless::LastRevision() const {
  std::lock_guard lock(mutex_);
  return lastRevision_;
}

std::string PdfSurfaceHeadless::ErrorText() const {
  std::lock_guard lock(mutex_);
  return errorText_;
}

std::vector<PdfSurfaceHeadless::ShownFile> PdfSurfaceHeadless::ShownFiles() const {
  std::lock_guard lock(mutex_);
  return shownFiles_;
}

}  // namespace rt
