// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop's document view timed from the input event to the paint that shows its
// result, on the 397-page manual Debian ships with valgrind (and the 93-page GnuCOBOL
// manual for the browse): Page Down in a view control's window, zoom commands given by the
// control's thread as the viewer's menu gives them, and the browse's preview following the
// highlight moved by the Down and Up keys. Prints median and 90th percentile and their
// ratios to one frame (16 ms) for paging and the preview, and to 50 ms for zooming.
//
// Runs on the platform Qt picks (QT_QPA_PLATFORM=offscreen without a display; under Xvfb
// the paints reach the X server too). `bench_view_gui [pages] [zooms] [moves]`.

#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/BrowseData.h"
#include "app/DemoData.h"
#include "app/DemoDataFileManager.h"
#include "app/DemoDataRelationManager.h"
#include "app/LoadBlobFromFile.h"
#include "app/Startup.h"
#include "framework/error/ErrorHooks.h"
#include "gui/qt/QtBackend.h"
#include "gui/qt/QtListControl.h"
#include "gui/qt/QtPdfSurface.h"
#include "gui/qt/QtPdfView.h"
#include "gui/qt/QtPdfViewer.h"
#include "gui/qt/QtWindow.h"
#include "platform/pdf/PageletControl.h"
#include "platform/pdf/PdfViewState.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace {

namespace fs = std::filesystem;
using Clock = QElapsedTimer;

constexpr int kRegion = 1;
constexpr double kFrameMs = 16.0;
constexpr double kZoomGoalMs = 50.0;

