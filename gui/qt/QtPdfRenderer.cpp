// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtPdfRenderer.h"

#include <QThreadPool>
#include <algorithm>

#include "platform/pdf/PdfEngine.h"

namespace gui {
namespace {

QImage ToImage(const rt::PdfImage& image) {
  if (image.Empty()) return {};
  QImage wrapped(image.bytes.data(), image.width, image.height, image.stride,
                 QImage::Format_ARGB32);
  // Pages are opaque: in the screen's own format a paint copies them instead of blending
  // every pixel. The conversion makes a copy that owns its pixels.
  return wrapped.convertToFormat(QImage::Format_RGB32);
}

bool Overlaps(const rt::PdfRect& page, int top, int bottom) {
  return page.Bottom() >= top && page.y <= bottom;
}

}  // namespace

QtPdfRenderer::QtPdfRenderer(std::weak_ptr<rt::PdfEngine> engine, Deliver deliver)
    : engine_(std::move(engine)), deliver_(std::move(deliver)) {}

void QtPdfRenderer::SetViewport(int width, int height, double dpi) {
  std::lock_guard lock(mutex_);
  pending_.viewport = true;
  pending_.width = width;
  pending_.height = height;
  pending_.dpi = dpi;
  pending_.refresh = true;
  Schedule();
}

void QtPdfRenderer::ScrollTo(int x, int y) {
  std::lock_guard lock(mutex_);
  pending_.scroll = true;
  pending_.x = x;
  pending_.y = y;
  pending_.refresh = true;
  Schedule();
}

void QtPdfRenderer::Refresh(bool documentsChanged, bool followEngine) {
  std::lock_guard lock(mutex_);
  pending_.refresh = true;
  pending_.documentsChanged = pending_.documentsChanged || documentsChanged;
  pending_.followEngine = pending_.followEngine || followEngine;
  // A scroll asked for before the engine moved the view is overtaken by it.
  if (followEngine) pending_.scroll = false;
  Schedule();
}

void QtPdfRenderer::Command(int zoom, int pageStep) {
  std::lock_guard lock(mutex_);
  if (zoom != 0) pending_.zoom = zoom;
  pending_.pageStep += pageStep;
  pending_.refresh = true;
  pending_.followEngine = true;
  pending_.scroll = false;
  Schedule();
}

void QtPdfRenderer::Stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
}

void QtPdfRenderer::Schedule() {
  if (running_ || stopped_) return;
  running_ = true;
  std::weak_ptr<QtPdfRenderer> self = weak_from_this();
  QThreadPool::globalInstance()->start([self] {
    if (auto renderer = self.lock()) renderer->Work();
  });
}

bool QtPdfRenderer::Interrupted() {
  std::lock_guard lock(mutex_);
  return stopped_ || pending_.refresh;
}

void QtPdfRenderer::Requeue(const Pending& unfinished) {
  std::lock_guard lock(mutex_);
  pending_.refresh = true;
  pending_.documentsChanged = pending_.documentsChanged || unfinished.documentsChanged;
  // The engine's position was never shown; a scroll asked for since then overrides it.
  if (!pending_.scroll) pending_.followEngine = pending_.followEngine || unfinished.followEngine;
}

