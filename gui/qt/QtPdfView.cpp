// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtPdfView.h"

#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTimer>
#include <QToolBar>
#include <algorithm>
#include <cstdlib>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "gui/qt/QtPdfRenderer.h"
#include "platform/pdf/PdfViewState.h"

namespace gui {
namespace {

const QColor kBackground(0x80, 0x80, 0x80);
const QColor kMatch(255, 230, 0, 90);
const QColor kCurrentMatch(255, 120, 0, 130);

}  // namespace

QtPdfView::QtPdfView(std::weak_ptr<rt::PdfEngine> engine, QWidget* parent)
    : QAbstractScrollArea(parent) {
  setFrameShape(QFrame::StyledPanel);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAutoFillBackground(false);
  QPointer<QtPdfView> self(this);
  renderer_ = std::make_shared<QtPdfRenderer>(std::move(engine),
                                              [self](std::shared_ptr<const QtPdfFrame> frame) {
                                                auto* app = QCoreApplication::instance();
                                                if (!app) return;
                                                QMetaObject::invokeMethod(
                                                    app,
                                                    [self, frame = std::move(frame)]() mutable {
                                                      if (self) self->Show(std::move(frame));
                                                    },
                                                    Qt::QueuedConnection);
                                              });
  renderer_->Refresh(true, true);
}

QtPdfView::~QtPdfView() {
  renderer_->Stop();
#if defined(__GLIBC__)
  // The pages' memory came from several threads' heaps, where freed blocks stay with the
  // process: give it back once the renderer's last task and the frames queued for this view
  // are gone.
  QTimer::singleShot(kTrimDelayMs, QCoreApplication::instance(), [] { malloc_trim(0); });
#endif
}

void QtPdfView::Refresh(bool documentsChanged, bool followEngine) {
  renderer_->Refresh(documentsChanged, followEngine);
}

void QtPdfView::SetStyle(bool border, bool scrollBars, bool toolbar) {
  setFrameShape(border ? QFrame::StyledPanel : QFrame::NoFrame);
  const Qt::ScrollBarPolicy policy = scrollBars ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff;
  setHorizontalScrollBarPolicy(policy);
  setVerticalScrollBarPolicy(policy);
  if (toolbar && toolbar_ == nullptr) AddToolbar();
  if (toolbar_ != nullptr) toolbar_->setVisible(toolbar);
}

void QtPdfView::AddToolbar() {
  auto* bar = new QToolBar(this);
  bar->setObjectName("pdfToolbar");
  bar->setIconSize(QSize(16, 16));
  auto zoom = [this, bar](const QString& text, int command) {
    bar->addAction(text, this, [this, command] { renderer_->Command(command, 0); });
  };
  bar->addAction("<", this, [this] { renderer_->Command(0, -1); })->setToolTip("Previous page");
  bar->addAction(">", this, [this] { renderer_->Command(0, 1); })->setToolTip("Next page");
  bar->addSeparator();
  zoom("-", rt::PdfViewState::kZoomOut);
  zoom("+", rt::PdfViewState::kZoomIn);
  zoom("100%", rt::PdfViewState::kZoom100);
  zoom("Width", rt::PdfViewState::kZoomFullWidth);
  zoom("Page", rt::PdfViewState::kZoomFullPage);
  toolbar_ = bar;
  // The bar sits in the viewport margin above the pages.
  setViewportMargins(0, bar->sizeHint().height(), 0, 0);
  bar->setGeometry(0, 0, width(), bar->sizeHint().height());
}

void QtPdfView::Show(std::shared_ptr<const QtPdfFrame> frame) {
  ++stats_.frames;
  if (frame->stretched && frame_ && frame_->documentsVersion == frame->documentsVersion) {
    // A new layout before its pages are rendered: what the renderer no longer has at hand is
    // stretched from the pages shown now.
    std::shared_ptr<QtPdfFrame> merged;
    for (const auto& [page, image] : frame_->pages) {
      if (frame->pages.count(page) != 0) continue;
      if (!merged) merged = std::make_shared<QtPdfFrame>(*frame);
      merged->pages.emplace(page, image);
    }
    if (merged) frame = std::move(merged);
  }
  const bool repaint = ChangesPicture(*frame);
  // A new layout (another scale, a refit to the viewport) has the engine's scroll position:
  // the view's old one means nothing in it.
  const bool relayout = !frame_ || frame_->view.PageRects() != frame->view.PageRects();
  frame_ = std::move(frame);
  UpdateScrollBars(relayout);
  if (repaint) viewport()->update();
  // The pages were rendered around the engine's position: when the view stands elsewhere
  // (a scroll the engine has not seen), have it render there, or part of the view would
  // stay undrawn until the next scroll.
  // Matches found by a search still running come with a later snapshot: ask for one while
  // it runs. A refresh that does not follow the engine leaves a scroll asked for in force.
  if (frame_->searching && !searchPoll_) {
    searchPoll_ = true;
    QTimer::singleShot(kSearchPollMs, this, [this] {
      searchPoll_ = false;
      renderer_->Refresh(false, false);
    });
  }
  if (horizontalScrollBar()->value() != frame_->view.ScrollX() ||
      verticalScrollBar()->value() != frame_->view.ScrollY())
    ScrollRenderer();
}

void QtPdfView::ScrollRenderer() {
  ++scrolls_;
  renderer_->ScrollTo(horizontalScrollBar()->value(), verticalScrollBar()->value());
}

bool QtPdfView::ChangesPicture(const QtPdfFrame& next) const {
  if (!frame_ || next.followEngine || next.error != frame_->error) return true;
  const rt::PdfViewState& a = frame_->view;
  const rt::PdfViewState& b = next.view;
  if (a.PageRects() != b.PageRects() || a.ContentWidth() != b.ContentWidth() ||
      a.ContentHeight() != b.ContentHeight() || frame_->stretched != next.stretched ||
      frame_->highlight != next.highlight || frame_->currentMatch != next.currentMatch ||
      frame_->matches.size() != next.matches.size())
    return true;
  // The same layout: only a page newly drawn, or drawn anew, on screen changes the picture.
  const QRect visible =
      viewport()->rect().translated(horizontalScrollBar()->value(), verticalScrollBar()->value());
  const auto& rects = b.PageRects();
  for (int page = 0; page < static_cast<int>(rects.size()); ++page) {
    const rt::PdfRect& r = rects[page];
    if (!QRectF(r.x, r.y, r.width, r.height).toAlignedRect().intersects(visible)) continue;
    auto before = frame_->pages.find(page);
    auto after = next.pages.find(page);
    const qint64 keyBefore = before == frame_->pages.end() ? 0 : before->second.cacheKey();
    const qint64 keyAfter = after == next.pages.end() ? 0 : after->second.cacheKey();
    if (keyBefore != keyAfter) return true;
  }
  return false;
}

void QtPdfView::UpdateScrollBars(bool relayout) {
  if (!frame_) return;
  const rt::PdfViewState& view = frame_->view;
  applying_ = true;
  horizontalScrollBar()->setRange(0, view.MaxScrollX());
  horizontalScrollBar()->setPageStep(viewport()->width());
  horizontalScrollBar()->setSingleStep(20);
  verticalScrollBar()->setRange(0, view.MaxScrollY());
  verticalScrollBar()->setPageStep(viewport()->height());
  verticalScrollBar()->setSingleStep(20);
  // A frame that follows the engine but was taken before the user's last scroll reached the
  // renderer does not undo that scroll; a new layout always takes the engine's position.
  if ((frame_->followEngine && frame_->scrolls == scrolls_) || relayout) {
    horizontalScrollBar()->setValue(view.ScrollX());
    verticalScrollBar()->setValue(view.ScrollY());
  }
  applying_ = false;
}

void QtPdfView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  if (toolbar_ != nullptr) {
    const int frame = frameWidth();
    toolbar_->setGeometry(frame, frame, width() - 2 * frame, toolbar_->sizeHint().height());
  }
  renderer_->SetViewport(viewport()->width(), viewport()->height(), logicalDpiY());
}

