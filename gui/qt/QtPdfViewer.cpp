// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtPdfViewer.h"

#include <QKeySequence>
#include <QShortcut>
#include <QVBoxLayout>

#include "gui/qt/QtPdfView.h"
#include "platform/pdf/PdfEngine.h"

namespace gui {

QtPdfViewer::QtPdfViewer(std::shared_ptr<rt::PdfEngine> engine, const QString& caption)
    : QWidget(nullptr, Qt::Window), engine_(std::move(engine)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(caption);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  view_ = new QtPdfView(engine_, this);
  layout->addWidget(view_);
  resize(640, 820);
  // The viewer has no buttons or menu: Escape and the desktop's close keys close it.
  for (const QKeySequence& keys : {QKeySequence(Qt::Key_Escape), QKeySequence(QKeySequence::Close)})
    connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);
}

}  // namespace gui