void QtPdfRenderer::Work() {
  for (;;) {
    Pending wanted;
    {
      std::lock_guard lock(mutex_);
      if (stopped_ || !pending_.refresh) {
        running_ = false;
        return;
      }
      wanted = pending_;
      pending_ = Pending{};
    }
    std::shared_ptr<rt::PdfEngine> engine = engine_.lock();
    if (!engine) {
      std::lock_guard lock(mutex_);
      running_ = false;
      return;
    }
    if (wanted.viewport) {
      if (wanted.dpi > 0) engine->SetScreenDpi(wanted.dpi);
      engine->SetViewport(wanted.width, wanted.height);
    }
    if (wanted.scroll) engine->ScrollTo(wanted.x, wanted.y);
    if (wanted.zoom != 0) engine->Zoom(wanted.zoom);
    if (wanted.pageStep != 0) engine->GoToPage(engine->View().CurrentPage() + wanted.pageStep);

    std::shared_ptr<QtPdfFrame> frame = Snapshot(*engine, wanted.followEngine);
    const rt::PdfViewState& view = frame->view;
    if (view.PageCount() == 0) {
      frame->error = QString::fromStdString(engine->LastError().text);
      cache_.clear();
      cacheScale_ = 0;
      if (Interrupted())
        Requeue(wanted);
      else
        deliver_(std::move(frame));
      continue;
    }
    const int top = view.ScrollY();
    const int bottom = top + view.ViewportHeight();
    const double scale = view.PixelsPerPoint();
    if (wanted.documentsChanged) {
      cache_.clear();
    } else if (scale != cacheScale_ && !cache_.empty()) {
      // Show the new scale at once with the pages at hand, stretched by the view.
      auto stretched = std::make_shared<QtPdfFrame>(*frame);
      stretched->stretched = true;
      for (const auto& [page, cached] : cache_)
        if (page < view.PageCount() && Overlaps(view.PageRects()[page], top, bottom))
          stretched->pages[page] = cached.image;
      if (!stretched->pages.empty()) deliver_(std::move(stretched));
      cache_.clear();
    }
    cacheScale_ = scale;
    Trim();
    ++uses_;

    Outcome outcome = RenderRange(*engine, *frame, top, bottom, false);
    if (outcome == Outcome::Stopped) break;
    if (outcome == Outcome::Interrupted) {
      // Nothing stale is shown: the view keeps its last frame until the newer one is ready.
      Requeue(wanted);
      continue;
    }
    auto ahead = std::make_shared<QtPdfFrame>(*frame);
    deliver_(std::move(frame));

    ahead->followEngine = false;
    ahead->ahead = true;
    const std::size_t shown = ahead->pages.size();
    const int screen = std::max(1, view.ViewportHeight());
    outcome = RenderRange(*engine, *ahead, top - kAheadScreensUp * screen,
                          bottom + kAheadScreensDown * screen, true);
    if (outcome == Outcome::Stopped) break;
    if (ahead->pages.size() > shown) deliver_(std::move(ahead));
  }
  std::lock_guard lock(mutex_);
  running_ = false;
}

std::shared_ptr<QtPdfFrame> QtPdfRenderer::Snapshot(rt::PdfEngine& engine,
                                                    bool followEngine) const {
  auto frame = std::make_shared<QtPdfFrame>();
  frame->revision = engine.Revision();
  frame->view = engine.View();
  frame->matches = engine.Matches();
  frame->currentMatch = engine.CurrentMatch();
  frame->highlight = engine.Highlight();
  frame->followEngine = followEngine;
  return frame;
}

QtPdfRenderer::Outcome QtPdfRenderer::RenderRange(rt::PdfEngine& engine, QtPdfFrame& frame, int top,
                                                  int bottom, bool ahead) {
  const auto& rects = frame.view.PageRects();
  // A newer request ends the work between two pages, but visible pages are worked off at
  // least one per pass, so that a stream of requests (a held key) still shows pages.
  bool rendered = false;
  for (int page = 0; page < static_cast<int>(rects.size()); ++page) {
    if (!Overlaps(rects[page], top, bottom)) continue;
    auto it = cache_.find(page);
    if (it != cache_.end()) {
      it->second.lastUse = uses_;
      if (!ahead && it->second.ahead) {
        it->second.ahead = false;
        ++aheadHits_;
      }
      frame.pages[page] = it->second.image;
      continue;
    }
    if ((ahead || rendered) && Interrupted()) {
      std::lock_guard lock(mutex_);
      return stopped_ ? Outcome::Stopped : Outcome::Interrupted;
    }
    rt::PdfImage image;
    if (engine.RenderPage(page, frame.view.PixelsPerPoint(), image).Ok()) {
      frame.pages[page] = ToImage(image);
      cache_[page] = CachedPage{frame.pages[page], uses_, ahead};
      if (ahead) ++aheadRendered_;
    }
    rendered = true;
  }
  std::lock_guard lock(mutex_);
  return stopped_ ? Outcome::Stopped : Outcome::Done;
}

void QtPdfRenderer::Trim() {
  // Keep the cache within its bound, dropping the pages shown longest ago first; those of
  // the last frame and its pages ahead stay.
  std::size_t bytes = 0;
  for (const auto& [page, cached] : cache_)
    bytes += static_cast<std::size_t>(cached.image.sizeInBytes());
  while (bytes > kCacheBytes) {
    auto oldest = cache_.end();
    for (auto it = cache_.begin(); it != cache_.end(); ++it)
      if (it->second.lastUse != uses_ &&
          (oldest == cache_.end() || it->second.lastUse < oldest->second.lastUse))
        oldest = it;
    if (oldest == cache_.end()) break;
    bytes -= static_cast<std::size_t>(oldest->second.image.sizeInBytes());
    cache_.erase(oldest);
  }
}

}  // namespace gui
