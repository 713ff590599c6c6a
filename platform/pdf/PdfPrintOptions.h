// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The print options of a view, switched by the commands 123 to 126. Each command toggles its
// option:
//   123 printing switched off: Print is refused while this is on;
//   124 high-quality printing: pages are rendered at kHighQualityDpi instead of kDraftDpi;
//   125 printer selection: the surface asks the user for the printer (and its settings)
//       before printing; when off it prints to the default printer without asking;
//   126 device-context printing: pages are rendered at the printer device's own resolution
//       and drawn straight onto its drawing context, overriding the fixed resolutions.
// A fresh view prints, asks for the printer, at draft resolution.

namespace rt {

class PdfPrintOptions {
 public:
  static constexpr int kDisablePrint = 123;
  static constexpr int kHighQuality = 124;
  static constexpr int kSelectPrinter = 125;
  static constexpr int kDeviceContext = 126;
  static constexpr int kDraftDpi = 150;
  static constexpr int kHighQualityDpi = 300;

  // Toggles the option of a command; false (and nothing changes) for any other number.
  bool Apply(int command);

  // The resolution pages are rendered at for a printer of the given resolution.
  int RenderDpi(int deviceDpi) const;

  bool printingDisabled = false;
  bool highQuality = false;
  bool selectPrinter = true;
  bool deviceContext = false;
};

}  // namespace rt
