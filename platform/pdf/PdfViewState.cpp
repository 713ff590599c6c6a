// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfViewState.h"

#include <algorithm>
#include <cmath>

namespace rt {

void PdfViewState::SetPages(std::vector<PdfSize> pageSizes) {
  pages_ = std::move(pageSizes);
  if (currentPage_ >= PageCount()) currentPage_ = 0;
  FitToViewport();
}

void PdfViewState::SetViewport(int width, int height) {
  viewportWidth_ = std::max(0, width);
  viewportHeight_ = std::max(0, height);
  FitToViewport();
}

void PdfViewState::SetScreenDpi(double dpi) {
  if (!std::isfinite(dpi) || dpi <= 0) return;
  screenDpi_ = dpi;
  FitToViewport();
}

bool PdfViewState::Zoom(int command) {
  switch (command) {
    case kZoom100:
      mode_ = Mode::Fixed;
      columns_ = 1;
      zoom_ = 1.0;
      break;
    case kZoomIn: {
      mode_ = Mode::Fixed;
      double next = kMaxZoom;
      for (double step : kZoomSteps) {
        if (step > zoom_ + 1e-9) {
          next = step;
          break;
        }
      }
      zoom_ = next;
      break;
    }
    case kZoomOut: {
      mode_ = Mode::Fixed;
      double previous = kMinZoom;
      for (double step : kZoomSteps) {
        if (step < zoom_ - 1e-9) previous = step;
      }
      zoom_ = previous;
      break;
    }
    case kZoomFullWidth:
      mode_ = Mode::FullWidth;
      columns_ = 1;
      break;
    case kZoomFullPage:
      mode_ = Mode::FullPage;
      columns_ = 1;
      break;
    case kZoomTwoPages:
      mode_ = Mode::TwoPages;
      columns_ = 2;
      break;
    default:
      return false;
  }
  FitToViewport();
  return true;
}

double PdfViewState::FittingZoom() const {
  if (mode_ == Mode::Fixed || pages_.empty() || viewportWidth_ <= 0 || viewportHeight_ <= 0) {
    return zoom_;
  }
  const double perPoint = screenDpi_ / 72.0;
  const double width = viewportWidth_ - 2.0 * kMargin;
  const double height = viewportHeight_ - 2.0 * kMargin;
  double fit = zoom_;
  if (mode_ == Mode::FullWidth) {
    double widest = 0;
    for (const PdfSize& size : pages_)
      widest = std::max(widest, size.width);
    if (widest > 0) fit = width / (widest * perPoint);
  } else if (mode_ == Mode::FullPage) {
    const PdfSize& size = pages_[currentPage_];
    if (size.width > 0 && size.height > 0) {
      fit = std::min(width / (size.width * perPoint), height / (size.height * perPoint));
    }
  } else {
    // Both columns as wide as the pair's wider page, so a lone last page fits the same way.
    const int first = currentPage_ - currentPage_ % 2;
    PdfSize pair = pages_[first];
    if (first + 1 < PageCount()) {
      pair.width = std::max(pair.width, pages_[first + 1].width);
      pair.height = std::max(pair.height, pages_[first + 1].height);
    }
    if (pair.width > 0 && pair.height > 0) {
      fit =
          std::min((width - kGap) / (2 * pair.width * perPoint), height / (pair.height * perPoint));
    }
  }
  return fit;
}

void PdfViewState::FitToViewport() {
  // Keep the same spot of the current page at the top of the viewport across the relayout.
  double fraction = 0;
  if (currentPage_ < static_cast<int>(rects_.size()) && rects_[currentPage_].height > 0) {
    fraction = (scrollY_ - rects_[currentPage_].y) / rects_[currentPage_].height;
  }
  zoom_ = std::clamp(FittingZoom(), kMinZoom, kMaxZoom);
  Layout();
  if (currentPage_ < static_cast<int>(rects_.size())) {
    const PdfRect& rect = rects_[currentPage_];
    // A fitted page (or pair) is shown whole: its row starts at the top of the viewport.
    const bool whole = mode_ == Mode::FullPage || mode_ == Mode::TwoPages;
    const double y = whole || fraction < 0 ? rect.y - kMargin : rect.y + fraction * rect.height;
    scrollY_ = static_cast<int>(std::lround(y));
  }
  scrollX_ = std::clamp(scrollX_, 0, MaxScrollX());
  scrollY_ = std::clamp(scrollY_, 0, MaxScrollY());
}

void PdfViewState::Layout() {
  rects_.assign(pages_.size(), PdfRect{});
  const double scale = PixelsPerPoint();
  int widestRow = 0;
  std::vector<int> rowWidths;
  for (std::size_t first = 0; first < pages_.size(); first += columns_) {
    int rowWidth = 0;
    for (std::size_t p = first; p < std::min(pages_.size(), first + columns_); ++p) {
      rects_[p].width = std::round(pages_[p].width * scale);
      rects_[p].height = std::round(pages_[p].height * scale);
      if (p > first) rowWidth += kGap;
      rowWidth += static_cast<int>(rects_[p].width);
    }
    rowWidths.push_back(rowWidth);
    widestRow = std::max(widestRow, rowWidth);
  }
  contentWidth_ = pages_.empty() ? 0 : std::max(widestRow + 2 * kMargin, viewportWidth_);
  int y = kMargin;
  for (std::size_t first = 0, row = 0; first < pages_.size(); first += columns_, ++row) {
    int x = (contentWidth_ - rowWidths[row]) / 2;
    int rowHeight = 0;
    for (std::size_t p = first; p < std::min(pages_.size(), first + columns_); ++p) {
      rects_[p].x = x;
      rects_[p].y = y;
      x += static_cast<int>(rects_[p].width) + kGap;
      rowHeight = std::max(rowHeight, static_cast<int>(rects_[p].height));
    }
    y += rowHeight + kGap;
  }
  contentHeight_ = pages_.empty() ? 0 : y - kGap + kMargin;
}

int PdfViewState::MaxScrollX() const {
  return std::max(0, contentWidth_ - viewportWidth_);
}
int PdfViewState::MaxScrollY() const {
  return std::max(0, contentHeight_ - viewportHeight_);
}

void PdfViewState::GoToPage(int page) {
  if (page < 0 || page >= PageCount()) return;
  const bool refit = page != currentPage_ && mode_ != Mode::Fixed && mode_ != Mode::FullWidth;
  currentPage_ = page;
  // Fitting a page or a pair depends on which page is current.
  if (refit) {
    zoom_ = std::clamp(FittingZoom(), kMinZoom, kMaxZoom);
    Layout();
  }
  scrollY_ = std::clamp(static_cast<int>(rects_[page].y) - kMargin, 0, MaxScrollY());
  scrollX_ = std::clamp(scrollX_, 0, MaxScrollX());
}

void PdfViewState::ShowBox(int page, const PdfRect& box) {
  if (page < 0 || page >= PageCount()) return;
  if (page != currentPage_) GoToPage(page);
  const PdfRect view = PageToView(page, box);
  if (view.y < scrollY_ || view.Bottom() > scrollY_ + viewportHeight_) {
    scrollY_ = static_cast<int>(view.y) - viewportHeight_ / 3;
  }
  if (view.x < scrollX_ || view.Right() > scrollX_ + viewportWidth_) {
    scrollX_ = static_cast<int>(view.x) - kMargin;
  }
  scrollX_ = std::clamp(scrollX_, 0, MaxScrollX());
  scrollY_ = std::clamp(scrollY_, 0, MaxScrollY());
}

void PdfViewState::ScrollTo(int x, int y) {
  scrollX_ = std::clamp(x, 0, MaxScrollX());
  scrollY_ = std::clamp(y, 0, MaxScrollY());
  // The current page is the one at the middle of the viewport (or the last one above it).
  const double middle = scrollY_ + viewportHeight_ / 2.0;
  int current = 0;
  for (int p = 0; p < static_cast<int>(rects_.size()); ++p) {
    if (rects_[p].y <= middle && (p == 0 || rects_[p].y > rects_[current].y)) current = p;
  }
  currentPage_ = current;
}

PdfRect PdfViewState::PageToView(int page, const PdfRect& box) const {
  if (page < 0 || page >= static_cast<int>(rects_.size())) return {};
  const double scale = PixelsPerPoint();
  const PdfRect& rect = rects_[page];
  return PdfRect{rect.x + box.x * scale, rect.y + box.y * scale, box.width * scale,
                 box.height * scale};
}

}  // namespace rt
