// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtPdfRenderer.h"

#include <QThreadPool>
#include <algorithm>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__)
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "platform/pdf/PdfEngine.h"
#include "platform/pdf/PdfEngineInstance.h"

namespace gui {
namespace {

constexpr int kRenderNice = 5;
constexpr int kLargeBlock = 256 * 1024;

// The update tasks run on a pool of their own, so that they never queue behind page renders
// (of this view or another).
QThreadPool& UpdatePool() {
  static QThreadPool pool;
  return pool;
}

// Pages ahead are rendered on a pool of their own whose threads yield to the GUI thread and
// the update tasks: a paint after a key must not wait for a core behind a page rendered
// ahead. Visible pages are rendered on the global pool at normal priority.
QThreadPool& RenderPool() {
  static QThreadPool pool;
  static const bool once = [] {
    pool.setMaxThreadCount(1);  // work for later: one thread (and its heap) is enough
    return true;
  }();
  static_cast<void>(once);
  return pool;
}

bool YieldToInteractiveThreads() {
#if defined(__linux__)
  // On Linux a thread's nice value is its own.
  return setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kRenderNice) == 0;
#else
  return false;
#endif
}

void FreePixels(void* pixels) {
  std::unique_ptr<rt::PdfPixels> owned(static_cast<rt::PdfPixels*>(pixels));
}

// The rendered bytes become the image's own, without a copy. Pages are opaque: in the
// screen's own format a paint copies them instead of blending every pixel.
QImage ToImage(rt::PdfImage image) {
  if (image.Empty()) return {};
  auto pixels = std::make_unique<rt::PdfPixels>(std::move(image.bytes));
  QImage wrapped(pixels->data(), image.width, image.height, image.stride, QImage::Format_RGB32,
                 FreePixels, pixels.get());
  if (wrapped.isNull()) return {};
  static_cast<void>(pixels.release());  // the image frees them
  return wrapped;
}

bool Overlaps(const rt::PdfRect& page, int top, int bottom) {
  return page.Bottom() >= top && page.y <= bottom;
}

// The content rows of the visible pages and of those rendered ahead around them.
void AheadRows(const rt::PdfViewState& view, int& top, int& bottom) {
  const int screen = std::max(1, view.ViewportHeight());
  top = view.ScrollY() - QtPdfRenderer::kAheadScreensUp * screen;
  bottom = view.ScrollY() + view.ViewportHeight() + QtPdfRenderer::kAheadScreensDown * screen;
}

}  // namespace

QtPdfRenderer::QtPdfRenderer(std::weak_ptr<rt::PdfEngine> engine, Deliver deliver)
    : engine_(std::move(engine)), deliver_(std::move(deliver)) {
#if defined(__GLIBC__)
  // Rendered pages are large blocks made and freed on several threads. Left to the heaps
  // (the allocator's default once a large block has been freed), they stay with the process
  // after a viewer closes; served straight from the system, they go back to it when freed.
  // Set once, under the static's initialisation guard; the allocator locks its own state.
  static const bool once =
      mallopt(M_MMAP_THRESHOLD, kLargeBlock) != 0;  // NOLINT(concurrency-mt-unsafe)
  static_cast<void>(once);
#endif
}

QtPdfRenderer::~QtPdfRenderer() {
  cache_.clear();
  target_.reset();
  instance_.reset();
#if defined(__GLIBC__)
  // The pages' memory came from many threads' heaps, where freed blocks stay with the
  // process; give it back now that the view is gone.
  malloc_trim(0);
#endif
}

void QtPdfRenderer::SetViewport(int width, int height, double dpi) {
  std::lock_guard lock(mutex_);
  pending_.viewport = true;
  pending_.width = width;
  pending_.height = height;
  pending_.dpi = dpi;
  pending_.refresh = true;
  ScheduleUpdate();
}

void QtPdfRenderer::ScrollTo(int x, int y) {
  std::lock_guard lock(mutex_);
  pending_.scroll = true;
  pending_.x = x;
  pending_.y = y;
  ++scrolls_;
  pending_.refresh = true;
  ScheduleUpdate();
}

void QtPdfRenderer::Refresh(bool documentsChanged, bool followEngine) {
  std::lock_guard lock(mutex_);
  pending_.refresh = true;
  pending_.documentsChanged = pending_.documentsChanged || documentsChanged;
  pending_.followEngine = pending_.followEngine || followEngine;
  // A scroll asked for before the engine moved the view is overtaken by it.
  if (followEngine) pending_.scroll = false;
  ScheduleUpdate();
}

