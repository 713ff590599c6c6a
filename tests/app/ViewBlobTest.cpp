// SPDX-License-Identifier: GPL-3.0-or-later
// The document viewer and its find dialog, run on a runtime thread whose DemoData record
// holds a stored document, driven through the robot on the headless backend.

#include "app/ViewBlob.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include "app/DemoData.h"
#include "app/DemoDataRelationManager.h"
#include "app/FindText.h"
#include "app/Globals.h"
#include "app/Startup.h"
#include "framework/error/ErrorHooks.h"
#include "framework/window/RequestCodes.h"
#include "pdf/PdfTestFiles.h"
#include "pdf/PdfTestWriter.h"
#include "platform/pdf/PdfEngine.h"
#include "platform/pdf/PdfSurfaceHeadless.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "support/Robot.h"
#include "support/SurfaceRecorder.h"
#include "support/WorkDir.h"

namespace {

using testing_support::Robot;

const std::string kTwoPages =
    pdftest::PdfTestWriter::Simple({"Alpha beta gamma beta", "Second page with Beta"});

class ViewBlobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("view-blob");
    ASSERT_TRUE(work_->Ok());
    rt::ClearHooks();
    backend_ = rt::InstallHeadlessBackend();
    surfaces_.emplace();
    RegisterApplicationHooks();
    robot_ = std::make_unique<Robot>(backend_);
  }
  void TearDown() override {
    for (int thread : rt::RunningThreads())
      rt::PostCloseDown(thread);
    if (program_.joinable()) program_.join();
    surfaces_.reset();
    rt::ClearHooks();
    work_.reset();
  }

  // Stores a record holding `bytes` and runs the viewer on it; returns the viewer's window.
  int Start(std::string bytes) {
    program_ = std::thread([this, bytes] {
      rt::RunProgram([this, bytes] {
        StartGlobalErrors();
        CreateDemoDataManagers();
        DemoDataRelationManager& relations = *DemoDataRelationManagerRef();
        static_cast<void>(relations.Open());
        SetDemoDataFileName("stored.pdf");
        static_cast<void>(DemoData().SetBlobContents(kDemoDataBlob, bytes));
        static_cast<void>(relations.Insert());
        storedId_ = DemoDataId();
        ViewBlob(DemoData(), kDemoDataBlob);
        response_ = GlobalResponse();
        idAfter_ = DemoDataId();
        while (hold_)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
      });
    });
    return robot_->WaitForWindow("Pagelet DEMO");
  }

  // The open viewer's document view.
  std::shared_ptr<rt::PdfEngine> Engine() { return surfaces_->Engine(); }
  rt::PdfSurfaceHeadless* Surface() { return surfaces_->Surface(); }
  // The last message box (or stop message) shown.
  rt::UiRequest LastRequest() {
    auto transcript = backend_->Transcript();
    return transcript.empty() ? rt::UiRequest{} : transcript.back();
  }
  // Closes the viewer and waits for the program to end.
  void Finish(int window) {
    hold_ = false;
    robot_->CloseWindow(window);
    EXPECT_TRUE(robot_->WaitClosed(window));
    if (program_.joinable()) program_.join();
  }
  // Chooses a menu item and waits until the viewer has handled it.
  void Choose(int window, int item) {
    ASSERT_TRUE(robot_->ChooseMenu(window, item));
    ASSERT_TRUE(robot_->WaitIdle());
  }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  std::unique_ptr<Robot> robot_;
  std::atomic<bool> hold_{false};  // program main waits after the viewer while set
  std::optional<testing_support::SurfaceRecorder> surfaces_;
  std::thread program_;
  std::atomic<int> storedId_{0};
  std::atomic<int> idAfter_{0};
  std::atomic<int> response_{0};
};

