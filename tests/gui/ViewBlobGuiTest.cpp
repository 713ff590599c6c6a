// SPDX-License-Identifier: GPL-3.0-or-later
// The document viewer on the desktop: a dialog over the window that runs it, its control
// following the window's size, and the find dialog's highlight on the page of the match.

#include <QLabel>
#include <QPointer>
#include <QScrollBar>
#include <atomic>
#include <optional>

#include "app/DemoData.h"
#include "app/DemoDataRelationManager.h"
#include "app/FindText.h"
#include "app/Startup.h"
#include "app/ViewBlob.h"
#include "framework/error/ErrorHooks.h"
#include "gui/qt/QtPdfSurface.h"
#include "gui/qt/QtPdfView.h"
#include "platform/pdf/PageletControl.h"
#include "platform/runtime/windows/Window.h"
#include "support/WorkDir.h"
#include "tests/gui/DesktopTest.h"
#include "tests/pdf/PdfTestWriter.h"

namespace {

class ViewBlobGuiTest : public gui_test::DesktopTest {
 protected:
  void SetUp() override {
    work_.emplace("view-blob-gui");
    ASSERT_TRUE(work_->Ok());
    DesktopTest::SetUp();
    gui::InstallPdfSurfaces();
    RegisterApplicationHooks();
    auto caller = std::make_shared<rt::WindowDef>("ViewBlobGuiTest", "CALLER", "Caller");
    caller->pos = {10, 10, 200, 100};
    caller->Button("&Close").At(4, 4, 40, 14).Action(rt::StandardAction::Close);
    rt::RegisterWindowDef(caller);
  }
  void TearDown() override {
    DesktopTest::TearDown();
    rt::SetPdfSurfaceFactory({});
    rt::ClearHooks();
    work_.reset();
  }

  // Runs the viewer over a caller window on thread 1, on a stored record of `pages`.
  void StartViewer(const std::vector<std::string>& pages) {
    const std::string bytes = pdftest::PdfTestWriter::Simple(pages);
    StartProgram([this, bytes] {
      StartGlobalErrors();
      CreateDemoDataManagers();
      static_cast<void>(DemoDataRelationManagerRef()->Open());
      SetDemoDataFileName("stored.pdf");
      static_cast<void>(DemoData().SetBlobContents(kDemoDataBlob, bytes));
      static_cast<void>(DemoDataRelationManagerRef()->Insert());
      auto caller = rt::Window::Prepare("ViewBlobGuiTest", "CALLER");
      caller->Open();
      callerId_ = caller->Id();
      ViewBlob(DemoData(), kDemoDataBlob);
      caller->Close();
    });
  }

  gui::QtPdfView* ViewIn(gui::QtWindow* window) {
    return window ? window->findChild<gui::QtPdfView*>() : nullptr;
  }

  // Sends a menu choice or a button press to a window's thread, as its widgets would.
  static void Accept(gui::QtWindow* window, int control) {
    window->Send(rt::event::kAccepted, control);
  }

  std::optional<testing_support::WorkDir> work_;
  std::atomic<int> callerId_{0};
};

TEST_F(ViewBlobGuiTest, ViewerIsADialogOverItsCallerAndItsControlFollowsTheWindowSize) {
  StartViewer({"first page", "second page"});
  gui::QtWindow* viewer = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (viewer = FindWindow("Pagelet DEMO")) != nullptr; }));
  gui::QtWindow* caller = FindWindow("Caller");
  ASSERT_NE(caller, nullptr);
  EXPECT_TRUE(viewer->isWindow());
  EXPECT_EQ(viewer->parentWidget() ? viewer->parentWidget()->window() : nullptr, caller);
  EXPECT_FALSE(caller->Client()->isEnabled());  // modal on its thread
  QPointer<gui::QtPdfView> view;
  ASSERT_TRUE(PumpUntil([&] {
    view = ViewIn(viewer);
    return view && view->HasRenderedPage(0);
  }));
  EXPECT_EQ(view->PageCount(), 2);

  QWidget* region = backend_->RegionWidget(viewer->Id(), kViewBlobRegion);
  ASSERT_NE(region, nullptr);
  const QRect before = region->geometry();
  viewer->resize(viewer->width() * 3 / 2, viewer->height() * 3 / 2);
  ASSERT_TRUE(PumpUntil([&] { return region->width() > before.width() * 4 / 3; }));
  EXPECT_GT(region->height(), before.height() * 4 / 3);
  // The page view fills the moved region and is rendered for its new width.
  EXPECT_TRUE(PumpUntil(
      [&] { return view && view->HasRenderedPage(0) && view->width() == region->width(); }));

  Accept(viewer, kViewBlobExit);
  EXPECT_TRUE(FinishProgram());
}

TEST_F(ViewBlobGuiTest, FindDialogHighlightsTheMatchOnItsPage) {
  StartViewer({"nothing here", "still nothing", "the needle is on page three"});
  gui::QtWindow* viewer = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (viewer = FindWindow("Pagelet DEMO")) != nullptr; }));
  QPointer<gui::QtPdfView> view;
  ASSERT_TRUE(PumpUntil([&] {
    view = ViewIn(viewer);
    return view && view->HasRenderedPage(0);
  }));
  Accept(viewer, kViewBlobFindText);
  gui::QtWindow* find = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (find = FindWindow("Find ")) != nullptr; }));
  rt::EventMessage typed;
  typed.event = rt::event::kAccepted;
  typed.control = kFindTextEntry;
  typed.screenText = "needle";
  find->Send(typed);
  Accept(find, kFindTextFind);
  ASSERT_TRUE(PumpUntil([&] { return view && view->MatchCount() == 1; }));
  EXPECT_EQ(view->CurrentMatchPage(), 2);
  EXPECT_TRUE(PumpUntil([&] { return view->TopPage() == 2 && view->HasRenderedPage(2); }));

  Accept(find, kFindTextClose);
  EXPECT_TRUE(PumpUntil([&] { return FindWindow("Find ") == nullptr; }));
  Accept(viewer, kViewBlobExit);
  EXPECT_TRUE(FinishProgram());
}

}  // namespace
