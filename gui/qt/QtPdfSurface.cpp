// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/QtPdfSurface.h"

#include <QApplication>
#include <QFileInfo>
#include <QPainter>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QThreadPool>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <atomic>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "gui/qt/QtBackend.h"
#include "gui/qt/QtPdfView.h"
#include "gui/qt/QtPdfViewer.h"
#include "gui/qt/QtSurface.h"
#include "platform/pdf/PdfEngine.h"
#include "platform/runtime/files/LockedFileRegistry.h"
#include "platform/runtime/windows/UiBackend.h"

namespace gui {

struct QtPdfSurface::GuiSide {
  int windowId = 0;
  int control = 0;
  bool border = true;
  bool scrollBars = true;
  bool toolbar = false;
  std::weak_ptr<rt::PdfEngine> engine;
  int generation = 0;  // raised by every Attach and Detach: stale placements give up
  QPointer<QtPdfView> view;
  std::vector<QPointer<QWidget>> viewers;

  QWidget* DialogParent() const { return view ? view->window() : nullptr; }
  // The widget of the runtime window the view is placed in.
  QWidget* OwnerWindow() const {
    for (QWidget* w = view; w != nullptr; w = w->parentWidget())
      if (dynamic_cast<QtSurface*>(w) != nullptr) return w;
    return nullptr;
  }
};

namespace {

// Runs work on the GUI thread, after what is already queued there.
void OnGui(std::function<void()> work) {
  if (auto* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

// Puts the view into the region once the backend has made the region's widget.
void Place(std::shared_ptr<QtPdfSurface::GuiSide> gui, int generation, int attempt) {
  if (gui->generation != generation) return;
  const auto backend = std::dynamic_pointer_cast<QtBackend>(rt::Backend());
  QWidget* region = backend ? backend->RegionWidget(gui->windowId, gui->control) : nullptr;
  if (region == nullptr) {
    if (attempt + 1 < QtPdfSurface::kPlaceAttempts) {
      QTimer::singleShot(QtPdfSurface::kPlaceRetryMs, QCoreApplication::instance(),
                         [gui, generation, attempt] { Place(gui, generation, attempt + 1); });
    }
    return;
  }
  delete gui->view.data();
  auto* view = new QtPdfView(gui->engine, region);
  view->SetStyle(gui->border, gui->scrollBars, gui->toolbar);
  if (region->layout() == nullptr) {
    auto* layout = new QVBoxLayout(region);
    layout->setContentsMargins(0, 0, 0, 0);
  }
  region->layout()->addWidget(view);
  view->show();
  gui->view = view;
}

// The answer to a print request, given once. A request dropped unanswered (the desktop
// went away before the dialog was shown) fails.
class PrintReply {
 public:
  PrintReply() = default;
  PrintReply(const PrintReply&) = delete;
  PrintReply& operator=(const PrintReply&) = delete;
  ~PrintReply() { Set({rt::PdfPrintOutcome::Failed, "The print request was not carried out"}); }

  std::future<rt::PdfPrintResult> Future() { return promise_.get_future(); }
  void Set(rt::PdfPrintResult result) {
    if (answered_.exchange(true)) return;
    promise_.set_value(std::move(result));
  }

 private:
  std::promise<rt::PdfPrintResult> promise_;
  std::atomic<bool> answered_{false};
};

// Keeps input from the control's own window while its print dialog is open; other windows,
// on other threads too, stay live.
void BlockWindow(QPointer<QWidget> window, bool blocked) {
  if (auto* surface = dynamic_cast<QtSurface*>(window.data())) surface->SetBlocked(blocked);
}

// The document printed to a file that is one of the job's own documents, or "": printing
// there would replace the document with its printed copy.
std::string OutputOverDocument(const rt::PdfPrintJob& job, const QPrinter& printer) {
  if (printer.outputFileName().isEmpty()) return {};
  const QString output = QFileInfo(printer.outputFileName()).canonicalFilePath();
  if (output.isEmpty()) return {};  // a new file
  for (const std::string& document : job.documents)
    if (QFileInfo(QString::fromStdString(document)).canonicalFilePath() == output) return document;
  return {};
}

// Draws the job's pages onto the printer, off the GUI thread (painting on a printer is
// allowed on any thread), and answers the request.
void PrintPages(const rt::PdfPrintJob& job, std::shared_ptr<rt::PdfEngine> engine,
                std::shared_ptr<QPrinter> printer, int firstPage, int lastPage,
                std::shared_ptr<PrintReply> reply) {
  // Printing into a table's file would overwrite the table and drop the process's locks on it.
  if (const std::string output = printer->outputFileName().toStdString();
      !output.empty() && rt::LockedFileRegistry::Holds(output)) {
    reply->Set({rt::PdfPrintOutcome::Failed,
                rt::LockedFileRegistry::RefusalText(output) + ". Choose another output file."});
    return;
  }
  if (const std::string document = OutputOverDocument(job, *printer); !document.empty()) {
    reply->Set({rt::PdfPrintOutcome::Failed,
                "The printed copy would replace the document being printed: " + document +
                    ". Choose another output file."});
    return;
  }
  QThreadPool::globalInstance()->start([job, engine, printer, firstPage, lastPage, reply] {
    QPainter painter;
    if (!painter.begin(printer.get())) {
      reply->Set({rt::PdfPrintOutcome::Failed, "The printer could not be started"});
      return;
    }
    const int dpi = job.options.RenderDpi(printer->resolution());
    const QRect area = painter.viewport();
    for (int page = firstPage; page <= lastPage; ++page) {
      if (page > firstPage && !printer->newPage()) {
        painter.end();
        reply->Set({rt::PdfPrintOutcome::Failed, "The printer stopped taking pages"});
        return;
      }
      rt::PdfImage image;
      rt::PdfError error = engine->RenderPage(page, dpi / 72.0, image);
      if (!error.Ok() || image.Empty()) {
        painter.end();
        reply->Set({rt::PdfPrintOutcome::Failed,
                    "Page " + std::to_string(page + 1) + " could not be printed: " + error.text});
        return;
      }
      QImage picture(image.bytes.data(), image.width, image.height, image.stride,
                     QImage::Format_ARGB32);
      // Fit the page into the printable area, keeping its proportions.
      QSize size = picture.size().scaled(area.size(), Qt::KeepAspectRatio);
      painter.drawImage(QRect(area.topLeft(), size), picture);
    }
    if (!painter.end()) {
      reply->Set({rt::PdfPrintOutcome::Failed, "The printer failed"});
      return;
    }
    reply->Set({rt::PdfPrintOutcome::Printed, {}});
  });
}

}  // namespace

QtPdfSurface::QtPdfSurface() : gui_(std::make_shared<GuiSide>()) {}

QtPdfSurface::~QtPdfSurface() {
  OnGui([gui = gui_] {
    ++gui->generation;
    delete gui->view.data();
    for (QPointer<QWidget>& viewer : gui->viewers)
      delete viewer.data();
    gui->viewers.clear();
  });
}

void QtPdfSurface::Attach(int windowId, int control, const rt::Rect&,
                          std::weak_ptr<rt::PdfEngine> engine) {
  OnGui([gui = gui_, windowId, control, engine = std::move(engine), border = Border(),
         scrollBars = ScrollBars(), toolbar = Toolbar()] {
    gui->windowId = windowId;
    gui->control = control;
    gui->border = border;
    gui->scrollBars = scrollBars;
    gui->toolbar = toolbar;
    gui->engine = engine;
    Place(gui, ++gui->generation, 0);
  });
}

void QtPdfSurface::Resize(const rt::Rect&) {
  // The backend moves the region; the view follows it through the region's layout.
  Refresh(false);
}

void QtPdfSurface::Refresh(bool documentsChanged) {
  OnGui([gui = gui_, documentsChanged] {
    if (gui->view) gui->view->Refresh(documentsChanged, true);
  });
}

void QtPdfSurface::Detach() {
  OnGui([gui = gui_] {
    ++gui->generation;
    delete gui->view.data();
    gui->engine.reset();
  });
}

rt::PdfPrintResult QtPdfSurface::Print(const rt::PdfPrintJob& job,
                                       std::shared_ptr<rt::PdfEngine> engine) {
  auto reply = std::make_shared<PrintReply>();
  std::future<rt::PdfPrintResult> answer = reply->Future();
  OnGui([gui = gui_, job, engine = std::move(engine), reply = std::move(reply)] {
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    printer->setCopyCount(job.copies);
    // The job's name is the document's file name without its folder: the print dialog
    // proposes an output file after it, which must not be a path inside another path.
    printer->setDocName(job.documents.empty()
                            ? QStringLiteral("PDF document")
                            : QFileInfo(QString::fromStdString(job.documents.front())).fileName());
    if (!job.options.selectPrinter) {
      PrintPages(job, engine, printer, job.firstPage, job.lastPage, reply);
      return;
    }
    QPointer<QWidget> owner = gui->OwnerWindow();
    auto* dialog = new QPrintDialog(printer.get(), gui->DialogParent());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::NonModal);
    dialog->setMinMax(job.firstPage + 1, job.lastPage + 1);
    dialog->setFromTo(job.firstPage + 1, job.lastPage + 1);
    BlockWindow(owner, true);
    auto unblocked = std::make_shared<bool>(false);
    auto unblock = [owner, unblocked] {
      if (!std::exchange(*unblocked, true)) BlockWindow(owner, false);
    };
    QObject::connect(
        dialog, &QDialog::finished, dialog,
        [dialog, job, engine, printer, reply, unblock](int result) {
          unblock();
          if (result != QDialog::Accepted) {
            reply->Set({rt::PdfPrintOutcome::Cancelled, {}});
            return;
          }
          int first = job.firstPage;
          int last = job.lastPage;
          if (dialog->printRange() == QAbstractPrintDialog::PageRange && printer->fromPage() > 0) {
            first = std::clamp(printer->fromPage() - 1, job.firstPage, job.lastPage);
            last = std::clamp(printer->toPage() - 1, first, job.lastPage);
          }
          PrintPages(job, engine, printer, first, last, reply);
        });
    QObject::connect(dialog, &QObject::destroyed, [unblock, reply] {
      unblock();
      reply->Set({rt::PdfPrintOutcome::Cancelled, {}});
    });
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
  });
  try {
    return answer.get();
  } catch (const std::future_error&) {
    return {rt::PdfPrintOutcome::Failed, "The print request was not carried out"};
  }
}

void QtPdfSurface::ShowFile(std::shared_ptr<rt::PdfEngine> engine, const std::string& caption) {
  OnGui([gui = gui_, engine = std::move(engine), caption] {
    auto* viewer = new QtPdfViewer(engine, QString::fromStdString(caption));
    viewer->show();
    viewer->raise();
    gui->viewers.erase(std::remove_if(gui->viewers.begin(), gui->viewers.end(),
                                      [](const QPointer<QWidget>& w) { return w.isNull(); }),
                       gui->viewers.end());
    gui->viewers.emplace_back(viewer);
  });
}

void InstallPdfSurfaces() {
  rt::SetPdfSurfaceFactory([] { return std::make_unique<QtPdfSurface>(); });
}

}  // namespace gui
