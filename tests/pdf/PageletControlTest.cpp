// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PageletControl.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/pdf/PdfEngine.h"
#include "platform/pdf/PdfSurfaceHeadless.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Window.h"
#include "support/Watchdog.h"
#include "tests/pdf/PdfTestFiles.h"
#include "tests/pdf/PdfTestWriter.h"
#include "tests/store/StoreTestTable.h"

namespace {

using pdftest::PdfTestWriter;
using pdftest::TestPage;
using rt::PageletControl;
using rt::PdfSurfaceHeadless;
using ::testing::HasSubstr;

constexpr int kRegion = 2;
const rt::Rect kRegionPos{10, 20, 200, 120};

std::string DataFile(const std::string& name) {
  return std::string(TEST_DATA_DIR) + "/" + name;
}

class PageletControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    rt::ClearHooks();
    rt::SetPdfSurfaceFactory({});
    backend_ = rt::InstallHeadlessBackend();
    auto def = std::make_shared<rt::WindowDef>("PdfTest", "VIEW", "Pdf View");
    def->Button("&Close").At(4, 4, 40, 14);
    def->Region().At(kRegionPos.x, kRegionPos.y, kRegionPos.width, kRegionPos.height);
    rt::RegisterWindowDef(def);
    twoPages_ = dir_.Write("two.pdf", PdfTestWriter::Simple({"alpha needle first", "beta"}));
    onePage_ = dir_.Write("one.pdf", PdfTestWriter::Build({TestPage{{"gamma", "a NEEDLE"}}}));
  }

  // Runs `body` on a started runtime thread, with the window open and a control initialised
  // on its region the way the application's windows do it.
  void OnWindow(const std::function<void(rt::Window&, PageletControl&)>& body) {
    rt::RunProgram([&] {
      rt::Start([&](const std::vector<std::string>&) {
        auto window = rt::Window::Prepare("PdfTest", "VIEW");
        ASSERT_TRUE(window);
        window->Open();
        PageletControl control;
        control.mode = PageletControl::kModeWindow;
        ASSERT_TRUE(control.Init(*window, kRegion, 1, 1, 0, 1, "", ""));
        body(*window, control);
        control.Kill();
        window->Close();
      });
      rt::JoinAllThreads();
    });
  }

  static PdfSurfaceHeadless& Surface(PageletControl& control) {
    return dynamic_cast<PdfSurfaceHeadless&>(*control.Surface());
  }

  std::vector<rt::UiRequest> Requests(const std::string& kind) const {
    std::vector<rt::UiRequest> found;
    for (const auto& r : backend_->Transcript())
      if (r.kind == kind) found.push_back(r);
    return found;
  }

  std::shared_ptr<rt::HeadlessBackend> backend_;
  pdftest::TempDir dir_;
  std::string twoPages_;
  std::string onePage_;
};

TEST_F(PageletControlTest, ConstructionSetsTheFixedFields) {
  PageletControl control;
  EXPECT_EQ(control.sourceTable, nullptr);
  EXPECT_EQ(control.reportErrors, 0);
  EXPECT_STREQ(control.engineLibrary, "PageletDemo02.dll");
  EXPECT_EQ(control.allowZoom + control.allowPrint + control.allowSearch + control.allowText +
                control.allowAppend,
            5);
  EXPECT_EQ(control.mode, 3);
  EXPECT_EQ(control.appendOnLoad, 0);
}

TEST_F(PageletControlTest, InitPlacesTheViewAndLoadsBuildOnePageSequence) {
  OnWindow([&](rt::Window& window, PageletControl& control) {
    PdfSurfaceHeadless& surface = Surface(control);
    EXPECT_TRUE(surface.Attached());
    EXPECT_EQ(surface.WindowId(), window.Id());
    EXPECT_EQ(surface.Control(), kRegion);
    EXPECT_EQ(surface.Region(), kRegionPos);
    EXPECT_EQ(control.Engine()->View().ViewportWidth(), PdfSurfaceHeadless::PixelsX(200));

    // Fixed-width callers pad names with blanks.
    EXPECT_TRUE(control.LoadFile(twoPages_ + "   ", 0));
    EXPECT_EQ(control.PageCount(), 2);
    EXPECT_TRUE(control.AppendFile(onePage_, 1));
    EXPECT_EQ(control.PageCount(), 3);
    EXPECT_EQ(surface.LastRevision(), control.Engine()->Revision());

    // An empty name asks for the file; a cancelled dialog changes nothing.
    const int refreshes = surface.DocumentRefreshCount();
    backend_->PushFile("");
    EXPECT_FALSE(control.LoadFile("", 1));
    EXPECT_EQ(control.PageCount(), 3);
    EXPECT_EQ(surface.DocumentRefreshCount(), refreshes);
    backend_->PushFile(onePage_);
    EXPECT_TRUE(control.LoadFile("", 1));
    EXPECT_EQ(control.PageCount(), 1);
    auto dialogs = Requests("file");
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[1].answer, 1);

    control.Clear();
    EXPECT_EQ(control.PageCount(), 0);
  });
}