void QtPdfView::scrollContentsBy(int, int) {
  if (!applying_) ScrollRenderer();
  viewport()->update();
}

void QtPdfView::paintEvent(QPaintEvent*) {
  ++stats_.paints;
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), kBackground);
  const rt::PdfViewState* shown = frame_ ? &frame_->view : nullptr;
  if (!shown || shown->PageCount() == 0) ++stats_.blankPaints;
  if (!shown) return;
  const rt::PdfViewState& view = *shown;
  if (view.PageCount() == 0) {
    if (!frame_->error.isEmpty()) {
      painter.setPen(Qt::white);
      painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8),
                       Qt::AlignCenter | Qt::TextWordWrap, frame_->error);
    }
    return;
  }
  const QPoint offset(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
  const QRect visible = viewport()->rect();
  const auto& rects = view.PageRects();
  int drawn = 0;
  for (int page = 0; page < static_cast<int>(rects.size()); ++page) {
    const rt::PdfRect& r = rects[page];
    QRect target = QRectF(r.x, r.y, r.width, r.height).toAlignedRect().translated(offset);
    if (!target.intersects(visible)) continue;
    auto it = frame_->pages.find(page);
    if (it != frame_->pages.end() && !it->second.isNull()) {
      const QImage& image = it->second;
      // A page rendered for this layout is a pixel or so larger than its rounded rectangle:
      // copied as it is (a scaled draw would cost a transformation of every pixel). A page
      // at another scale (a zoom in progress) is stretched as it is, quickly: the sharp one
      // follows.
      if (!frame_->stretched && std::abs(image.width() - target.width()) <= 2 &&
          std::abs(image.height() - target.height()) <= 2) {
        if (image.width() < target.width() || image.height() < target.height())
          painter.fillRect(target, Qt::white);
        painter.drawImage(target.topLeft(), image,
                          QRect(QPoint(0, 0), target.size()).intersected(image.rect()));
      } else {
        painter.drawImage(target, image);
      }
      ++drawn;
      if (frame_->stretched) ++stats_.stretchedPages;
    } else {
      painter.fillRect(target, Qt::white);
      ++stats_.missingPages;
    }
    painter.setPen(QColor(0x40, 0x40, 0x40));
    painter.drawRect(target.adjusted(0, 0, -1, -1));
  }
  if (drawn == 0) ++stats_.blankPaints;
  if (!frame_->highlight) return;
  for (int i = 0; i < static_cast<int>(frame_->matches.size()); ++i) {
    const rt::PdfMatch& match = frame_->matches[i];
    const rt::PdfRect box = view.PageToView(match.page, match.box);
    QRect target = QRectF(box.x, box.y, box.width, box.height).toAlignedRect().translated(offset);
    if (target.intersects(visible))
      painter.fillRect(target, i == frame_->currentMatch ? kCurrentMatch : kMatch);
  }
}

