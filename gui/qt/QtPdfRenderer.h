// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Renders a page view's frames off the GUI thread. Requests (viewport size, scrolling, a
// refresh) only record what is wanted and wake one worker task on the global thread pool;
// the task applies them to the engine, takes a snapshot, renders the visible pages (keeping
// those already rendered at the same scale) and delivers the frame. The GUI thread thus
// never calls the engine and never waits for a render.
//
// A change of scale first delivers the pages rendered at the old scale under the new layout
// (the view stretches them), then the sharp frame. Once the visible pages are delivered and
// nothing new is asked for, the task renders the screens above and below ahead of time and
// delivers them too, so that paging shows rendered pages at once.

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
}

namespace gui {

class QtPdfRenderer : public std::enable_shared_from_this<QtPdfRenderer> {
 public:
  // Called on the worker with each new frame; it must hand the frame to the GUI thread.
  using Deliver = std::function<void(std::shared_ptr<const QtPdfFrame>)>;

  QtPdfRenderer(std::weak_ptr<rt::PdfEngine> engine, Deliver deliver);

  void SetViewport(int width, int height, double dpi);
  void ScrollTo(int x, int y);
  // `followEngine`: the frame's scroll position is the engine's (a search moved the view).
  void Refresh(bool documentsChanged, bool followEngine);
  // A zoom command (0: none) and a move by `pageStep` pages (0: none), from the view's toolbar.
  void Command(int zoom, int pageStep);
  // No more frames are delivered; a task in progress finishes quietly.
  void Stop();

  // Pages rendered ahead: those within this many viewport heights below the visible ones and
  // one above (paging back).
  static constexpr int kAheadScreensDown = 2;
  static constexpr int kAheadScreensUp = 1;
  // Rendered pages are kept for scrolling back and forth up to this many bytes; the least
  // recently shown go first. Pages shown now or rendered ahead for them are always kept.
  static constexpr std::size_t kCacheBytes = std::size_t{192} << 20;

  // Pages rendered ahead, and pages first needed on screen that were already rendered ahead.
  int AheadRendered() const { return aheadRendered_; }
  int AheadHits() const { return aheadHits_; }

 private:
  struct Pending {
    bool viewport = false;
    int width = 0;
    int height = 0;
    double dpi = 0;
    bool scroll = false;
    int x = 0;
    int y = 0;
    bool refresh = false;
    bool documentsChanged = false;
    bool followEngine = false;
    int zoom = 0;
    int pageStep = 0;
  };
  struct CachedPage {
    QImage image;
    std::uint64_t lastUse = 0;
    bool ahead = false;  // rendered ahead and not yet shown
  };
  enum class Outcome { Done, Interrupted, Stopped };

  void Schedule();  // with mutex_ held
  void Work();
  bool Interrupted();  // a newer request or Stop
  // Puts what an interrupted frame still owed back into the pending request.
  void Requeue(const Pending& unfinished);
  std::shared_ptr<QtPdfFrame> Snapshot(rt::PdfEngine& engine, bool followEngine) const;
  // Renders the pages of `frame` between the content rows `top` and `bottom` into the cache
  // and the frame. Interrupted when a newer request comes in.
  Outcome RenderRange(rt::PdfEngine& engine, QtPdfFrame& frame, int top, int bottom, bool ahead);
  void Trim();

  std::weak_ptr<rt::PdfEngine> engine_;
  Deliver deliver_;
  std::mutex mutex_;
  Pending pending_;
  bool running_ = false;
  bool stopped_ = false;
  std::atomic<int> aheadRendered_{0};
  std::atomic<int> aheadHits_{0};
  // Worker only.
  std::map<int, CachedPage> cache_;
  double cacheScale_ = 0;
  std::uint64_t uses_ = 0;
};

}  // namespace gui
