#pragma once
// A scrollable, zoomable page view over a PDF engine. It draws only the frames its renderer
// delivers (pages, search marks, the error text of a failed load) and tells the renderer its
// size and scroll position; it never calls the engine itself. GUI thread only.

#include <QAbstractScrollArea>
#include <QImage>
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

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void Show(std::shared_ptr<const QtPdfFrame> frame);
  void AddToolbar();
  void UpdateScrollBars();

  std::shared_ptr<QtPdfRenderer> renderer_;
  std::shared_ptr<const QtPdfFrame> frame_;
  bool applying_ = false;       // scroll bars set from a frame, not by the user
  QWidget* toolbar_ = nullptr;  // child
};

}  // namespace gui