TEST_F(PageletControlTest, TextSelectorsOfTheViewerCommands) {
  OnWindow([&](rt::Window&, PageletControl& control) {
    ASSERT_TRUE(control.LoadFile(twoPages_, 0));
    // (2, 0): the first page's length; (1, 0): its text, in a buffer of exactly that size.
    const std::int32_t pageLength = control.TextLength(2, 0);
    ASSERT_GT(pageLength, 0);
    EXPECT_EQ(control.TextLength(1, 0), pageLength);
    std::vector<char> page(pageLength + 4, '#');
    EXPECT_EQ(control.GetText(pageLength, page.data(), 1, 0), pageLength);
    EXPECT_THAT(std::string(page.data(), pageLength), HasSubstr("alpha needle first"));
    EXPECT_EQ(page[pageLength], '#');  // nothing written past the length given

    // (0, 1): the whole document, pages separated by a form feed.
    const std::int32_t docLength = control.TextLength(0, 1);
    EXPECT_GT(docLength, pageLength);
    std::string doc(docLength, '\0');
    EXPECT_EQ(control.GetText(docLength, doc.data(), 0, 1), docLength);
    EXPECT_THAT(doc, HasSubstr("first"));
    EXPECT_THAT(doc, HasSubstr("\fbeta"));

    EXPECT_EQ(control.GetText(0, page.data(), 1, 0), 0);
    EXPECT_EQ(control.GetText(-5, page.data(), 1, 0), 0);
    EXPECT_EQ(control.GetText(10, nullptr, 1, 0), 0);
    control.allowText = 0;
    EXPECT_EQ(control.TextLength(0, 1), 0);
  });
}

TEST_F(PageletControlTest, FindNextWrapsAndDontGoToPageKeepsThePage) {
  OnWindow([&](rt::Window&, PageletControl& control) {
    ASSERT_TRUE(control.LoadFile(twoPages_, 0));
    ASSERT_TRUE(control.AppendFile(onePage_, 0));
    auto engine = control.Engine();
    // The find dialog passes a 128-character, blank-padded field.
    std::string text = "needle";
    text.resize(128, ' ');
    EXPECT_EQ(control.FindText(text, 1, 0, 1, 0), 2);
    EXPECT_EQ(engine->CurrentMatch(), 0);
    EXPECT_EQ(control.FindText(text, 1, 1, 1, 0), 2);
    EXPECT_EQ(engine->CurrentMatch(), 1);
    EXPECT_EQ(engine->View().CurrentPage(), 2);
    EXPECT_EQ(control.FindText(text, 1, 1, 1, 0), 2);
    EXPECT_EQ(engine->CurrentMatch(), 0);  // wrapped to the first match
    EXPECT_EQ(Surface(control).LastRevision(), engine->Revision());

    // Case-sensitive finds only the lower-case one; "don't go to page" stays on page 3.
    engine->GoToPage(2);
    EXPECT_EQ(control.FindText("needle", 0, 0, 0, 1), 1);
    EXPECT_EQ(engine->View().CurrentPage(), 2);
    EXPECT_FALSE(engine->Highlight());
    // A blank text finds nothing.
    EXPECT_EQ(control.FindText(std::string(128, ' '), 1, 0, 1, 0), 0);
  });
}

TEST_F(PageletControlTest, ZoomCommandsAndRefitAfterTheRegionGrows) {
  OnWindow([&](rt::Window& window, PageletControl& control) {
    ASSERT_TRUE(control.LoadFile(onePage_, 0));
    auto engine = control.Engine();
    // Init with fit 1 starts in full width.
    EXPECT_EQ(engine->View().ZoomMode(), rt::PdfViewState::Mode::FullWidth);
    const double narrow = engine->View().ZoomFactor();
    window.SetPosition(kRegion, {10, 20, 400, 240});
    control.FitToControl(kRegion);
    EXPECT_EQ(Surface(control).Region().width, 400);
    EXPECT_EQ(engine->View().ViewportWidth(), PdfSurfaceHeadless::PixelsX(400));
    EXPECT_GT(engine->View().ZoomFactor(), narrow * 1.5);

    EXPECT_TRUE(control.Zoom(41));
    EXPECT_DOUBLE_EQ(engine->View().ZoomFactor(), 1.0);
    EXPECT_TRUE(control.Zoom(42));
    EXPECT_GT(engine->View().ZoomFactor(), 1.0);
    EXPECT_TRUE(control.Zoom(44));
    EXPECT_DOUBLE_EQ(engine->View().ZoomFactor(), 1.0);
    EXPECT_TRUE(control.Zoom(47));
    EXPECT_EQ(engine->View().Columns(), 2);
    EXPECT_FALSE(control.Zoom(43));
    control.allowZoom = 0;
    EXPECT_FALSE(control.Zoom(41));
    EXPECT_EQ(engine->View().Columns(), 2);
  });
}