void QtPdfRenderer::Command(int zoom, int pageStep) {
  std::lock_guard lock(mutex_);
  if (zoom != 0) pending_.zoom = zoom;
  pending_.pageStep += pageStep;
  pending_.refresh = true;
  pending_.followEngine = true;
  pending_.scroll = false;
  ScheduleUpdate();
}

void QtPdfRenderer::Stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
}

std::size_t QtPdfRenderer::CacheBytes() {
  std::lock_guard lock(mutex_);
  std::size_t bytes = 0;
  for (const auto& [page, cached] : cache_)
    bytes += static_cast<std::size_t>(cached.image.sizeInBytes());
  return bytes;
}

void QtPdfRenderer::ScheduleUpdate() {
  if (updating_ || stopped_) return;
  updating_ = true;
  std::weak_ptr<QtPdfRenderer> self = weak_from_this();
  UpdatePool().start([self] {
    if (auto renderer = self.lock()) renderer->Update();
  });
}

void QtPdfRenderer::ScheduleRender() {
  if (rendering_ || stopped_) return;
  rendering_ = true;
  std::weak_ptr<QtPdfRenderer> self = weak_from_this();
  QThreadPool::globalInstance()->start([self] {
    if (auto renderer = self.lock()) renderer->Render();
  });
}

void QtPdfRenderer::Send(std::shared_ptr<QtPdfFrame> frame) {
  shownScale_ = frame->view.PixelsPerPoint();
  deliver_(std::move(frame));
}

void QtPdfRenderer::Update() {
  for (;;) {
    Pending wanted;
    std::uint64_t scrolls = 0;
    {
      std::lock_guard lock(mutex_);
      if (stopped_ || !pending_.refresh) {
        updating_ = false;
        return;
      }
      wanted = pending_;
      pending_ = Pending{};
      scrolls = scrolls_;
    }
    std::shared_ptr<rt::PdfEngine> engine = engine_.lock();
    if (!engine) {
      std::lock_guard lock(mutex_);
      updating_ = false;
      return;
    }
    // None of these waits for a page render: the render task has documents of its own.
    if (wanted.viewport) {
      if (wanted.dpi > 0) engine->SetScreenDpi(wanted.dpi);
      engine->SetViewport(wanted.width, wanted.height);
    }
    if (wanted.scroll) engine->ScrollTo(wanted.x, wanted.y);
    if (wanted.zoom != 0) engine->Zoom(wanted.zoom);
    if (wanted.pageStep != 0) engine->GoToPage(engine->View().CurrentPage() + wanted.pageStep);
    std::shared_ptr<QtPdfFrame> frame = Snapshot(*engine, wanted.followEngine);
    frame->scrolls = scrolls;
    if (frame->view.PageCount() == 0)
      frame->error = QString::fromStdString(engine->LastError().text);
    engine.reset();

    std::lock_guard lock(mutex_);
    if (stopped_) {
      updating_ = false;
      return;
    }
    if (wanted.documentsChanged || frame->documentsVersion != cacheVersion_) {
      cache_.clear();
      cacheVersion_ = frame->documentsVersion;
    }
    ++uses_;
    ++targetSerial_;
    const rt::PdfViewState& view = frame->view;
    if (view.PageCount() == 0) {
      target_.reset();
      renderedSerial_ = targetSerial_;
      Send(std::move(frame));
      continue;
    }
    const int top = view.ScrollY();
    const int bottom = top + view.ViewportHeight();
    const int missing = FromCache(*frame, top, bottom, true);
    std::shared_ptr<QtPdfFrame> quick;
    if (missing == 0) {
      quick = frame;
    } else if (!wanted.documentsChanged) {
      // A new layout is shown at once with the pages at hand at another scale, stretched by
      // the view; the sharp ones follow.
      auto stretched = std::make_shared<QtPdfFrame>(*frame);
      stretched->stretched = true;
      bool any = false;
      for (const auto& [page, cached] : cache_) {
        if (page >= view.PageCount() || !Overlaps(view.PageRects()[page], top, bottom)) continue;
        any = any || stretched->pages.count(page) == 0;
        stretched->pages.emplace(page, cached.image);
      }
      // Without any, the view stretches the pages it shows now.
      if (any || view.PixelsPerPoint() != shownScale_) quick = std::move(stretched);
    }
    Trim(view);
    target_ = frame;
    targetComplete_ = missing == 0;
    // A frame already shown has followed the engine; the sharp one must not scroll again.
    if (quick) {
      Send(std::move(quick));
      auto rest = std::make_shared<QtPdfFrame>(*frame);
      rest->followEngine = false;
      target_ = std::move(rest);
    }
    ScheduleRender();
  }
}

