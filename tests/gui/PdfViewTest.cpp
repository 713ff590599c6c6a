// SPDX-License-Identifier: GPL-3.0-or-later
// The view control on the desktop: the page view placed in its window's region shows pages
// rendered off the GUI thread and marks search matches; ShowFile opens a viewer of its own.

#include <QImage>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <utility>

#include "gui/qt/QtPdfRenderer.h"
#include "gui/qt/QtPdfSurface.h"
#include "gui/qt/QtPdfView.h"
#include "gui/qt/QtPdfViewer.h"
#include "platform/pdf/PageletControl.h"
#include "platform/pdf/PdfEngine.h"
#include "platform/pdf/PdfSearchJob.h"
#include "platform/runtime/files/LockedFileRegistry.h"
#include "platform/runtime/windows/Window.h"
#include "tests/gui/DesktopTest.h"
#include "tests/pdf/PdfTestWriter.h"
#include "tests/support/Gate.h"

namespace {

using pdftest::PdfTestWriter;

constexpr int kRegion = 2;

void WaitFor(const std::atomic<bool>& flag) {
  while (!flag)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// True when the image has dark pixels: the page's text was drawn.
bool HasInk(const QImage& image) {
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2)
      if (qGray(image.pixel(x, y)) < 100) return true;
  return false;
}

class PdfViewTest : public gui_test::DesktopTest {
 protected:
  void SetUp() override {
    DesktopTest::SetUp();
    gui::InstallPdfSurfaces();
    auto def = std::make_shared<rt::WindowDef>("PdfGuiTest", "VIEW", "Pdf Region");
    def->pos = {10, 10, 260, 200};
    def->Button("&Close").At(4, 4, 40, 14).Action(rt::StandardAction::Close);
    def->Region().At(4, 24, 250, 170);
    rt::RegisterWindowDef(def);
    ASSERT_TRUE(dir_.isValid());
    file_ = dir_.filePath("doc.pdf").toStdString();
    std::ofstream(file_, std::ios::binary)
        << PdfTestWriter::Simple({"needle on the first page", "second page"});
  }
  void TearDown() override {
    DesktopTest::TearDown();
    rt::SetPdfSurfaceFactory({});
  }

  std::pair<int, bool> PrintInto(const std::string& output);

  // Opens the test window on a thread of its own with a view control (Init's border, scroll
  // bar and toolbar arguments given) showing `file`, sets windowId_, runs `whileOpen` and
  // closes the window.
  void StartView(const std::string& file, int border, int scrollBars, int toolbar,
                 std::function<void(rt::PageletControl&)> whileOpen) {
    StartProgram([=, this] {
      rt::Start([=, this](const std::vector<std::string>&) {
        auto window = rt::Window::Prepare("PdfGuiTest", "VIEW");
        window->Open();
        rt::PageletControl control;
        control.mode = rt::PageletControl::kModeWindow;
        control.Init(*window, kRegion, border, scrollBars, toolbar, 1, "", "");
        control.LoadFile(file, 0);
        windowId_ = window->Id();
        whileOpen(control);
        control.Kill();
        window->Close();
      });
      rt::JoinAllThreads();
    });
  }
  // Pumps until the window's view shows and `ready` holds for it; null when it does not.
  QPointer<gui::QtPdfView> ViewWhen(const std::function<bool(gui::QtPdfView&)>& ready) {
    QPointer<gui::QtPdfView> view;
    const bool shown = PumpUntil([&] {
      QWidget* region = windowId_ ? backend_->RegionWidget(windowId_, kRegion) : nullptr;
      view = region ? region->findChild<gui::QtPdfView*>() : nullptr;
      return view && ready(*view);
    });
    return shown ? view : nullptr;
  }

  std::atomic<int> windowId_{0};

