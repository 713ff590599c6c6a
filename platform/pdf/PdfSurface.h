// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a view control shows its document. A surface presents an engine's state in a region
// of a runtime window, prints the engine's pages and shows files in viewer windows of its
// own. The headless surface (PdfSurfaceHeadless) keeps what it would show; the desktop
// installs its own factory at start-up.
//
// Thread rules: a surface is made and attached on the control's thread, but Refresh and
// Print may also come from another runtime thread (a find dialog searching the control's
// document), so implementations make those two safe to call from any runtime thread. No
// call may wait for the GUI.

#include <functional>
#include <memory>
#include <string>

#include "platform/pdf/PdfPrintJob.h"
#include "platform/runtime/windows/WindowDef.h"

namespace rt {

class PdfEngine;

class PdfSurface {
 public:
  PdfSurface() = default;
  virtual ~PdfSurface() = default;
  PdfSurface(const PdfSurface&) = delete;
  PdfSurface& operator=(const PdfSurface&) = delete;

  // Places the view into a region control of a window; `rect` is the region's position in
  // dialog units. The surface sets the engine's viewport to the size it shows.
  virtual void Attach(int windowId, int control, const Rect& rect,
                      std::weak_ptr<PdfEngine> engine) = 0;
  // The region was moved or resized.
  virtual void Resize(const Rect& rect) = 0;
  // The engine's state changed (view, search, documents when `documentsChanged`).
  virtual void Refresh(bool documentsChanged) = 0;
  // Takes the view out of its region; later calls do nothing until the next Attach.
  virtual void Detach() = 0;
  // Prints a job's pages, rendered by `engine`, which the surface keeps while it prints.
  // Returns once the print dialog (when the options ask for one) has been answered and the
  // pages have been printed, with what became of the job. The dialog keeps input from the
  // control's own window only.
  virtual PdfPrintResult Print(const PdfPrintJob& job, std::shared_ptr<PdfEngine> engine) = 0;
  // How the view is framed: a border, scroll bars, a toolbar with the zoom and page commands.
  virtual void SetStyle(bool border, bool scrollBars, bool toolbar) {
    border_ = border;
    scrollBars_ = scrollBars;
    toolbar_ = toolbar;
  }
  bool Border() const { return border_; }
  bool ScrollBars() const { return scrollBars_; }
  bool Toolbar() const { return toolbar_; }
  // Shows a loaded document in a viewer window of the surface's own, titled `caption`.
  // The window closes with the surface.
  virtual void ShowFile(std::shared_ptr<PdfEngine> engine, const std::string& caption) = 0;

 private:
  bool border_ = true;
  bool scrollBars_ = true;
  bool toolbar_ = false;
};

using PdfSurfaceFactory = std::function<std::unique_ptr<PdfSurface>()>;

// Sets the process-wide factory of surfaces; an empty factory restores the headless one.
// Controls made afterwards use it.
void SetPdfSurfaceFactory(PdfSurfaceFactory factory);
// A surface from the current factory.
std::unique_ptr<PdfSurface> MakePdfSurface();

}  // namespace rt