void QtPdfRenderer::Render() {
  for (;;) {
    std::shared_ptr<const QtPdfFrame> target;
    bool complete = false;
    std::uint64_t serial = 0;
    {
      std::lock_guard lock(mutex_);
      if (stopped_ || !target_ || renderedSerial_ == targetSerial_) {
        rendering_ = false;
        return;
      }
      target = target_;
      complete = targetComplete_;
      serial = targetSerial_;
    }
    if (!instance_ || instanceVersion_ != target->documentsVersion) {
      instance_.reset();
      std::uint64_t version = 0;
      std::vector<rt::PdfSource> sources;
      if (std::shared_ptr<rt::PdfEngine> engine = engine_.lock())
        sources = engine->Sources(version);
      if (version != target->documentsVersion) {
        // The documents changed after the snapshot: take a new one.
        std::lock_guard lock(mutex_);
        if (targetSerial_ == serial) renderedSerial_ = serial;
        pending_.refresh = true;
        pending_.documentsChanged = true;
        ScheduleUpdate();
        continue;
      }
      instance_ = std::make_unique<rt::PdfEngineInstance>(std::move(sources));
      instanceVersion_ = version;
    }
    auto frame = std::make_shared<QtPdfFrame>(*target);
    const int top = frame->view.ScrollY();
    const int bottom = top + frame->view.ViewportHeight();
    Outcome outcome = RenderRange(*frame, top, bottom, false, serial);
    if (outcome == Outcome::Stopped) break;
    // Nothing stale is shown: the view keeps its last frame until the newer one is ready.
    if (outcome == Outcome::Interrupted) continue;
    auto ahead = std::make_shared<QtPdfFrame>(*frame);
    std::lock_guard lock(mutex_);
    if (stopped_) break;
    if (targetSerial_ != serial) continue;
    if (!complete) Send(std::move(frame));
    // The pages ahead are rendered by a thread that yields to the GUI thread, while this
    // task's thread stays ready for the next visible pages; the task goes on there.
    std::weak_ptr<QtPdfRenderer> self = weak_from_this();
    RenderPool().start([self, ahead = std::move(ahead), serial]() mutable {
      static thread_local const bool yielding = YieldToInteractiveThreads();
      static_cast<void>(yielding);
      if (auto renderer = self.lock()) renderer->RenderAhead(std::move(ahead), serial);
    });
    return;
  }
  std::lock_guard lock(mutex_);
  rendering_ = false;
}

void QtPdfRenderer::RenderAhead(std::shared_ptr<QtPdfFrame> ahead, std::uint64_t serial) {
  ahead->followEngine = false;
  ahead->ahead = true;
  const std::size_t shown = ahead->pages.size();
  int top = 0;
  int bottom = 0;
  AheadRows(ahead->view, top, bottom);
  const Outcome outcome = RenderRange(*ahead, top, bottom, true, serial);
  std::lock_guard lock(mutex_);
  if (outcome != Outcome::Stopped && !stopped_ && targetSerial_ == serial) {
    if (outcome == Outcome::Done) renderedSerial_ = serial;
    if (ahead->pages.size() > shown) Send(std::move(ahead));
  }
  rendering_ = false;
  // A newer snapshot came in meanwhile: its visible pages go first, at normal priority.
  if (!stopped_ && target_ && renderedSerial_ != targetSerial_) ScheduleRender();
}

std::shared_ptr<QtPdfFrame> QtPdfRenderer::Snapshot(rt::PdfEngine& engine,
                                                    bool followEngine) const {
  auto frame = std::make_shared<QtPdfFrame>();
  // The view and the documents' version must belong together; a load in between is rare.
  for (int attempt = 0; attempt < 3; ++attempt) {
    frame->documentsVersion = engine.DocumentsVersion();
    frame->view = engine.View();
    if (engine.DocumentsVersion() == frame->documentsVersion) break;
  }
  frame->revision = engine.Revision();
  frame->matches = engine.Matches();
  frame->currentMatch = engine.CurrentMatch();
  frame->highlight = engine.Highlight();
  frame->searching = engine.Searching();
  frame->followEngine = followEngine;
  return frame;
}