  QTemporaryDir dir_;
  std::string file_;
};

TEST_F(PdfViewTest, RegionShowsRenderedPagesAndSearchMarks) {
  std::atomic<bool> find{false};
  std::atomic<bool> release{false};
  std::atomic<int> matches{-1};
  StartView(file_, 1, 1, 0, [&](rt::PageletControl& control) {
    WaitFor(find);
    matches = control.FindText("needle", 1, 0, 1, 0);
    WaitFor(release);
  });
  // The region gets its final size after it is first shown: wait until the page rendered
  // for the full-width zoom has caught up with it.
  QPointer<gui::QtPdfView> view = ViewWhen([](gui::QtPdfView& v) {
    const int width = v.HasRenderedPage(0) ? v.RenderedPage(0).width() : 0;
    return width > v.viewport()->width() / 2 && width <= v.viewport()->width();
  });
  ASSERT_TRUE(view);
  EXPECT_EQ(view->parentWidget(), backend_->RegionWidget(windowId_, kRegion));
  EXPECT_TRUE(view->isVisible());
  EXPECT_EQ(view->PageCount(), 2);
  // Rendered at full-width zoom (waited for above) and with ink on it.
  EXPECT_TRUE(HasInk(view->RenderedPage(0)));
  EXPECT_EQ(view->MatchCount(), 0);

  find = true;
  EXPECT_TRUE(PumpUntil([&] { return view && view->MatchCount() == 1; }));
  EXPECT_EQ(matches.load(), 1);

  release = true;
  EXPECT_TRUE(FinishProgram());
  EXPECT_TRUE(PumpUntil([&] { return view.isNull(); }));
}

TEST_F(PdfViewTest, ShowFileOpensAViewerThatClosesWithItsControl) {
  std::atomic<bool> shown{false};
  std::atomic<bool> release{false};
  StartProgram([&] {
    rt::PageletControl windowless;
    shown = windowless.ShowFile(file_);
    WaitFor(release);
  });
  ASSERT_TRUE(PumpUntil([&] { return shown.load(); }));
  QPointer<gui::QtPdfViewer> viewer;
  ASSERT_TRUE(PumpUntil([&] {
    viewer = Visible<gui::QtPdfViewer>();
    return viewer && viewer->View()->HasRenderedPage(0);
  }));
  EXPECT_EQ(viewer->windowTitle().toStdString(), file_);
  EXPECT_TRUE(HasInk(viewer->View()->RenderedPage(0)));
  // Escape closes it too, while its control lives on.
  viewer->activateWindow();
  ASSERT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == viewer; }));
  QTest::keyClick(viewer.data(), Qt::Key_Escape);
  EXPECT_TRUE(PumpUntil([&] { return viewer.isNull(); }));
  release = true;
  EXPECT_TRUE(FinishProgram());
}

// A viewer over a long document, driven the way a control's thread drives it: the engine
// changes, then the view is told to follow it.
class PdfPagingTest : public PdfViewTest {
 protected:
  void SetUp() override {
    PdfViewTest::SetUp();
    const std::string file = dir_.filePath("long.pdf").toStdString();
    std::ofstream(file, std::ios::binary) << PdfTestWriter::Numbered(60, 30);
    engine_ = rt::PdfEngine::Create();
    ASSERT_TRUE(engine_->LoadFile(file).Ok());
    viewer_ = std::make_unique<gui::QtPdfViewer>(engine_, "long");
    viewer_->show();
    view_ = viewer_->View();
    ASSERT_TRUE(Drawn());
  }
  void TearDown() override {
    viewer_.reset();
    engine_.reset();
    PdfViewTest::TearDown();
  }
  // Pumps until the view shows the engine as the last change left it, every visible row of
  // the pages drawn sharp.
  bool Drawn() {
    return PumpUntil([this] {
      return view_->PageCount() > 0 && view_->Follows(changed_) && view_->UndrawnRows() == 0;
    });
  }
  void Engine(const std::function<void(rt::PdfEngine&)>& change) {
    change(*engine_);
    changed_ = engine_->Revision();
    view_->Refresh(false, true);
  }
  bool SeenWhole(int page) const {
    return view_->viewport()->rect().contains(view_->PageRect(page));
  }

  std::shared_ptr<rt::PdfEngine> engine_;
  std::unique_ptr<gui::QtPdfViewer> viewer_;
  gui::QtPdfView* view_ = nullptr;
  std::uint64_t changed_ = 0;  // the engine's revision after the last change
};