int QtPdfView::PageCount() const {
  return frame_ ? frame_->view.PageCount() : 0;
}

bool QtPdfView::HasRenderedPage(int page) const {
  return frame_ && frame_->pages.count(page) != 0 && !frame_->pages.at(page).isNull();
}

QImage QtPdfView::RenderedPage(int page) const {
  return HasRenderedPage(page) ? frame_->pages.at(page) : QImage();
}

int QtPdfView::MatchCount() const {
  return frame_ && frame_->highlight ? static_cast<int>(frame_->matches.size()) : 0;
}

int QtPdfView::CurrentMatchPage() const {
  if (!frame_ || frame_->currentMatch < 0 ||
      frame_->currentMatch >= static_cast<int>(frame_->matches.size()))
    return -1;
  return frame_->matches[frame_->currentMatch].page;
}

int QtPdfView::TopPage() const {
  if (!frame_) return -1;
  const auto& rects = frame_->view.PageRects();
  const int top = verticalScrollBar()->value();
  for (int page = 0; page < static_cast<int>(rects.size()); ++page)
    if (rects[page].Bottom() > top) return page;
  return -1;
}

QString QtPdfView::ErrorText() const {
  return frame_ ? frame_->error : QString();
}

int QtPdfView::AheadRendered() const {
  return renderer_->AheadRendered();
}

int QtPdfView::AheadHits() const {
  return renderer_->AheadHits();
}

std::size_t QtPdfView::CachedBytes() const {
  return renderer_->CacheBytes();
}

QRect QtPdfView::PageRect(int page) const {
  if (!frame_ || page < 0 || page >= frame_->view.PageCount()) return {};
  const rt::PdfRect& r = frame_->view.PageRects()[page];
  return QRectF(r.x, r.y, r.width, r.height)
      .toAlignedRect()
      .translated(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
}

int QtPdfView::CurrentPage() const {
  return frame_ ? frame_->view.CurrentPage() : -1;
}

bool QtPdfView::Follows(std::uint64_t revision) const {
  return frame_ && frame_->revision >= revision &&
         frame_->view.ViewportWidth() == viewport()->width() &&
         frame_->view.ViewportHeight() == viewport()->height();
}

int QtPdfView::UndrawnRows() const {
  if (!frame_) return viewport()->height();
  std::vector<bool> undrawn(static_cast<std::size_t>(std::max(0, viewport()->height())));
  for (int page = 0; page < frame_->view.PageCount(); ++page) {
    const QRect target = PageRect(page).intersected(viewport()->rect());
    if (target.isEmpty()) continue;
    auto it = frame_->pages.find(page);
    if (frame_->stretched || it == frame_->pages.end() || it->second.isNull())
      for (int y = target.top(); y <= target.bottom(); ++y)
        undrawn[static_cast<std::size_t>(y)] = true;
  }
  return static_cast<int>(std::count(undrawn.begin(), undrawn.end(), true));
}

}  // namespace gui
