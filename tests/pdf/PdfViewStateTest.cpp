// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfViewState.h"

#include <gtest/gtest.h>

namespace {

using rt::PdfRect;
using rt::PdfSize;
using rt::PdfViewState;

constexpr PdfSize kLetter{612, 792};
constexpr PdfSize kLandscape{792, 612};
constexpr int kM = PdfViewState::kMargin;
constexpr int kGap = PdfViewState::kGap;

// Screen dpi 72 makes one point one pixel at 100%, which keeps the arithmetic readable.
PdfViewState MakeView(std::vector<PdfSize> pages, int width, int height) {
  PdfViewState view;
  view.SetScreenDpi(72);
  view.SetPages(std::move(pages));
  view.SetViewport(width, height);
  return view;
}

TEST(PdfViewStateZoom, HundredPercentShowsPrintedSizeAtScreenDpi) {
  PdfViewState view;
  view.SetPages({kLetter});
  view.SetViewport(800, 600);
  ASSERT_TRUE(view.Zoom(PdfViewState::kZoom100));
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), 1.0);
  EXPECT_DOUBLE_EQ(view.PixelsPerPoint(), 96.0 / 72.0);
  EXPECT_EQ(view.PageRects()[0].width, 816);  // 8.5 in at 96 dpi
  EXPECT_EQ(view.PageRects()[0].height, 1056);
}

TEST(PdfViewStateZoom, InAndOutWalkTheStepsWithinBounds) {
  PdfViewState view = MakeView({kLetter}, 800, 600);
  EXPECT_TRUE(view.Zoom(PdfViewState::kZoomIn));
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), 1.25);
  EXPECT_TRUE(view.Zoom(PdfViewState::kZoomOut));
  EXPECT_TRUE(view.Zoom(PdfViewState::kZoomOut));
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), 0.75);
  for (int i = 0; i < 20; ++i)
    view.Zoom(PdfViewState::kZoomOut);
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), PdfViewState::kMinZoom);
  for (int i = 0; i < 20; ++i)
    view.Zoom(PdfViewState::kZoomIn);
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), PdfViewState::kMaxZoom);

  // From a fitted factor between steps, zoom in goes to the next step up.
  view.Zoom(PdfViewState::kZoomFullWidth);  // (800 - 16) / 612 = 1.28...
  view.Zoom(PdfViewState::kZoomIn);
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), 1.5);
  EXPECT_EQ(view.ZoomMode(), PdfViewState::Mode::Fixed);
}

TEST(PdfViewStateZoom, UnknownCommandsChangeNothing) {
  PdfViewState view = MakeView({kLetter}, 800, 600);
  view.Zoom(PdfViewState::kZoomIn);
  for (int command : {0, 40, 43, 48, 123, -41})
    EXPECT_FALSE(view.Zoom(command));
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), 1.25);
}

TEST(PdfViewStateFit, FullWidthUsesTheWidestPageAndFollowsTheViewport) {
  PdfViewState view = MakeView({kLetter, kLandscape}, 800, 600);
  view.Zoom(PdfViewState::kZoomFullWidth);
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), (800.0 - 2 * kM) / 792);
  EXPECT_EQ(view.PageRects()[1].width, 800 - 2 * kM);
  EXPECT_EQ(view.MaxScrollX(), 0);

  view.SetViewport(400, 600);  // the window shrank: the mode refits
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), (400.0 - 2 * kM) / 792);
  view.Zoom(PdfViewState::kZoom100);
  view.SetViewport(800, 600);  // a fixed factor stays
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), 1.0);
}

TEST(PdfViewStateFit, FullPageFitsTheCurrentPageEntirely) {
  PdfViewState view = MakeView({kLetter, kLandscape}, 1000, 400);
  view.Zoom(PdfViewState::kZoomFullPage);
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), (400.0 - 2 * kM) / 792);  // height limits
  EXPECT_LE(view.PageRects()[0].height, 400 - 2 * kM);
  view.GoToPage(1);
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), (400.0 - 2 * kM) / 612);
  EXPECT_EQ(view.ScrollY(), view.PageRects()[1].y - kM);
}

// From 100% scrolled into the middle of a page of a long document, Full Page and Two Pages
// show the current page (pair) whole, also after the viewport changes.
TEST(PdfViewStateFit, FittingFromTheMiddleOfAPageShowsItWhole) {
  PdfViewState view = MakeView(std::vector<PdfSize>(60, kLetter), 640, 820);
  view.Zoom(PdfViewState::kZoom100);
  view.GoToPage(47);
  view.ScrollTo(0, static_cast<int>(view.PageRects()[47].y) + 300);
  const int page = view.CurrentPage();
  auto seenWhole = [&view](int p) {
    const PdfRect& r = view.PageRects()[p];
    return r.y >= view.ScrollY() && r.Bottom() <= view.ScrollY() + view.ViewportHeight() &&
           r.x >= view.ScrollX() && r.Right() <= view.ScrollX() + view.ViewportWidth();
  };
  view.Zoom(PdfViewState::kZoomFullPage);
  EXPECT_TRUE(seenWhole(page));
  view.SetViewport(600, 700);
  EXPECT_TRUE(seenWhole(page));
  view.Zoom(PdfViewState::kZoomTwoPages);
  const int first = page - page % 2;
  EXPECT_TRUE(seenWhole(first));
  EXPECT_TRUE(seenWhole(first + 1));
}