TEST_F(ViewBlobTest, InformationCommandsShowWhatTheControlReports) {
  const int window = Start(kTwoPages);
  ASSERT_NE(window, 0);
  const auto view = robot_->Window(window);
  EXPECT_EQ(view->module + "$" + view->name, "PageletDemo$PageletDemo001$P1$WINDOW");
  EXPECT_EQ(robot_->Text(window, kViewBlobClose), "&Close");
  const std::pair<int, const char*> items[] = {{-2, "&File"},
                                               {kViewBlobOpen, "&Open"},
                                               {kViewBlobPrint, "&Print"},
                                               {-8, "Zoom"},
                                               {kViewBlobZoomIn, "Zoom&In"},
                                               {kViewBlobTwoPages, "&Two Pages"},
                                               {-15, "&Disable"},
                                               {kViewBlobDisablePrint, "&Print"},
                                               {kViewBlobDcPrint, "&DC Print"},
                                               {kViewBlobExit, "&Exit"},
                                               {kViewBlobPageText, "Page Text"},
                                               {kViewBlobFindText, "&Find Text"},
                                               {kViewBlobProperties, "&Document Properties"},
                                               {kViewBlobAbout, "&About"}};
  for (const auto& [number, text] : items)
    EXPECT_EQ(robot_->Text(window, number), text) << number;
  ASSERT_TRUE(robot_->WaitIdle());
  auto engine = Engine();
  ASSERT_TRUE(engine);
  ASSERT_EQ(engine->PageCount(), 2);

  Choose(window, kViewBlobPageCount);
  EXPECT_EQ(LastRequest().text, "2");
  Choose(window, kViewBlobPageTextLength);
  EXPECT_EQ(LastRequest().text,
            "1st Page Text Length = " + std::to_string(engine->Text(1, 0).size()));
  Choose(window, kViewBlobPageText);
  EXPECT_EQ(LastRequest().caption, "1st page");
  EXPECT_EQ(LastRequest().text, "Alpha beta gamma beta");
  Choose(window, kViewBlobDocumentTextLength);
  EXPECT_EQ(LastRequest().text,
            "Document Text Length = " + std::to_string(engine->Text(0, 1).size()));
  Choose(window, kViewBlobDocumentText);
  EXPECT_EQ(LastRequest().kind, "stop");
  EXPECT_EQ(LastRequest().text, "text retrieved");
  Choose(window, kViewBlobProperties);
  EXPECT_EQ(LastRequest().caption, "Document Properties");
  EXPECT_NE(LastRequest().text.find("Pages: 2"), std::string::npos);
  Choose(window, kViewBlobAbout);
  EXPECT_EQ(LastRequest().caption, "About");
  Finish(window);
  // Closing hands the record back as it was.
  EXPECT_EQ(idAfter_.load(), storedId_.load());
  EXPECT_EQ(response_.load(), RequestCancelled);
}

