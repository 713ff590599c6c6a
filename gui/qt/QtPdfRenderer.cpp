#include "gui/qt/QtPdfRenderer.h"

#include <QThreadPool>

#include "platform/pdf/PdfEngine.h"

namespace gui {
namespace {

QImage ToImage(const rt::PdfImage& image) {
  if (image.Empty()) return {};
  QImage wrapped(image.bytes.data(), image.width, image.height, image.stride,
                 QImage::Format_ARGB32);
  return wrapped.copy();  // owns its pixels
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
    std::shared_ptr<QtPdfFrame> frame = Render(*engine, wanted);
    {
      std::lock_guard lock(mutex_);
      if (stopped_) {
        running_ = false;
        return;
      }
    }
    deliver_(std::move(frame));
  }
}

std::shared_ptr<QtPdfFrame> QtPdfRenderer::Render(rt::PdfEngine& engine, const Pending& wanted) {
  auto frame = std::make_shared<QtPdfFrame>();
  frame->revision = engine.Revision();
  frame->view = engine.View();
  frame->matches = engine.Matches();
  frame->currentMatch = engine.CurrentMatch();
  frame->highlight = engine.Highlight();
  frame->followEngine = wanted.followEngine;
  if (frame->view.PageCount() == 0) {
    frame->error = QString::fromStdString(engine.LastError().text);
    cache_.clear();
    return frame;
  }
  const double scale = frame->view.PixelsPerPoint();
  if (wanted.documentsChanged || scale != cacheScale_) cache_.clear();
  cacheScale_ = scale;
  const int top = frame->view.ScrollY() - kLookAheadPixels;
  const int bottom = frame->view.ScrollY() + frame->view.ViewportHeight() + kLookAheadPixels;
  const auto& rects = frame->view.PageRects();
  std::map<int, QImage> kept;
  const std::uint64_t use = ++uses_;
  for (int page = 0; page < static_cast<int>(rects.size()); ++page) {
    if (rects[page].Bottom() < top || rects[page].y > bottom) continue;
    auto it = cache_.find(page);
    if (it != cache_.end()) {
      it->second.lastUse = use;
      kept[page] = it->second.image;
      continue;
    }
    {
      // A newer request makes this frame stale: deliver what there is and start over.
      std::lock_guard lock(mutex_);
      if (stopped_ || pending_.documentsChanged) break;
    }
    rt::PdfImage image;
    if (engine.RenderPage(page, scale, image).Ok()) {
      kept[page] = ToImage(image);
      cache_[page] = CachedPage{kept[page], use};
    }
  }
  // Keep the cache within its bound, dropping the pages shown longest ago first.
  std::size_t bytes = 0;
  for (const auto& [page, cached] : cache_)
    bytes += static_cast<std::size_t>(cached.image.sizeInBytes());
  while (bytes > kCacheBytes) {
    auto oldest = cache_.end();
    for (auto it = cache_.begin(); it != cache_.end(); ++it)
      if (it->second.lastUse != use &&
          (oldest == cache_.end() || it->second.lastUse < oldest->second.lastUse))
        oldest = it;
    if (oldest == cache_.end()) break;
    bytes -= static_cast<std::size_t>(oldest->second.image.sizeInBytes());
    cache_.erase(oldest);
  }
  frame->pages = std::move(kept);
  return frame;
}

}  // namespace gui