TEST(PdfViewStateFit, TwoPagesLaysOutPairsSideBySide) {
  PdfViewState view = MakeView({kLetter, kLetter, kLetter}, 1000, 600);
  view.Zoom(PdfViewState::kZoomTwoPages);
  EXPECT_EQ(view.Columns(), 2);
  const double expected = std::min((1000.0 - 2 * kM - kGap) / (2 * 612), (600.0 - 2 * kM) / 792);
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), expected);
  const auto& rects = view.PageRects();
  EXPECT_EQ(rects[0].y, rects[1].y);
  EXPECT_EQ(rects[1].x, rects[0].Right() + kGap);
  EXPECT_GT(rects[2].y, rects[0].Bottom());
  // Pairs are centred: equal space left and right of the first pair.
  EXPECT_NEAR(rects[0].x, view.ContentWidth() - rects[1].Right(), 1);
  // 100% returns to one column.
  view.Zoom(PdfViewState::kZoom100);
  EXPECT_EQ(view.Columns(), 1);
  EXPECT_EQ(view.PageRects()[1].x, view.PageRects()[0].x);
}

TEST(PdfViewStateLayout, StacksPagesAndDerivesTheScrollRange) {
  PdfViewState view = MakeView({kLetter, kLandscape}, 700, 500);
  view.Zoom(PdfViewState::kZoom100);
  const auto& rects = view.PageRects();
  EXPECT_EQ(rects[0], (PdfRect{(792 + 2 * kM - 612) / 2.0, kM, 612, 792}));
  EXPECT_EQ(rects[1], (PdfRect{kM, kM + 792 + kGap, 792, 612}));
  EXPECT_EQ(view.ContentWidth(), 792 + 2 * kM);
  EXPECT_EQ(view.ContentHeight(), kM + 792 + kGap + 612 + kM);
  EXPECT_EQ(view.MaxScrollX(), view.ContentWidth() - 700);
  EXPECT_EQ(view.MaxScrollY(), view.ContentHeight() - 500);

  view.ScrollTo(-50, 100000);
  EXPECT_EQ(view.ScrollX(), 0);
  EXPECT_EQ(view.ScrollY(), view.MaxScrollY());
  EXPECT_EQ(view.CurrentPage(), 1);
  view.ScrollTo(0, 0);
  EXPECT_EQ(view.CurrentPage(), 0);
}

TEST(PdfViewStateLayout, ZoomKeepsTheCurrentPageInView) {
  PdfViewState view = MakeView(std::vector<PdfSize>(10, kLetter), 700, 500);
  view.GoToPage(6);
  EXPECT_EQ(view.ScrollY(), view.PageRects()[6].y - kM);
  view.Zoom(PdfViewState::kZoomIn);
  EXPECT_EQ(view.CurrentPage(), 6);
  EXPECT_EQ(view.ScrollY(), view.PageRects()[6].y - kM);
  view.GoToPage(10);  // out of range: ignored
  view.GoToPage(-1);
  EXPECT_EQ(view.CurrentPage(), 6);
}

TEST(PdfViewStateLayout, ShowBoxScrollsAMatchIntoView) {
  PdfViewState view = MakeView(std::vector<PdfSize>(3, kLetter), 300, 200);
  view.Zoom(PdfViewState::kZoom100);
  const PdfRect box{500, 700, 40, 12};  // near the bottom right of page 2
  view.ShowBox(2, box);
  const PdfRect shown = view.PageToView(2, box);
  EXPECT_EQ(view.CurrentPage(), 2);
  EXPECT_GE(shown.y, view.ScrollY());
  EXPECT_LE(shown.Bottom(), view.ScrollY() + 200);
  EXPECT_GE(shown.x, view.ScrollX());
  EXPECT_LE(shown.Right(), view.ScrollX() + 300);
}

TEST(PdfViewStateLayout, EmptyAndUnsizedViewsStayConsistent) {
  PdfViewState view;
  EXPECT_TRUE(view.Zoom(PdfViewState::kZoomFullPage));  // no pages, no viewport
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), 1.0);
  EXPECT_EQ(view.ContentHeight(), 0);
  EXPECT_EQ(view.MaxScrollY(), 0);
  view.SetPages({kLetter});  // the fit happens once the viewport is known
  view.SetViewport(0, 0);
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), 1.0);
  view.SetScreenDpi(72);
  view.SetViewport(322, 10000);
  EXPECT_DOUBLE_EQ(view.ZoomFactor(), 0.5);
  view.SetPages({});
  EXPECT_TRUE(view.PageRects().empty());
  EXPECT_EQ(view.CurrentPage(), 0);
}

}  // namespace