TEST_F(ViewBlobTest, ViewPrintAndFileCommandsDriveTheControl) {
  const int window = Start(kTwoPages);
  ASSERT_NE(window, 0);
  ASSERT_TRUE(robot_->WaitIdle());
  auto engine = Engine();
  ASSERT_TRUE(engine);
  using Mode = rt::PdfViewState::Mode;
  Choose(window, kViewBlobZoom100);
  EXPECT_EQ(engine->View().ZoomFactor(), 1.0);
  Choose(window, kViewBlobZoomIn);
  EXPECT_GT(engine->View().ZoomFactor(), 1.0);
  Choose(window, kViewBlobZoomOut);
  EXPECT_EQ(engine->View().ZoomFactor(), 1.0);
  Choose(window, kViewBlobFullPage);
  EXPECT_EQ(engine->View().ZoomMode(), Mode::FullPage);
  Choose(window, kViewBlobTwoPages);
  EXPECT_EQ(engine->View().Columns(), 2);
  Choose(window, kViewBlobFullWidth);
  EXPECT_EQ(engine->View().ZoomMode(), Mode::FullWidth);

  const rt::PdfPrintOptions before = engine->PrintOptions();
  Choose(window, kViewBlobHighQuality);
  Choose(window, kViewBlobSelectPrinter);
  Choose(window, kViewBlobDcPrint);
  const rt::PdfPrintOptions after = engine->PrintOptions();
  EXPECT_NE(after.highQuality, before.highQuality);
  EXPECT_NE(after.selectPrinter, before.selectPrinter);
  EXPECT_NE(after.deviceContext, before.deviceContext);
  Choose(window, kViewBlobPrint);
  EXPECT_EQ(LastRequest().kind, "print");
  EXPECT_EQ(LastRequest().buttons, 1);        // first page
  EXPECT_EQ(LastRequest().defaultButton, 2);  // last page
  Choose(window, kViewBlobDisablePrint);
  Choose(window, kViewBlobPrint);
  EXPECT_EQ(LastRequest().kind, "message");
  EXPECT_NE(LastRequest().text.find("switched off"), std::string::npos);

  Choose(window, kViewBlobClear);
  EXPECT_EQ(engine->PageCount(), 0);
  robot_->AnswerFile(std::string(TEST_DATA_DIR) + "/one-page.pdf");
  Choose(window, kViewBlobOpen);
  EXPECT_EQ(engine->PageCount(), 1);
  robot_->AnswerFile(std::string(TEST_DATA_DIR) + "/two-pages.pdf");
  Choose(window, kViewBlobAppend);
  EXPECT_EQ(engine->PageCount(), 3);
  robot_->AnswerFile("no-such-file.pdf");
  Choose(window, kViewBlobOpen);
  EXPECT_EQ(LastRequest().kind, "message");
  EXPECT_NE(LastRequest().text.find("not found"), std::string::npos);

  Choose(window, kViewBlobExit);
  EXPECT_TRUE(robot_->WaitClosed(window));
  program_.join();
}

TEST_F(ViewBlobTest, EmptyOrBadStoredBytesOpenTheViewerWithoutACrash) {
  const std::string good = kTwoPages;
  const std::pair<std::string, bool> cases[] = {
      {"", false},  // no stored bytes: an empty view, no complaint
      {"just some text, no document", true},
      {good.substr(0, good.size() / 2), true},
      {pdftest::PdfTestWriter::Build({pdftest::TestPage{{"locked"}}},
                                     pdftest::PdfTestWriter::Encrypted()),
       true},
  };
  for (const auto& [bytes, complains] : cases) {
    const int window = Start(bytes);
    ASSERT_NE(window, 0);
    ASSERT_TRUE(robot_->WaitIdle());
    ASSERT_TRUE(Engine());
    EXPECT_EQ(Engine()->PageCount(), 0);
    EXPECT_EQ(Surface()->ErrorText().empty(), !complains) << Surface()->ErrorText();
    // The viewer still answers its menu.
    Choose(window, kViewBlobPageCount);
    EXPECT_EQ(LastRequest().text, "0");
    Finish(window);
  }
}

TEST_F(ViewBlobTest, ResizingTheWindowMovesTheControlAndRefitsTheView) {
  const int window = Start(kTwoPages);
  ASSERT_NE(window, 0);
  ASSERT_TRUE(robot_->WaitIdle());
  ASSERT_TRUE(robot_->ResizeWindow(window, 840, 600));
  ASSERT_TRUE(robot_->WaitIdle());
  EXPECT_EQ(robot_->Control(window, kViewBlobRegion)->pos, (rt::Rect{8, 8, 824, 540}));
  EXPECT_EQ(robot_->Control(window, kViewBlobClose)->pos, (rt::Rect{720, 560, 112, 28}));
  EXPECT_EQ(Surface()->Region(), (rt::Rect{8, 8, 824, 540}));
  EXPECT_EQ(Engine()->View().ViewportWidth(), rt::PdfSurfaceHeadless::PixelsX(824));
  // Back at the designed size, the designed layout returns.
  ASSERT_TRUE(robot_->ResizeWindow(window, 420, 300));
  ASSERT_TRUE(robot_->WaitIdle());
  EXPECT_EQ(robot_->Control(window, kViewBlobRegion)->pos, (rt::Rect{4, 4, 412, 270}));
  Finish(window);
}

