// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The view of a document set in a viewport: zoom, page layout, scroll position and current
// page. Pure arithmetic over page sizes, so it needs no library and no window.
//
// Zoom factor 1 shows a page at its printed size on a screen of ScreenDpi() (96 by default):
// one point is ScreenDpi()/72 pixels times the zoom factor. Pages are laid out top to bottom,
// kMargin pixels from the content's edges and kGap pixels apart, centred horizontally; in
// two-page mode they are laid out in pairs side by side (pages 1-2, 3-4, ...).
//
// Zoom commands:
//   41 100%:       factor 1, one column;
//   42 zoom in:    the next step of kZoomSteps above the factor, layout kept;
//   44 zoom out:   the next step below;
//   45 full width: the widest page fills the viewport's width, one column;
//   46 full page:  the current page fits the viewport entirely, one column;
//   47 two pages:  the current pair of pages fits the viewport entirely, two columns.
// The fitting modes stay in force: a viewport change refits (FitToViewport); 41, 42 and 44
// end them. Factors stay within kMinZoom and kMaxZoom. Full page and two pages scroll the
// current page's row to the top, so that it is seen whole.

#include <vector>

#include "platform/pdf/PdfRect.h"
#include "platform/pdf/PdfSize.h"

namespace rt {

class PdfViewState {
 public:
  static constexpr int kZoom100 = 41;
  static constexpr int kZoomIn = 42;
  static constexpr int kZoomOut = 44;
  static constexpr int kZoomFullWidth = 45;
  static constexpr int kZoomFullPage = 46;
  static constexpr int kZoomTwoPages = 47;
  static constexpr double kMinZoom = 0.1;
  static constexpr double kMaxZoom = 8.0;
  static constexpr int kMargin = 8;
  static constexpr int kGap = 8;
  static constexpr double kZoomSteps[] = {0.1, 0.25, 0.5, 0.75, 1.0, 1.25,
                                          1.5, 2.0,  3.0, 4.0,  6.0, 8.0};

  enum class Mode { Fixed, FullWidth, FullPage, TwoPages };

  // New pages (a load, an append, a clear). The current page stays when it still exists.
  void SetPages(std::vector<PdfSize> pageSizes);
  // The viewport's size in pixels; refits a fitting mode.
  void SetViewport(int width, int height);
  void SetScreenDpi(double dpi);
  // Runs a zoom command; false (nothing changes) for an unknown command.
  bool Zoom(int command);
  // Recomputes the fitting zoom (when a fitting mode is in force) and the layout.
  void FitToViewport();

  // Makes a page current and scrolls its top into view. Out of range: nothing happens.
  void GoToPage(int page);
  // Makes a page current and scrolls so that a box (in page points) is visible.
  void ShowBox(int page, const PdfRect& box);
  // Scrolls, clamped to the scroll range.
  void ScrollTo(int x, int y);

  double ZoomFactor() const { return zoom_; }
  Mode ZoomMode() const { return mode_; }
  int Columns() const { return columns_; }
  double ScreenDpi() const { return screenDpi_; }
  double PixelsPerPoint() const { return zoom_ * screenDpi_ / 72.0; }
  int ViewportWidth() const { return viewportWidth_; }
  int ViewportHeight() const { return viewportHeight_; }
  int PageCount() const { return static_cast<int>(pages_.size()); }
  int CurrentPage() const { return currentPage_; }
  // Each page's rectangle in content pixels (origin at the content's top-left corner).
  const std::vector<PdfRect>& PageRects() const { return rects_; }
  int ContentWidth() const { return contentWidth_; }
  int ContentHeight() const { return contentHeight_; }
  int MaxScrollX() const;
  int MaxScrollY() const;
  int ScrollX() const { return scrollX_; }
  int ScrollY() const { return scrollY_; }
  // A box in page points mapped to content pixels.
  PdfRect PageToView(int page, const PdfRect& box) const;

 private:
  void Layout();
  double FittingZoom() const;

  std::vector<PdfSize> pages_;
  std::vector<PdfRect> rects_;
  double zoom_ = 1.0;
  double screenDpi_ = 96.0;
  Mode mode_ = Mode::Fixed;
  int columns_ = 1;
  int viewportWidth_ = 0;
  int viewportHeight_ = 0;
  int contentWidth_ = 0;
  int contentHeight_ = 0;
  int scrollX_ = 0;
  int scrollY_ = 0;
  int currentPage_ = 0;
};

}  // namespace rt
