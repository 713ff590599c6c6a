// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A scrollable, zoomable page view over a PDF engine. It draws only the frames its renderer
// delivers (pages, search marks, the error text of a failed load) and tells the renderer its
// size and scroll position; it never calls the engine itself. GUI thread only.

#include <QAbstractScrollArea>
#include <QImage>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "gui/qt/QtPdfFrame.h"

namespace rt {
class PdfEngine;
}

namespace gui {

class QtPdfRenderer;

class QtPdfView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit QtPdfView(std::weak_ptr<rt::PdfEngine> engine, QWidget* parent = nullptr);
  ~QtPdfView() override;

  // The engine changed; `followEngine` scrolls to the engine's position once rendered.
  void Refresh(bool documentsChanged, bool followEngine);
  // A frame around the view, scroll bars, and a toolbar with the zoom and page commands.
  void SetStyle(bool border, bool scrollBars, bool toolbar);

  // What is shown, for tests and the viewer's title.
  int PageCount() const;
  bool HasRenderedPage(int page) const;
  QImage RenderedPage(int page) const;
  int MatchCount() const;
  // The page of the current search match (-1: none) and the page at the top of the view.
  int CurrentMatchPage() const;
  int TopPage() const;
  QString ErrorText() const;

  // What the view has drawn, for tests and benchmarks.
  struct PaintStats {
    int frames = 0;        // frames taken from the renderer
    int paints = 0;        // paint events
    int blankPaints = 0;   // paints that drew no page image (an empty view)
    int missingPages = 0;  // visible pages painted without an image
    int stretchedPages = 0;
  };
  const PaintStats& Stats() const { return stats_; }
  // Pages rendered ahead, and how many of them were later shown.
  int AheadRendered() const;
  int AheadHits() const;
  // Bytes of the rendered pages the renderer keeps.
  std::size_t CachedBytes() const;
  // While a search collects matches in the background, the view asks this often for them.
  static constexpr int kSearchPollMs = 40;
  // How long after a view closes the process gives its freed memory back.
  static constexpr int kTrimDelayMs = 500;
  // Viewport rows that show part of a page without its sharp image (0: all drawn).
  int UndrawnRows() const;
  // The view's rectangle of a page at the current scroll position (empty: no such page).
  QRect PageRect(int page) const;
  int CurrentPage() const;
  // Whether the frame shown was taken at or after the engine's `revision` and laid out for
  // the viewport's present size.
  bool Follows(std::uint64_t revision) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void Show(std::shared_ptr<const QtPdfFrame> frame);
  void AddToolbar();
  void UpdateScrollBars(bool relayout);
  void ScrollRenderer();
  // Whether the frame changes what the viewport shows at its current scroll position.
  bool ChangesPicture(const QtPdfFrame& next) const;

  std::shared_ptr<QtPdfRenderer> renderer_;
  std::shared_ptr<const QtPdfFrame> frame_;
  bool applying_ = false;       // scroll bars set from a frame, not by the user
  bool searchPoll_ = false;     // a refresh for a running search's matches is due
  std::uint64_t scrolls_ = 0;   // scroll requests sent to the renderer
  QWidget* toolbar_ = nullptr;  // child
  PaintStats stats_;
};

}  // namespace gui