// Pumps Qt events until the condition holds (checked after every round); false on timeout.
// The loop sleeps while no event comes, as an application's does (a tick wakes it for
// conditions no event announces), so that it leaves the cores to the renderer and the
// display server.
bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 30000) {
  Clock timer;
  timer.start();
  QTimer tick;
  tick.start(2);
  while (!condition()) {
    if (timer.elapsed() > timeoutMs) return false;
    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

void Idle(int ms) {
  PumpUntil([] { return false; }, ms);
}

double Percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index =
      static_cast<std::size_t>(std::lround(share * static_cast<double>(values.size() - 1)));
  return values[std::min(index, values.size() - 1)];
}

void Print(const char* what, const std::vector<double>& ms, double goal) {
  const double median = Percentile(ms, 0.5);
  const double p90 = Percentile(ms, 0.9);
  std::printf("%-34s n=%3zu  median %7.2f ms (%.2fx)  p90 %7.2f ms (%.2fx)  max %7.2f ms\n", what,
              ms.size(), median, median / goal, p90, p90 / goal, Percentile(ms, 1.0));
}

// Gunzips a documentation file into `dir`; "" when it is not installed.
std::string Unpack(const std::string& gz, const QTemporaryDir& dir, const std::string& name) {
  if (!fs::exists(gz)) return {};
  const std::string out = dir.filePath(QString::fromStdString(name)).toStdString();
  const std::string command = "gzip -dc '" + gz + "' > '" + out + "'";
  return std::system(command.c_str()) == 0 ? out : std::string();
}

// A program on a runtime thread of its own, over a fresh desktop backend.
class Program {
 public:
  explicit Program(std::function<void()> main) : backend_(std::make_shared<gui::QtBackend>()) {
    rt::InstallBackend(backend_);
    gui::InstallPdfSurfaces();
    runner_ = std::thread([this, main = std::move(main)] {
      rt::RunProgram(main);
      done_ = true;
    });
  }
  ~Program() {
    for (int thread : rt::RunningThreads())
      rt::PostCloseDown(thread);
    PumpUntil([this] { return done_.load(); });
    runner_.join();
    backend_->Shutdown();
    rt::InstallBackend(std::make_shared<rt::HeadlessBackend>());
    QApplication::processEvents();
  }
  gui::QtBackend& Backend() { return *backend_; }

 private:
  std::shared_ptr<gui::QtBackend> backend_;
  std::thread runner_;
  std::atomic<bool> done_{false};
};

// Commands for the control's thread, as its window's menu would give them.
class Commands {
 public:
  void Post(int command) {
    std::lock_guard lock(mutex_);
    queue_.push_back(command);
    ready_.notify_one();
  }
  int Take() {
    std::unique_lock lock(mutex_);
    ready_.wait(lock, [this] { return !queue_.empty(); });
    const int command = queue_.front();
    queue_.pop_front();
    return command;
  }
  // How long the control's Zoom took (it waits for the engine while a page renders).
  void Took(double ms) {
    std::lock_guard lock(mutex_);
    took_.push_back(ms);
  }
  std::vector<double> Calls() {
    std::lock_guard lock(mutex_);
    return took_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<int> queue_;
  std::vector<double> took_;
};

constexpr int kQuit = -1;

// Pumps until a paint after which `shown` holds; the milliseconds since `timer` started.
double PaintedWhen(gui::QtPdfView& view, const Clock& timer, const std::function<bool()>& shown) {
  int paints = view.Stats().paints;
  double at = -1;
  PumpUntil([&] {
    if (view.Stats().paints == paints) return false;
    paints = view.Stats().paints;
    if (!shown()) return false;
    at = static_cast<double>(timer.nsecsElapsed()) / 1e6;
    return true;
  });
  return at;
}

// Page Down, and pumps until the page is drawn.
void PageDownDrawn(gui::QtPdfView& view) {
  Clock timer;
  timer.start();
  QTest::keyClick(&view, Qt::Key_PageDown);
  PaintedWhen(view, timer, [&] { return view.UndrawnRows() == 0; });
}

void BenchViewer(const std::string& manual, int pageDowns, int zooms) {
  auto def = std::make_shared<rt::WindowDef>("BenchViewGui", "VIEW", "Bench View");
  def->pos = {0, 0, 340, 440};
  def->Region().At(0, 0, 340, 440);
  rt::RegisterWindowDef(def);
  Commands commands;
  std::atomic<int> windowId{0};
  Program program([&] {
    rt::Start([&](const std::vector<std::string>&) {
      auto window = rt::Window::Prepare("BenchViewGui", "VIEW");
      window->Open();
      rt::PageletControl control;
      control.mode = rt::PageletControl::kModeWindow;
      control.Init(*window, kRegion, 1, 1, 0, 1, "", "");
      control.LoadFile(manual, 0);
      windowId = window->Id();
      for (int command = commands.Take(); command != kQuit; command = commands.Take()) {
        Clock call;
        call.start();
        control.Zoom(command);
        commands.Took(static_cast<double>(call.nsecsElapsed()) / 1e6);
      }
      control.Kill();
      window->Close();
    });
    rt::JoinAllThreads();
  });
  gui::QtPdfView* view = nullptr;
  if (!PumpUntil([&] {
        QWidget* region = windowId ? program.Backend().RegionWidget(windowId, kRegion) : nullptr;
        view = region ? region->findChild<gui::QtPdfView*>() : nullptr;
        return view && view->PageCount() > 0 && view->UndrawnRows() == 0;
      })) {
    std::printf("the manual was not shown\n");
    commands.Post(kQuit);
    return;
  }
  Idle(500);
  std::printf("view %dx%d, %d pages\n", view->viewport()->width(), view->viewport()->height(),
              view->PageCount());
  view->setFocus();

  // Page Down at a reading pace: the pages ahead have time to arrive between two keys.
  std::vector<double> pageDown;
  int missing = view->Stats().missingPages;
  for (int i = 0; i < pageDowns; ++i) {
    Clock timer;
    timer.start();
    QTest::keyClick(view, Qt::Key_PageDown);
    const double ms = PaintedWhen(*view, timer, [&] { return view->UndrawnRows() == 0; });
    if (ms >= 0) pageDown.push_back(ms);
    Idle(250);
  }
  const int pagedMissing = view->Stats().missingPages - missing;
  Print("Page Down, key to page drawn", pageDown, kFrameMs);
  std::printf("  pages rendered ahead %d, shown from there %d, pages painted blank %d\n",
              view->AheadRendered(), view->AheadHits(), pagedMissing);

  // The zooms begin near page 48, where 100% and then Full Page once left a strip undrawn.
  for (int i = 0; i < 60 && view->CurrentPage() < 47; ++i) {
    PageDownDrawn(*view);
  }
  std::printf("zooms from page %d\n", view->CurrentPage() + 1);

  // Zoom commands near the current page: the first paint at the new scale (the pages at
  // hand stretched) and the sharp one.
  const int commandsCycle[] = {rt::PdfViewState::kZoom100, rt::PdfViewState::kZoomFullPage,
                               rt::PdfViewState::kZoomTwoPages, rt::PdfViewState::kZoomFullWidth};
  std::vector<double> firstPaint;
  std::vector<double> sharp;
  int longestUndrawn = 0;
  int fullPages = 0;
  int notWhole = 0;
  // Gives a zoom command; the time to the first paint at the new scale (negative: none).
  auto zoom = [&](int command, Clock& timer) {
    const QSize before = view->PageRect(view->TopPage()).size();
    timer.start();
    commands.Post(command);
    return PaintedWhen(*view, timer,
                       [&] { return view->PageRect(view->TopPage()).size() != before; });
  };
  for (int i = 0; i < zooms; ++i) {
    const int command = commandsCycle[i % 4];
    Clock timer;
    const double first = zoom(command, timer);
    double done = first;
    if (first >= 0 && view->UndrawnRows() != 0)
      done = PaintedWhen(*view, timer, [&] { return view->UndrawnRows() == 0; });
    if (first >= 0) firstPaint.push_back(first);
    if (done >= 0) sharp.push_back(done);
    if (done < 0) longestUndrawn = std::max(longestUndrawn, view->UndrawnRows());
    Idle(300);
    if (command == rt::PdfViewState::kZoomFullPage) {
      ++fullPages;
      const QRect page = view->PageRect(view->CurrentPage());
      if (!view->viewport()->rect().contains(page)) ++notWhole;
    }
  }
  // Zoom commands in quick succession, each given once the previous one's new scale is shown,
  // while its sharp pages are still being rendered.
  std::vector<double> rapid;
  for (int i = 0; i < zooms; ++i) {
    Clock timer;
    const double first = zoom(commandsCycle[i % 4], timer);
    if (first >= 0) rapid.push_back(first);
  }
  PumpUntil([&] { return view->UndrawnRows() == 0; });
  Print("zoom, command to new scale shown", firstPaint, kZoomGoalMs);
  Print("zoom in quick succession, new scale", rapid, kZoomGoalMs);
  Print("zoom, command to sharp pages", sharp, kZoomGoalMs);
  Print("  of which the control's Zoom call", commands.Calls(), kZoomGoalMs);
  std::printf("  rows left undrawn for 30 s %d, Full Page not showing the page whole %d of %d\n",
              longestUndrawn, notWhole, fullPages);
  commands.Post(kQuit);
}

// The process's resident memory in MB.
double ResidentMb() {
  long pages = 0;
  long resident = 0;
  if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
  }
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

// Quick View's viewer paged through `pages` pages, then closed: the resident memory before,
// after the paging and after closing.
void BenchQuickView(const std::string& manual, int pages) {
  std::atomic<bool> open{false};
  std::atomic<bool> shown{false};
  std::atomic<bool> release{false};
  Program program([&] {
    rt::PageletControl windowless;
    while (!open)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    shown = windowless.ShowFile(manual);
    while (!release)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  });
  Idle(300);
  const double before = ResidentMb();
  open = true;
  QPointer<gui::QtPdfViewer> viewer;
  if (!PumpUntil([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
          if (auto* v = qobject_cast<gui::QtPdfViewer*>(w); v && v->isVisible()) viewer = v;
        return viewer && viewer->View()->UndrawnRows() == 0;
      })) {
    std::printf("Quick View did not show the manual\n");
    release = true;
    return;
  }
  gui::QtPdfView* view = viewer->View();
  view->setFocus();
  for (int i = 0; i < 3 * pages && view->CurrentPage() < pages; ++i) {
    PageDownDrawn(*view);
  }
  Idle(500);
  const double paged = ResidentMb();
  const double cached = static_cast<double>(view->CachedBytes()) / 1048576.0;
  const int reached = view->CurrentPage() + 1;
  viewer->close();
  PumpUntil([&] { return viewer.isNull(); });
  Idle(1000);
  const double closed = ResidentMb();
  std::printf(
      "Quick View memory: before %.1f MB, after paging to page %d %.1f MB (render cache %.1f MB), "
      "after closing %.1f MB (%+.1f MB)\n",
      before, reached, paged, cached, closed, closed - before);
  release = true;
}

void BenchBrowse(const std::string& manual, const std::string& other, int moves) {
  const std::vector<std::string> files = {manual, other};
  Program program([files] {
    StartGlobalErrors();
    CreateDemoDataManagers();
    rt::Start([files](const std::vector<std::string>&) {
      static_cast<void>(DemoDataRelationManagerRef()->Open());
      for (int row = 0; row < 6; ++row) {
        const std::string& file = files[row % files.size()];
        static_cast<void>(DemoDataFileManagerRef()->PrepareRecord());
        SetDemoDataFileName(file);
        static_cast<void>(LoadBlobFromFile(DemoData(), kDemoDataBlob, file));
        static_cast<void>(DemoDataRelationManagerRef()->Insert());
      }
      static_cast<void>(DemoDataRelationManagerRef()->Close());
      BrowseData();
    });
    rt::JoinAllThreads();
  });
  QTreeWidget* tree = nullptr;
  gui::QtPdfView* view = nullptr;
  if (!PumpUntil([&] {
        gui::QtWindow* window = nullptr;
        for (QWidget* w : QApplication::allWidgets())
          if (auto* q = qobject_cast<gui::QtWindow*>(w);
              q && !q->Closing() && q->windowTitle() == kBrowseDataCaption)
            window = q;
        if (!window) return false;
        auto* list = qobject_cast<gui::QtListControl*>(window->ControlWidget(kBrowseDataList));
        tree = list ? list->Tree() : nullptr;
        view = window->findChild<gui::QtPdfView*>();
        return tree && tree->topLevelItemCount() == 6 && view && view->HasRenderedPage(0);
      })) {
    std::printf("the browse did not show its rows\n");
    return;
  }
  Idle(500);
  tree->setFocus();
  std::vector<double> preview;
  int extraPaints = 0;
  int blank = 0;
  for (int i = 0; i < moves; ++i) {
    const bool down = (i / 5) % 2 == 0;
    const int pages = view->PageCount();
    const gui::QtPdfView::PaintStats before = view->Stats();
    Clock timer;
    timer.start();
    QTest::keyClick(tree, down ? Qt::Key_Down : Qt::Key_Up);
    const double ms = PaintedWhen(*view, timer, [&] {
      return view->PageCount() != pages && view->HasRenderedPage(view->TopPage());
    });
    if (ms >= 0) preview.push_back(ms);
    Idle(300);
    extraPaints += view->Stats().paints - before.paints - 1;
    blank += view->Stats().blankPaints - before.blankPaints;
  }
  Print("browse preview, key to new page", preview, kFrameMs);
  std::printf("  paints beyond one per move %d, empty views painted %d\n", extraPaints, blank);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  const int pageDowns = argc > 1 ? std::atoi(argv[1]) : 40;
  const int zooms = argc > 2 ? std::atoi(argv[2]) : 24;
  const int moves = argc > 3 ? std::atoi(argv[3]) : 20;
  QTemporaryDir dir;
  const std::string manual =
      Unpack("/usr/share/doc/valgrind/valgrind_manual.pdf.gz", dir, "valgrind_manual.pdf");
  const std::string other = Unpack("/usr/share/doc/gnucobol3/gnucobol.pdf.gz", dir, "gnucobol.pdf");
  if (manual.empty() || other.empty()) {
    std::printf("needs the valgrind and gnucobol3 manuals (scripts/install-deps)\n");
    return 1;
  }
  // The browse's table goes into the temporary folder.
  fs::current_path(dir.path().toStdString());
  std::printf("platform %s\n", qPrintable(QApplication::platformName()));
  RegisterApplicationHooks();
  // Twice: the first time also pays for what the process sets up once (the PDF library's
  // fonts, the desktop's windows and threads).
  BenchQuickView(manual, 50);
  BenchQuickView(manual, 50);
  BenchViewer(manual, pageDowns, zooms);
  BenchBrowse(manual, other, moves);
  fs::current_path(fs::temp_directory_path());
  return 0;
}
