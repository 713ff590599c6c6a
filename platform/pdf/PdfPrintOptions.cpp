// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfPrintOptions.h"

namespace rt {

bool PdfPrintOptions::Apply(int command) {
  switch (command) {
    case kDisablePrint:
      printingDisabled = !printingDisabled;
      return true;
    case kHighQuality:
      highQuality = !highQuality;
      return true;
    case kSelectPrinter:
      selectPrinter = !selectPrinter;
      return true;
    case kDeviceContext:
      deviceContext = !deviceContext;
      return true;
    default:
      return false;
  }
}

int PdfPrintOptions::RenderDpi(int deviceDpi) const {
  if (deviceContext && deviceDpi > 0) return deviceDpi;
  return highQuality ? kHighQualityDpi : kDraftDpi;
}

}  // namespace rt
