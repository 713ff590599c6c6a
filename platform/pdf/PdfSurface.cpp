#include "platform/pdf/PdfSurface.h"

#include <mutex>

#include "platform/pdf/PdfSurfaceHeadless.h"

namespace rt {
namespace {

std::mutex& FactoryMutex() {
  static std::mutex mutex;
  return mutex;
}

PdfSurfaceFactory& Factory() {
  static PdfSurfaceFactory factory;
  return factory;
}

}  // namespace

void SetPdfSurfaceFactory(PdfSurfaceFactory factory) {
  std::lock_guard lock(FactoryMutex());
  Factory() = std::move(factory);
}

std::unique_ptr<PdfSurface> MakePdfSurface() {
  PdfSurfaceFactory factory;
  {
    std::lock_guard lock(FactoryMutex());
    factory = Factory();
  }
  std::unique_ptr<PdfSurface> surface;
  if (factory) surface = factory();
  if (!surface) surface = std::make_unique<PdfSurfaceHeadless>();
  return surface;
}

}  // namespace rt
