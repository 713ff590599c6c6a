// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A top-level viewer window of a view control's own (its ShowFile): a page view over a
// document loaded for it. It keeps the document's engine while it is open and deletes
// itself when closed.

#include <QString>
#include <QWidget>
#include <memory>

namespace rt {
class PdfEngine;
}

namespace gui {

class QtPdfView;

class QtPdfViewer : public QWidget {
  Q_OBJECT

 public:
  QtPdfViewer(std::shared_ptr<rt::PdfEngine> engine, const QString& caption);

  QtPdfView* View() const { return view_; }

 private:
  std::shared_ptr<rt::PdfEngine> engine_;
  QtPdfView* view_ = nullptr;  // child
};

}  // namespace gui
