// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The desktop's surface of a view control: a QtPdfView placed into the region widget of the
// control's window, top-level viewers for ShowFile, and printing through the print dialog.
//
// Every call comes from a runtime thread and only queues work to the GUI thread; the widgets
// are made, changed and deleted there. The surface's widgets close with it.

#include <memory>

#include "platform/pdf/PdfSurface.h"

namespace gui {

class QtPdfSurface : public rt::PdfSurface {
 public:
  QtPdfSurface();
  ~QtPdfSurface() override;

  void Attach(int windowId, int control, const rt::Rect& rect,
              std::weak_ptr<rt::PdfEngine> engine) override;
  void Resize(const rt::Rect& rect) override;
  void Refresh(bool documentsChanged) override;
  void Detach() override;
  rt::PdfPrintResult Print(const rt::PdfPrintJob& job,
                           std::shared_ptr<rt::PdfEngine> engine) override;
  void ShowFile(std::shared_ptr<rt::PdfEngine> engine, const std::string& caption) override;

  // How often, and how far apart, placing the view is retried while the backend has not
  // made the region's widget yet.
  static constexpr int kPlaceAttempts = 250;
  static constexpr int kPlaceRetryMs = 20;

  // The surface's state on the GUI thread (shared with the work queued there).
  struct GuiSide;

 private:
  std::shared_ptr<GuiSide> gui_;  // touched on the GUI thread only
};

// Makes the desktop's surfaces the ones new view controls use. Call once the Qt backend is
// installed.
void InstallPdfSurfaces();

}  // namespace gui
