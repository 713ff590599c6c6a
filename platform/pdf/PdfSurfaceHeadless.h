// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The surface without a screen: it keeps what a screen would show (the region it is placed
// in, the viewport, the engine revision and error text of the last refresh, the viewer
// windows asked for) so that tests and scripted runs can check it, and sends print jobs to
// the UI backend, where they appear in the headless transcript.
//
// Dialog units become pixels at the default dialog font's metrics: 6 pixels per 4 horizontal
// units, 13 pixels per 8 vertical units.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/pdf/PdfSurface.h"

namespace rt {

class PdfSurfaceHeadless : public PdfSurface {
 public:
  struct ShownFile {
    std::string caption;
    int pageCount = 0;
  };

  void Attach(int windowId, int control, const Rect& rect,
              std::weak_ptr<PdfEngine> engine) override;
  void Resize(const Rect& rect) override;
  void Refresh(bool documentsChanged) override;
  void Detach() override;
  PdfPrintResult Print(const PdfPrintJob& job, std::shared_ptr<PdfEngine> engine) override;
  void ShowFile(std::shared_ptr<PdfEngine> engine, const std::string& caption) override;

  // Pixels for dialog units.
  static int PixelsX(int units) { return units * 6 / 4; }
  static int PixelsY(int units) { return units * 13 / 8; }
  // The print backend's description of a job's options ("copies=1 dpi=150 ...").
  static std::string OptionsText(const PdfPrintJob& job);

  bool Attached() const;
  int WindowId() const;
  int Control() const;
  Rect Region() const;
  int RefreshCount() const;
  int DocumentRefreshCount() const;
  std::uint64_t LastRevision() const;
  // The text of the failed load shown in the view ("" when the last load succeeded).
  std::string ErrorText() const;
  std::vector<ShownFile> ShownFiles() const;

 private:
  void ApplyViewport(const std::shared_ptr<PdfEngine>& engine);

  mutable std::mutex mutex_;
  bool attached_ = false;
  int windowId_ = 0;
  int control_ = 0;
  Rect region_;
  std::weak_ptr<PdfEngine> engine_;
  int refreshCount_ = 0;
  int documentRefreshCount_ = 0;
  std::uint64_t lastRevision_ = 0;
  std::string errorText_;
  std::vector<ShownFile> shownFiles_;
};

}  // namespace rt