TEST_F(PageletControlTest, PrintGoesToTheTranscriptUnlessSwitchedOff) {
  OnWindow([&](rt::Window&, PageletControl& control) {
    // Nothing loaded: refused and reported.
    EXPECT_FALSE(control.Print(1, 0, 1, 1, 0));
    ASSERT_EQ(Requests("message").size(), 1u);
    EXPECT_TRUE(Requests("print").empty());

    ASSERT_TRUE(control.LoadFile(twoPages_, 0));
    ASSERT_TRUE(control.AppendFile(onePage_, 0));
    EXPECT_TRUE(control.SetPrintOption(124));  // high quality
    EXPECT_TRUE(control.Print(1, 0, 1, 1, 0));
    auto prints = Requests("print");
    ASSERT_EQ(prints.size(), 1u);
    EXPECT_EQ(prints[0].text, twoPages_ + "; " + onePage_);
    EXPECT_EQ(prints[0].buttons, 1);        // first page
    EXPECT_EQ(prints[0].defaultButton, 3);  // last page
    EXPECT_THAT(prints[0].caption, HasSubstr("dpi=300"));

    EXPECT_TRUE(control.SetPrintOption(123));
    EXPECT_FALSE(control.Print(1, 0, 1, 1, 0));
    EXPECT_EQ(Requests("print").size(), 1u);
    auto messages = Requests("message");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_THAT(messages[1].text, HasSubstr("switched off"));
    // PrintFile follows the control's options too.
    EXPECT_FALSE(control.PrintFile(onePage_));
    EXPECT_EQ(Requests("print").size(), 1u);
    EXPECT_TRUE(control.SetPrintOption(123));
    EXPECT_TRUE(control.Print(2, 2, 1, 1, 0));
    prints = Requests("print");
    ASSERT_EQ(prints.size(), 2u);
    EXPECT_EQ(prints[1].buttons, 2);
    EXPECT_EQ(prints[1].defaultButton, 2);
    EXPECT_FALSE(control.Print(5, 0, 1, 1, 0));  // out of range
    EXPECT_FALSE(control.SetPrintOption(122));
  });
}

TEST_F(PageletControlTest, BadFilesShowAnEmptyViewWithTheirError) {
  const std::string missing = dir_.File("missing.pdf");
  OnWindow([&](rt::Window&, PageletControl& control) {
    for (const std::string& file : {missing, DataFile("not-a-pdf.pdf"), DataFile("truncated.pdf"),
                                    DataFile("encrypted.pdf"), DataFile("empty.pdf")}) {
      SCOPED_TRACE(file);
      ASSERT_TRUE(control.LoadFile(onePage_, 0));
      EXPECT_FALSE(control.LoadFile(file, 0));
      EXPECT_EQ(control.PageCount(), 0);
      EXPECT_EQ(control.TextLength(0, 1), 0);
      EXPECT_NE(rt::ErrorCode(), 0);
      EXPECT_FALSE(Surface(control).ErrorText().empty());
    }
    // Moving through a list loads quietly: no message boxes.
    EXPECT_TRUE(Requests("message").empty());
    // A failed append keeps what is shown, and still tells why it failed.
    ASSERT_TRUE(control.LoadFile(onePage_, 0));
    EXPECT_TRUE(Surface(control).ErrorText().empty());
    EXPECT_FALSE(control.AppendFile(missing, 0));
    EXPECT_EQ(control.PageCount(), 1);
    EXPECT_FALSE(Surface(control).ErrorText().empty());
    // A file the user picked here, or a control that reports, says what went wrong.
    backend_->PushFile(DataFile("not-a-pdf.pdf"));
    EXPECT_FALSE(control.LoadFile("", 1));
    control.reportErrors = 1;
    EXPECT_FALSE(control.LoadFile(missing, 0));
    auto messages = Requests("message");
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_FALSE(messages[0].text.empty());
    EXPECT_FALSE(messages[1].text.empty());
    EXPECT_EQ(control.PageCount(), 0);
  });
}