// 100% scrolled into a page, then Full Page and Two Pages: every row is drawn in the end and
// the fitted page (pair) is seen whole.
TEST_F(PdfPagingTest, FittingAfterHundredPercentDrawsEverythingAndShowsThePageWhole) {
  Engine([](rt::PdfEngine& e) { e.GoToPage(47); });
  Engine([](rt::PdfEngine& e) { e.Zoom(rt::PdfViewState::kZoom100); });
  ASSERT_TRUE(Drawn());
  ASSERT_EQ(view_->CurrentPage(), 47);
  // The user scrolls into the middle of the page.
  view_->verticalScrollBar()->setValue(view_->verticalScrollBar()->value() + 300);
  ASSERT_TRUE(Drawn());
  const int page = view_->CurrentPage();
  Engine([](rt::PdfEngine& e) { e.Zoom(rt::PdfViewState::kZoomFullPage); });
  EXPECT_TRUE(PumpUntil([&] { return view_->UndrawnRows() == 0 && SeenWhole(page); }));
  EXPECT_EQ(view_->CurrentPage(), page);

  Engine([](rt::PdfEngine& e) { e.Zoom(rt::PdfViewState::kZoomTwoPages); });
  const int first = page - page % 2;
  EXPECT_TRUE(PumpUntil(
      [&] { return view_->UndrawnRows() == 0 && SeenWhole(first) && SeenWhole(first + 1); }));
  // A refit from a resize of the window keeps the pair whole and drawn.
  viewer_->resize(viewer_->width() - 100, viewer_->height() - 150);
  EXPECT_TRUE(PumpUntil(
      [&] { return view_->UndrawnRows() == 0 && SeenWhole(first) && SeenWhole(first + 1); }));
}

// Page Down shows pages rendered ahead at once: the first paint after the key has every row
// drawn, and the renderer finds the page in its cache.
TEST_F(PdfPagingTest, PageDownShowsPagesRenderedAhead) {
  Engine([](rt::PdfEngine& e) { e.Zoom(rt::PdfViewState::kZoom100); });
  ASSERT_TRUE(Drawn());
  view_->setFocus();
  for (int step = 0; step < 3; ++step) {
    // The next screen's pages arrive in the background.
    const int below = 2 * view_->viewport()->height() - 1;  // the next screen's last row
    int next = view_->TopPage();
    while (next + 1 < view_->PageCount() && view_->PageRect(next + 1).top() < below)
      ++next;
    ASSERT_TRUE(PumpUntil([&] { return view_->HasRenderedPage(next); }))
        << "step " << step << ", page " << next << ", scrolled to "
        << view_->verticalScrollBar()->value() << ", shown frame current "
        << view_->Follows(changed_) << ", frames " << view_->Stats().frames << ", rendered ahead "
        << view_->AheadRendered();
    const int missing = view_->Stats().missingPages;
    QTest::keyClick(view_, Qt::Key_PageDown);
    EXPECT_EQ(view_->UndrawnRows(), 0);
    view_->viewport()->repaint();
    EXPECT_EQ(view_->Stats().missingPages, missing);
  }
  // Pages that came on screen were taken from those rendered ahead.
  EXPECT_TRUE(PumpUntil([&] { return view_->AheadHits() > 0; }));
  EXPECT_GE(view_->AheadRendered(), view_->AheadHits());

  // Paging on keeps the rendered pages to those around the screen and a few screens more.
  for (int step = 0; step < 12; ++step) {
    QTest::keyClick(view_, Qt::Key_PageDown);
    ASSERT_TRUE(Drawn());
  }
  PumpUntil([] { return false; }, 300);
  const int height = view_->viewport()->height();
  std::size_t around = 0;
  for (int page = 0; page < view_->PageCount(); ++page) {
    const QRect r = view_->PageRect(page);
    if (r.bottom() >= -gui::QtPdfRenderer::kAheadScreensUp * height &&
        r.top() <= (1 + gui::QtPdfRenderer::kAheadScreensDown) * height)
      around += static_cast<std::size_t>(r.width() + 2) * (r.height() + 2) * 4;
  }
  const auto spare = static_cast<std::size_t>(gui::QtPdfRenderer::kSpareScreens) *
                     view_->viewport()->width() * height * 4;
  EXPECT_GT(view_->CachedBytes(), 0u);
  EXPECT_LE(view_->CachedBytes(), around + spare);
}

