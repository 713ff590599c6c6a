// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Renders a page view's frames off the GUI thread. Requests (viewport size, scrolling, a
// refresh, a toolbar command) only record what is wanted and wake two tasks:
//
// - the update task applies them to the engine, takes a snapshot of its view and at once
//   delivers the frame it can make from the pages at hand: complete when every visible page
//   is rendered at the new scale, or the old scale's pages stretched to a new layout;
// - the render task renders what the latest snapshot still lacks, on a document instance of
//   its own (PdfEngineInstance), so that neither the engine's callers (a zoom from the
//   control's thread) nor the update task ever wait behind a page render. Once the visible
//   pages are delivered and nothing new is asked for, it renders the screens above and below
//   ahead of time and delivers them too, so that paging shows rendered pages at once.
//
// The GUI thread thus never calls the engine and never waits for a render. Rendered pages
// are kept for what is on screen, the pages ahead and a few screens more; they go when the
// renderer goes.

#include <QImage>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "gui/qt/QtPdfFrame.h"

namespace rt {
class PdfEngine;
class PdfEngineInstance;
}  // namespace rt

namespace gui {

class QtPdfRenderer : public std::enable_shared_from_this<QtPdfRenderer> {
 public:
  // Called on a worker with each new frame; it must hand the frame to the GUI thread.
  using Deliver = std::function<void(std::shared_ptr<const QtPdfFrame>)>;

  QtPdfRenderer(std::weak_ptr<rt::PdfEngine> engine, Deliver deliver);
  ~QtPdfRenderer();

  void SetViewport(int width, int height, double dpi);
  void ScrollTo(int x, int y);
  // `followEngine`: the frame's scroll position is the engine's (a search moved the view).
  // Without it a scroll asked for and not yet applied stays in force.
  void Refresh(bool documentsChanged, bool followEngine);
  // A zoom command (0: none) and a move by `pageStep` pages (0: none), from the view's toolbar.
  void Command(int zoom, int pageStep);
  // No more frames are delivered; a task in progress finishes quietly.
  void Stop();

  // Pages rendered ahead: those within this many viewport heights below the visible ones and
  // one above (paging back).
  static constexpr int kAheadScreensDown = 2;
  static constexpr int kAheadScreensUp = 1;
  // Rendered pages kept beyond those of the last frame and its pages ahead, in viewport
  // screens (scrolling back and forth); the least recently shown go first.
  static constexpr int kSpareScreens = 2;

  // Pages rendered ahead, and pages first needed on screen that were already rendered ahead.
  int AheadRendered() const { return aheadRendered_; }
  int AheadHits() const { return aheadHits_; }
  // Bytes of the rendered pages kept now.
  std::size_t CacheBytes();

 private:
  struct Pending {
    bool refresh = false;
    bool viewport = false;
    int width = 0;
    int height = 0;
    double dpi = 0;
    bool scroll = false;
    int x = 0;
    int y = 0;
    bool documentsChanged = false;
    bool followEngine = false;
    int zoom = 0;
    int pageStep = 0;
  };
  struct CachedPage {
    QImage image;
    double scale = 0;
    std::uint64_t lastUse = 0;
    bool ahead = false;  // rendered ahead and not yet shown
  };
  enum class Outcome { Done, Interrupted, Stopped };

  // With mutex_ held.
  void Send(std::shared_ptr<QtPdfFrame> frame);
  void ScheduleUpdate();
  void ScheduleRender();
  void Update();
  // Renders the latest snapshot's visible pages, then hands over to RenderAhead.
  void Render();
  // Renders the pages around `ahead`'s visible ones; delivered while `serial` is the latest.
  void RenderAhead(std::shared_ptr<QtPdfFrame> ahead, std::uint64_t serial);
  std::shared_ptr<QtPdfFrame> Snapshot(rt::PdfEngine& engine, bool followEngine) const;
  // Fills `frame` with the cached pages at its scale between the content rows `top` and
  // `bottom`; the visible pages still missing. With mutex_ held.
  int FromCache(QtPdfFrame& frame, int top, int bottom, bool shown);
  // Renders the pages of `frame` between the content rows into the cache and the frame.
  // Interrupted when a snapshot newer than `target` comes in.
  Outcome RenderRange(QtPdfFrame& frame, int top, int bottom, bool ahead, std::uint64_t target);
  void Trim(const rt::PdfViewState& view);  // with mutex_ held

  std::weak_ptr<rt::PdfEngine> engine_;
  Deliver deliver_;
  std::mutex mutex_;  // guards everything below but the render task's own instance
  Pending pending_;
  bool updating_ = false;
  bool rendering_ = false;
  bool stopped_ = false;
  // The latest snapshot for the render task, and whether the update task delivered it whole.
  std::shared_ptr<const QtPdfFrame> target_;
  bool targetComplete_ = false;
  std::uint64_t targetSerial_ = 0;
  std::uint64_t renderedSerial_ = 0;
  std::uint64_t scrolls_ = 0;  // ScrollTo calls so far
  double shownScale_ = 0;      // of the last frame delivered
  // Rendered pages by page index, for the documents of `cacheVersion_`.
  std::map<int, CachedPage> cache_;
  std::uint64_t cacheVersion_ = 0;
  std::uint64_t uses_ = 0;
  std::atomic<int> aheadRendered_{0};
  std::atomic<int> aheadHits_{0};
  // The render task's own documents (render task only).
  std::unique_ptr<rt::PdfEngineInstance> instance_;
  std::uint64_t instanceVersion_ = 0;
};

}  // namespace gui