TEST_F(PageletControlTest, LoadBlobShowsTheStoredBytesOfTheCurrentRecord) {
  const testing_support::TempDir temp("pagelet-table");
  ASSERT_TRUE(temp.Ok());
  const std::string tableDir = temp.Path().string();
  const std::string stored = PdfTestWriter::Simple({"stored page one", "stored page two"});
  OnWindow([&](rt::Window&, PageletControl& control) {
    auto table = storetest::MakeTable(tableDir + "/TESTDATA");
    ASSERT_EQ(table->Create(), 0);
    ASSERT_EQ(table->Open(rt::kOpenReadWriteDenyNone), 0);
    auto add = [&](int id, const std::string& bytes) {
      table->ClearRecord();
      rt::WriteInteger(table->Layout().Field(1), table->Record(), id);
      if (!bytes.empty()) {
        ASSERT_EQ(table->SetBlobContents(1, bytes), 0);
      }
      ASSERT_EQ(table->Add(), 0);
    };
    add(1, stored);
    add(2, "");
    add(3, "not a document at all");
    ASSERT_EQ(table->Set(*table->PrimaryKey()), 0);

    ASSERT_EQ(table->Next(), 0);
    control.sourceTable = nullptr;
    EXPECT_TRUE(control.LoadBlob(*table, 1));
    EXPECT_EQ(control.sourceTable, table.get());
    EXPECT_EQ(control.PageCount(), 2);
    EXPECT_EQ(control.Engine()->DocumentNames(), std::vector<std::string>{"TST:Data"});

    // No stored bytes: an empty view, and no error.
    ASSERT_EQ(table->Next(), 0);
    EXPECT_TRUE(control.LoadBlob(*table, 1));
    EXPECT_EQ(control.PageCount(), 0);
    EXPECT_TRUE(Surface(control).ErrorText().empty());

    ASSERT_EQ(table->Next(), 0);
    EXPECT_FALSE(control.LoadBlob(*table, 1));
    EXPECT_EQ(control.PageCount(), 0);
    EXPECT_FALSE(Surface(control).ErrorText().empty());
    // A BLOB the table does not have.
    EXPECT_FALSE(control.LoadBlob(*table, 7));
    EXPECT_NE(rt::ErrorCode(), 0);
    static_cast<void>(table->Close());
  });
}

TEST_F(PageletControlTest, InitStyleArgumentsReachTheSurface) {
  OnWindow([&](rt::Window& window, PageletControl& control) {
    EXPECT_TRUE(Surface(control).Border() && Surface(control).ScrollBars());
    EXPECT_FALSE(Surface(control).Toolbar());
    ASSERT_TRUE(control.Init(window, kRegion, 0, 0, 1, 1, "", ""));
    EXPECT_FALSE(Surface(control).Border() || Surface(control).ScrollBars());
    EXPECT_TRUE(Surface(control).Toolbar());
  });
}