// The engine moves the view (a control's Go To Page) and the user presses Page Down before
// the frame that follows the engine reaches the view: the later Page Down is not undone.
TEST_F(PdfPagingTest, AFrameFollowingTheEngineDoesNotUndoALaterScroll) {
  view_->setFocus();
  Engine([](rt::PdfEngine& e) { e.GoToPage(10); });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the frame waits in the queue
  QTest::keyClick(view_, Qt::Key_PageDown);
  const int scrolled = view_->verticalScrollBar()->value();
  ASSERT_TRUE(Drawn());
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(view_->verticalScrollBar()->value(), scrolled);
  EXPECT_EQ(view_->UndrawnRows(), 0);
}

// Matches the search finds after Find returned are shown as they come, and a scroll the user
// made meanwhile stays.
TEST_F(PdfPagingTest, BackgroundMatchesAppearWithoutUndoingAScroll) {
  testing_support::Gate gate;
  rt::PdfSearchJob::SetPageHook([&gate](int page) {
    if (page >= 20) gate.Wait();
  });
  Engine([](rt::PdfEngine& e) { e.FindText("fox", true, false, true, false); });
  ASSERT_TRUE(PumpUntil([&] { return view_->MatchCount() > 0 && view_->UndrawnRows() == 0; }));
  const int early = view_->MatchCount();
  gate.AwaitWaiting(1);
  view_->verticalScrollBar()->setValue(view_->verticalScrollBar()->value() + 2000);
  const int scrolled = view_->verticalScrollBar()->value();
  gate.Open();
  engine_->WaitForSearch();
  rt::PdfSearchJob::SetPageHook(nullptr);
  const int all = static_cast<int>(engine_->Matches().size());
  EXPECT_LT(early, all);
  EXPECT_TRUE(PumpUntil([&] { return view_->MatchCount() == all && view_->UndrawnRows() == 0; }));
  EXPECT_EQ(view_->verticalScrollBar()->value(), scrolled);
}

TEST_F(PdfViewTest, AFailedLoadShowsItsErrorInTheView) {
  std::atomic<bool> release{false};
  StartView(file_ + ".missing", 1, 1, 0, [&](rt::PageletControl&) { WaitFor(release); });
  QPointer<gui::QtPdfView> view =
      ViewWhen([](gui::QtPdfView& v) { return !v.ErrorText().isEmpty(); });
  ASSERT_TRUE(view);
  EXPECT_EQ(view->PageCount(), 0);
  EXPECT_TRUE(view->ErrorText().contains("missing"));
  release = true;
  EXPECT_TRUE(FinishProgram());
}