TEST_F(ViewBlobTest, FindDialogSearchesTheViewerAndIsHarmlessOnceTheViewerHasClosed) {
  hold_ = true;
  const int window = Start(kTwoPages);
  ASSERT_NE(window, 0);
  ASSERT_TRUE(robot_->WaitIdle());
  auto engine = Engine();
  Choose(window, kViewBlobFindText);
  const int find = robot_->WaitForWindow("Find ");
  ASSERT_NE(find, 0);
  ASSERT_TRUE(robot_->WaitIdle());
  EXPECT_EQ(robot_->Control(find, kFindTextCaseInsensitive)->value, 1);
  EXPECT_EQ(robot_->Control(find, kFindTextDontGoToPage)->value, 0);
  EXPECT_EQ(robot_->Control(find, kFindTextHighlight)->value, 1);

  auto press = [&](int control) {
    ASSERT_TRUE(robot_->Press(find, control));
    ASSERT_TRUE(robot_->WaitIdle());
  };
  ASSERT_TRUE(robot_->Type(find, kFindTextEntry, "beta"));
  press(kFindTextFind);
  ASSERT_EQ(engine->Matches().size(), 3u);  // "beta" twice on page 1, "Beta" on page 2
  EXPECT_EQ(engine->CurrentMatch(), 0);
  press(kFindTextFindNext);
  press(kFindTextFindNext);
  EXPECT_EQ(engine->CurrentMatch(), 2);
  EXPECT_EQ(engine->View().CurrentPage(), 1);
  press(kFindTextFindNext);
  EXPECT_EQ(engine->CurrentMatch(), 0);  // wrapped
  EXPECT_EQ(engine->View().CurrentPage(), 0);

  // Options take effect at the next search, without leaving the dialog.
  ASSERT_TRUE(robot_->SetCheck(find, kFindTextCaseInsensitive, false));
  ASSERT_TRUE(robot_->SetCheck(find, kFindTextHighlight, false));
  press(kFindTextFind);
  EXPECT_EQ(engine->Matches().size(), 2u);
  EXPECT_FALSE(engine->Highlight());
  // A search that finds nothing says so; an empty one says nothing.
  auto messages = [&](const std::string& part) {
    int n = 0;
    for (const auto& r : backend_->Transcript())
      n += r.kind == "message" && r.text.find(part) != std::string::npos;
    return n;
  };
  ASSERT_TRUE(robot_->Type(find, kFindTextEntry, "nowhere"));
  press(kFindTextFind);
  EXPECT_EQ(messages("not found in the document:\nnowhere"), 1);
  ASSERT_TRUE(robot_->Type(find, kFindTextEntry, ""));
  press(kFindTextFind);
  EXPECT_EQ(engine->Matches().size(), 0u);
  EXPECT_EQ(messages("not found"), 1);

  // The viewer closes under the dialog: a search then says so, and the dialog still closes
  // normally.
  robot_->CloseWindow(window);
  ASSERT_TRUE(robot_->WaitClosed(window));
  // The viewer's control lets its engine go when the viewer has killed it, a moment after the
  // window is gone.
  const std::weak_ptr<rt::PdfEngine> shown = engine;
  engine.reset();
  ASSERT_TRUE(robot_->WaitUntil([&] { return shown.expired(); }));
  // (Program main now waits outside any event loop, so the robot cannot wait for idle: the
  // dialog handling Close after the two searches shows that it took them in its stride.)
  ASSERT_TRUE(robot_->Type(find, kFindTextEntry, "beta"));
  ASSERT_TRUE(robot_->Press(find, kFindTextFind));
  ASSERT_TRUE(robot_->Press(find, kFindTextFindNext));
  ASSERT_TRUE(robot_->Press(find, kFindTextClose));
  EXPECT_TRUE(robot_->WaitClosed(find));
  EXPECT_EQ(messages("has been closed"), 2);
  hold_ = false;
  program_.join();
}

}  // namespace
