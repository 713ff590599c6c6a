// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfSurface.h"

#include "platform/pdf/PdfSurfaceHeadless.h"
#include "platform/runtime/threads/Installed.h"

namespace rt {
namespace {

Installed<PdfSurfaceFactory>& Factory() {
  static Installed<PdfSurfaceFactory> factory;
  return factory;
}

}  // namespace

void SetPdfSurfaceFactory(PdfSurfaceFactory factory) {
  Factory().Set(std::move(factory));
}

std::unique_ptr<PdfSurface> MakePdfSurface() {
  const PdfSurfaceFactory factory = Factory().Get();
  std::unique_ptr<PdfSurface> surface;
  if (factory) surface = factory();
  if (!surface) surface = std::make_unique<PdfSurfaceHeadless>();
  return surface;
}

}  // namespace rt