TEST_F(PageletControlTest, KillEndsASearchRunningThroughTheLink) {
  const std::string big = dir_.Write("big.pdf", PdfTestWriter::Numbered(400, 40));
  OnWindow([&](rt::Window&, PageletControl& control) {
    ASSERT_TRUE(control.LoadFile(big, 0));
    std::atomic<int> found{-1};
    std::thread finder(
        [&, link = control.GetLink()] { found = link->FindText("the", 1, 0, 1, 0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto start = std::chrono::steady_clock::now();
    control.Kill();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    finder.join();
    // Cancelled before its first match, or returned with the matches known then.
    EXPECT_TRUE(found >= 0 && found <= 400 * 40 * 2) << found;
  });
}

TEST_F(PageletControlTest, KillGetsInBetweenSearchesRepeatedThroughTheLink) {
  const std::string big = dir_.Write("big.pdf", PdfTestWriter::Numbered(100, 40));
  OnWindow([&](rt::Window&, PageletControl& control) {
    ASSERT_TRUE(control.LoadFile(big, 0));
    testing_support::Watchdog watchdog("KillGetsInBetweenSearchesRepeatedThroughTheLink");
    std::atomic<int> searches{0};
    // A find dialog that searches again as soon as a search ends, until the control is gone.
    std::thread finder([&, link = control.GetLink()] {
      while (link->Alive()) {
        link->FindText("the", 1, 0, 1, 0);
        ++searches;
      }
    });
    while (searches < 2)
      std::this_thread::yield();
    control.Kill();
    finder.join();
    EXPECT_FALSE(control.GetLink()->Alive());
    EXPECT_EQ(control.GetLink()->FindText("the", 1, 0, 1, 0), 0);
  });
}

TEST_F(PageletControlTest, LinkFromAnotherThreadAndAfterKill) {
  std::shared_ptr<PageletControl::Link> kept;
  std::string argument;
  OnWindow([&](rt::Window&, PageletControl& control) {
    ASSERT_TRUE(control.LoadFile(twoPages_, 0));
    argument = control.Argument();
    int found = -1;
    // The find dialog's thread holds only the argument's text.
    std::thread finder([&] {
      auto link = PageletControl::FromArgument(argument);
      if (link) found = link->FindText("needle", 1, 0, 1, 0);
    });
    finder.join();
    EXPECT_EQ(found, 1);
    kept = PageletControl::FromArgument(argument);
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->Alive());
    control.Kill();
    EXPECT_FALSE(kept->Alive());
    EXPECT_EQ(kept->FindText("needle", 1, 0, 1, 0), 0);
    control.Kill();  // a second release does nothing
  });
  // The control is gone: the kept link answers 0, the text finds nothing.
  EXPECT_EQ(kept->FindText("needle", 1, 0, 1, 0), 0);
  EXPECT_EQ(kept->PageCount(), 0);
  EXPECT_EQ(PageletControl::FromArgument(argument), nullptr);
  for (const char* bad : {"", "abc", "-1", "0", "1x", " 1", "99999999999"}) {
    EXPECT_EQ(PageletControl::FromArgument(bad), nullptr) << bad;
  }
}

TEST_F(PageletControlTest, EveryOperationIsHarmlessBeforeInitAndAfterKill) {
  auto check = [&](PageletControl& control) {
    EXPECT_FALSE(control.LoadFile(onePage_, 0));
    EXPECT_FALSE(control.LoadFile("", 1));  // does not even ask
    EXPECT_FALSE(control.AppendFile(onePage_, 0));
    control.Clear();
    control.About();
    control.ShowProperties();
    EXPECT_FALSE(control.Zoom(41));
    EXPECT_FALSE(control.SetPrintOption(123));
    control.FitToControl(kRegion);
    EXPECT_EQ(control.FindText("a", 1, 0, 1, 0), 0);
    EXPECT_FALSE(control.Print(1, 0, 1, 1, 0));
    EXPECT_EQ(control.PageCount(), 0);
    EXPECT_EQ(control.TextLength(0, 1), 0);
    char buffer[8] = {};
    EXPECT_EQ(control.GetText(8, buffer, 0, 1), 0);
  };
  PageletControl fresh;
  check(fresh);
  EXPECT_TRUE(backend_->Transcript().empty());
  OnWindow([&](rt::Window&, PageletControl& control) {
    control.Kill();
    check(control);
    EXPECT_FALSE(control.ShowFile(onePage_));
    EXPECT_FALSE(control.PrintFile(onePage_));
    EXPECT_EQ(control.Surface(), nullptr);
  });
  EXPECT_TRUE(backend_->Transcript().empty());
}

TEST_F(PageletControlTest, WindowlessControlShowsAndPrintsFiles) {
  // The browse's second control is never initialised.
  PageletControl windowless;
  windowless.reportErrors = 0;
  EXPECT_TRUE(windowless.ShowFile(twoPages_ + "  "));
  EXPECT_TRUE(windowless.ShowFile(onePage_, 41, "Quick"));
  auto& surface = dynamic_cast<PdfSurfaceHeadless&>(*windowless.Surface());
  const auto shown = surface.ShownFiles();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, twoPages_);
  EXPECT_EQ(shown[0].pageCount, 2);
  EXPECT_EQ(shown[1].caption, "Quick");
  EXPECT_FALSE(surface.Attached());
  EXPECT_EQ(windowless.PageCount(), 0);  // its own view stays empty

  EXPECT_TRUE(windowless.PrintFile(twoPages_));
  auto prints = Requests("print");
  ASSERT_EQ(prints.size(), 1u);
  EXPECT_EQ(prints[0].text, twoPages_);
  EXPECT_EQ(prints[0].defaultButton, 2);

  // A missing file (or no name at all: an empty row) is reported, nothing is shown.
  EXPECT_FALSE(windowless.ShowFile(dir_.File("gone.pdf")));
  EXPECT_FALSE(windowless.PrintFile(""));
  EXPECT_EQ(Requests("message").size(), 2u);
  EXPECT_EQ(surface.ShownFiles().size(), 2u);
  EXPECT_EQ(Requests("print").size(), 1u);
}

}  // namespace