int QtPdfRenderer::FromCache(QtPdfFrame& frame, int top, int bottom, bool shown) {
  const auto& rects = frame.view.PageRects();
  const double scale = frame.view.PixelsPerPoint();
  int missing = 0;
  for (int page = 0; page < static_cast<int>(rects.size()); ++page) {
    if (!Overlaps(rects[page], top, bottom)) continue;
    auto it = cache_.find(page);
    if (it == cache_.end() || it->second.scale != scale) {
      ++missing;
      continue;
    }
    it->second.lastUse = uses_;
    if (shown && it->second.ahead) {
      it->second.ahead = false;
      ++aheadHits_;
    }
    frame.pages[page] = it->second.image;
  }
  return missing;
}

QtPdfRenderer::Outcome QtPdfRenderer::RenderRange(QtPdfFrame& frame, int top, int bottom,
                                                  bool ahead, std::uint64_t target) {
  const auto& rects = frame.view.PageRects();
  const double scale = frame.view.PixelsPerPoint();
  // A newer snapshot ends the work between two pages, but visible pages are worked off at
  // least one per pass, so that a stream of requests (a held key) still shows pages.
  bool rendered = false;
  for (int page = 0; page < static_cast<int>(rects.size()); ++page) {
    if (!Overlaps(rects[page], top, bottom) || frame.pages.count(page) != 0) continue;
    {
      std::lock_guard lock(mutex_);
      if (stopped_) return Outcome::Stopped;
      auto it = cache_.find(page);
      if (it != cache_.end() && it->second.scale == scale &&
          cacheVersion_ == frame.documentsVersion) {
        it->second.lastUse = uses_;
        if (!ahead && it->second.ahead) {
          it->second.ahead = false;
          ++aheadHits_;
        }
        frame.pages[page] = it->second.image;
        continue;
      }
      if ((ahead || rendered) && targetSerial_ != target) return Outcome::Interrupted;
    }
    rt::PdfImage image;
    const bool ok = instance_->RenderPage(page, scale, image).Ok();
    rendered = true;
    if (!ok) continue;
    QImage picture = ToImage(std::move(image));
    std::lock_guard lock(mutex_);
    if (stopped_) return Outcome::Stopped;
    frame.pages[page] = picture;
    if (ahead) ++aheadRendered_;
    if (cacheVersion_ != frame.documentsVersion) continue;
    cache_[page] = CachedPage{std::move(picture), scale, uses_, ahead};
    if (target_) Trim(target_->view);
  }
  std::lock_guard lock(mutex_);
  return stopped_ ? Outcome::Stopped : Outcome::Done;
}

void QtPdfRenderer::Trim(const rt::PdfViewState& view) {
  // The pages on screen and those ahead of them at the view's scale always stay; of the
  // others, as many screens' worth as kSpareScreens, the most recently shown.
  int top = 0;
  int bottom = 0;
  AheadRows(view, top, bottom);
  const auto& rects = view.PageRects();
  const double scale = view.PixelsPerPoint();
  auto kept = [&](int page, const CachedPage& cached) {
    return cached.scale == scale && page < static_cast<int>(rects.size()) &&
           Overlaps(rects[page], top, bottom);
  };
  const std::size_t budget = static_cast<std::size_t>(kSpareScreens) *
                             static_cast<std::size_t>(std::max(0, view.ViewportWidth())) *
                             static_cast<std::size_t>(std::max(0, view.ViewportHeight())) * 4;
  std::size_t bytes = 0;
  for (const auto& [page, cached] : cache_)
    if (!kept(page, cached)) bytes += static_cast<std::size_t>(cached.image.sizeInBytes());
  while (bytes > budget) {
    auto oldest = cache_.end();
    for (auto it = cache_.begin(); it != cache_.end(); ++it)
      if (!kept(it->first, it->second) &&
          (oldest == cache_.end() || it->second.lastUse < oldest->second.lastUse))
        oldest = it;
    if (oldest == cache_.end()) break;
    bytes -= static_cast<std::size_t>(oldest->second.image.sizeInBytes());
    cache_.erase(oldest);
  }
}

}  // namespace gui