TEST_F(PdfViewTest, StyleArgumentsFrameTheViewAndTheToolbarZooms) {
  std::atomic<bool> release{false};
  StartView(file_, 0, 0, 1, [&](rt::PageletControl&) { WaitFor(release); });
  QPointer<gui::QtPdfView> view = ViewWhen([](gui::QtPdfView& v) { return v.HasRenderedPage(0); });
  ASSERT_TRUE(view);
  EXPECT_EQ(view->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  auto* bar = view->findChild<QToolBar*>("pdfToolbar");
  ASSERT_NE(bar, nullptr);
  PumpUntil([] { return false; }, 300);  // the first frames settle at full width
  const int width = view->RenderedPage(0).width();
  for (QAction* action : bar->actions())
    if (action->text() == "+") action->trigger();
  EXPECT_TRUE(PumpUntil([&] { return view && view->RenderedPage(0).width() > width; }));
  release = true;
  EXPECT_TRUE(FinishProgram());
}

TEST_F(PdfViewTest, PrintAnswersOnlyAfterTheDialogAndBlocksOnlyItsOwnWindow) {
  std::atomic<int> windowId{0};
  std::atomic<bool> printed{false};
  std::atomic<int> outcome{-1};
  StartProgram([&] {
    auto other = rt::Window::Prepare("PdfGuiTest", "VIEW");  // thread 1's own window
    other->Open();
    rt::Start([&](const std::vector<std::string>&) {
      auto window = rt::Window::Prepare("PdfGuiTest", "VIEW");
      window->Open();
      rt::PageletControl control;
      control.mode = rt::PageletControl::kModeWindow;
      control.Init(*window, kRegion, 1, 1, 0, 1, "", "");
      control.LoadFile(file_, 0);
      windowId = window->Id();
      printed = control.Print(1, 0, 1, 0, 0);
      outcome = static_cast<int>(control.LastPrint().outcome);
      control.Kill();
      window->Close();
    });
    rt::JoinAllThreads();
    other->Close();
  });
  QPrintDialog* dialog = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (dialog = Visible<QPrintDialog>()) != nullptr; }));
  EXPECT_EQ(dialog->windowModality(), Qt::NonModal);
  auto* printing = dynamic_cast<gui::QtWindow*>(backend_->WindowWidget(windowId));
  ASSERT_NE(printing, nullptr);
  EXPECT_FALSE(printing->TakesInput());
  // The other thread's window stays live, and the control has not answered yet.
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* other = qobject_cast<gui::QtWindow*>(w);
    if (other && other != printing) {
      EXPECT_TRUE(other->TakesInput());
    }
  }
  EXPECT_EQ(outcome.load(), -1);
  dialog->reject();
  ASSERT_TRUE(PumpUntil([&] { return outcome.load() != -1; }));
  EXPECT_EQ(outcome.load(), static_cast<int>(rt::PdfPrintOutcome::Cancelled));
  EXPECT_FALSE(printed.load());
  EXPECT_TRUE(FinishProgram());
}

// Prints the document through the dialog into `output`; the outcome, and whether `output`
// kept its contents.
std::pair<int, bool> PdfViewTest::PrintInto(const std::string& output) {
  std::atomic<int> outcome{-1};
  StartProgram([&] {
    auto window = rt::Window::Prepare("PdfGuiTest", "VIEW");
    window->Open();
    rt::PageletControl control;
    control.mode = rt::PageletControl::kModeWindow;
    control.Init(*window, kRegion, 1, 1, 0, 1, "", "");
    control.LoadFile(file_, 0);
    control.Print(1, 0, 1, 0, 0);
    outcome = static_cast<int>(control.LastPrint().outcome);
    control.Kill();
    window->Close();
  });
  QPrintDialog* dialog = nullptr;
  EXPECT_TRUE(PumpUntil([&] { return (dialog = Visible<QPrintDialog>()) != nullptr; }));
  if (!dialog) return {-1, false};
  EXPECT_EQ(dialog->printer()->docName(), "doc.pdf");
  auto contents = [&output] {
    std::ifstream in(output, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
  };
  const std::string before = contents();
  dialog->printer()->setOutputFileName(QString::fromStdString(output));
  dialog->done(QDialog::Accepted);
  EXPECT_TRUE(PumpUntil([&] { return outcome.load() != -1; }));
  EXPECT_TRUE(FinishProgram());
  return {outcome.load(), contents() == before};
}

// Printing to a file that is the document being printed, or a table the process has open,
// fails and leaves the file as it was; the dialog names the job after the file, not its
// whole path.
TEST_F(PdfViewTest, PrintToTheDocumentsOwnFileOrATableIsRefused) {
  const int failed = static_cast<int>(rt::PdfPrintOutcome::Failed);
  EXPECT_EQ(PrintInto(file_), std::make_pair(failed, true));
  const std::string table = dir_.filePath("TABLE.sqlite").toStdString();
  std::ofstream(table, std::ios::binary) << "table bytes";
  const std::uint64_t entry = rt::LockedFileRegistry::Add(table);
  EXPECT_EQ(PrintInto(table), std::make_pair(failed, true));
  rt::LockedFileRegistry::Remove(entry);
}

}  // namespace
