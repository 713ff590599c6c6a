#include "gui/qt/QtPdfView.h"

#include <QApplication>
#include <QPainter>
#include <QPointer>
#include <QResizeEvent>
#include <QScrollBar>
#include <QToolBar>

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
  frame_ = std::move(frame);
  UpdateScrollBars();
  viewport()->update();
}

void QtPdfView::UpdateScrollBars() {
  if (!frame_) return;
  const rt::PdfViewState& view = frame_->view;
  applying_ = true;
  horizontalScrollBar()->setRange(0, view.MaxScrollX());
  horizontalScrollBar()->setPageStep(viewport()->width());
  horizontalScrollBar()->setSingleStep(20);
  verticalScrollBar()->setRange(0, view.MaxScrollY());
  verticalScrollBar()->setPageStep(viewport()->height());
  verticalScrollBar()->setSingleStep(20);
  if (frame_->followEngine) {
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
  if (!applying_) {
    renderer_->ScrollTo(horizontalScrollBar()->value(), verticalScrollBar()->value());
  }
  viewport()->update();
}

void QtPdfView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  painter.fillRect(viewport()->rect(), kBackground);
  if (!frame_) return;
  const rt::PdfViewState& view = frame_->view;
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
  for (int page = 0; page < static_cast<int>(rects.size()); ++page) {
    const rt::PdfRect& r = rects[page];
    QRect target = QRectF(r.x, r.y, r.width, r.height).toAlignedRect().translated(offset);
    if (!target.intersects(visible)) continue;
    painter.fillRect(target, Qt::white);
    auto it = frame_->pages.find(page);
    if (it != frame_->pages.end()) painter.drawImage(target, it->second);
    painter.setPen(QColor(0x40, 0x40, 0x40));
    painter.drawRect(target.adjusted(0, 0, -1, -1));
  }
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

}  // namespace gui
