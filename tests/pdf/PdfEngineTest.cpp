// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfEngine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "platform/pdf/PdfEngineInstance.h"
#include "platform/pdf/PdfEngineLock.h"
#include "platform/pdf/PdfEngineRegistry.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "tests/pdf/PdfTestFiles.h"
#include "tests/pdf/PdfTestWriter.h"

namespace {

using pdftest::Bytes;
using pdftest::PdfTestWriter;
using pdftest::TestPage;
using rt::PdfEngine;
using rt::PdfMatch;
using ::testing::HasSubstr;

// Three documents' worth of pages with "needle" in known places, in mixed case.
class PdfEngineSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    engine = PdfEngine::Create();
    engine->SetViewport(600, 400);
    ASSERT_TRUE(engine
                    ->LoadBytes(Bytes(PdfTestWriter::Build(
                        {TestPage{{"a Needle and a needle"}}, TestPage{{"hay"}}})))
                    .Ok());
    ASSERT_TRUE(engine
                    ->AppendBytes(Bytes(PdfTestWriter::Build(
                        {TestPage{{"hay", "more hay", "NEEDLE at line three"}}})))
                    .Ok());
  }
  std::vector<int> Pages() const {
    std::vector<int> pages;
    for (const PdfMatch& match : engine->Matches())
      pages.push_back(match.page);
    return pages;
  }
  std::shared_ptr<PdfEngine> engine;
};

TEST_F(PdfEngineSearch, FindsAcrossAllDocumentsWithBoxesInPagePoints) {
  EXPECT_EQ(engine->FindText("needle", true, false, true, false), 3);
  EXPECT_EQ(Pages(), (std::vector<int>{0, 0, 2}));
  EXPECT_EQ(engine->CurrentMatch(), 0);
  const auto matches = engine->Matches();
  // Boxes run left to right on the first line (72 pt from the left, 72 pt below the top).
  EXPECT_GT(matches[0].box.x, 72);
  EXPECT_GT(matches[1].box.x, matches[0].box.Right());
  EXPECT_NEAR(matches[0].box.Bottom(), 72, 6);
  EXPECT_NEAR(matches[2].box.Bottom(), 72 + 2 * 14, 6);  // third line
  EXPECT_GT(matches[0].box.width, 0);
}

TEST(PdfEngineSearchText, PhrasesMatchAcrossWordsAndLinesAndEveryMatchIsFound) {
  auto engine = PdfEngine::Create();
  ASSERT_TRUE(engine
                  ->LoadBytes(Bytes(PdfTestWriter::Build(
                      {TestPage{{"the quick brown", "fox and the the lazy dog"}}})))
                  .Ok());
  // A phrase spans the words' gap and the line break; "the the" holds two matches of "the".
  EXPECT_EQ(engine->FindText("brown fox", true, false, true, false), 1);
  const PdfMatch phrase = engine->Matches()[0];
  EXPECT_GT(phrase.box.height, 14);  // two lines high
  EXPECT_EQ(engine->FindText("THE", true, false, true, false), 3);
  EXPECT_EQ(engine->FindText("THE", true, false, false, false), 0);
  EXPECT_EQ(engine->FindText("  lazy   dog  ", true, false, true, false), 1);
  const auto matches = engine->Matches();
  EXPECT_GT(matches[0].box.width, 30);
  EXPECT_LT(matches[0].box.width, 120);
}

TEST_F(PdfEngineSearch, CaseSensitiveSearchMatchesExactly) {
  EXPECT_EQ(engine->FindText("needle", true, false, false, false), 1);
  EXPECT_EQ(engine->FindText("NEEDLE", true, false, false, false), 1);
  EXPECT_EQ(Pages(), std::vector<int>{2});
  EXPECT_EQ(engine->FindText("haystack", true, false, true, false), 0);
  EXPECT_EQ(engine->CurrentMatch(), -1);
}

TEST_F(PdfEngineSearch, FindNextContinuesAndWrapsAround) {
  engine->FindText("needle", true, false, true, false);
  std::vector<int> order;
  for (int i = 0; i < 4; ++i) {
    engine->FindText("needle", true, true, true, false);
    order.push_back(engine->CurrentMatch());
  }
  EXPECT_EQ(order, (std::vector<int>{1, 2, 0, 1}));
  EXPECT_EQ(engine->View().CurrentPage(), 0);
  // A different text (or case rule) starts over even with find-next.
  engine->FindText("hay", true, true, true, false);
  EXPECT_EQ(engine->CurrentMatch(), 0);
  EXPECT_EQ(Pages(), (std::vector<int>{1, 2, 2}));
}

TEST_F(PdfEngineSearch, GoesToTheMatchPageUnlessAskedNotTo) {
  engine->FindText("NEEDLE", true, false, false, true);
  EXPECT_EQ(engine->View().CurrentPage(), 0);
  engine->FindText("NEEDLE", false, false, false, false);
  EXPECT_EQ(engine->View().CurrentPage(), 2);
  EXPECT_FALSE(engine->Highlight());
}

TEST_F(PdfEngineSearch, PaddedTextIsTrimmedAndBlankTextFindsNothing) {
  std::string padded = "needle";
  padded.resize(128, ' ');  // the find dialog's fixed-width field
  EXPECT_EQ(engine->FindText(padded, true, false, true, false), 3);
  EXPECT_EQ(engine->FindText(std::string(128, ' '), true, false, true, false), 0);
  EXPECT_TRUE(engine->Matches().empty());
  EXPECT_EQ(engine->FindText("", true, true, true, false), 0);
}

TEST_F(PdfEngineSearch, ChangingTheDocumentsForgetsTheMatches) {
  engine->FindText("needle", true, false, true, false);
  ASSERT_TRUE(engine->AppendBytes(Bytes(PdfTestWriter::Simple({"needle"}))).Ok());
  EXPECT_TRUE(engine->Matches().empty());
  EXPECT_EQ(engine->FindText("needle", true, true, true, false), 4);
  engine->Clear();
  EXPECT_EQ(engine->FindText("needle", true, false, true, false), 0);
}

TEST(PdfEngineErrors, FailedLoadEmptiesTheViewAndSetsTheThreadError) {
  pdftest::TempDir dir;
  auto engine = PdfEngine::Create();
  ASSERT_TRUE(engine->LoadBytes(Bytes(PdfTestWriter::Simple({"x"}))).Ok());
  rt::PdfError error = engine->LoadFile(dir.File("nowhere.pdf"));
  EXPECT_EQ(error.code, rt::kNoFileError);
  EXPECT_EQ(rt::ErrorCode(), rt::kNoFileError);
  EXPECT_EQ(engine->LastError().text, error.text);
  EXPECT_EQ(engine->PageCount(), 0);
  EXPECT_EQ(engine->View().PageCount(), 0);
  // A failed append keeps the shown document; a good load leaves no earlier failure behind.
  ASSERT_TRUE(engine->LoadBytes(Bytes(PdfTestWriter::Simple({"x"}))).Ok());
  EXPECT_EQ(rt::ErrorCode(), rt::kNoError);
  EXPECT_FALSE(engine->AppendBytes(Bytes("garbage")).Ok());
  EXPECT_EQ(engine->PageCount(), 1);
  EXPECT_EQ(engine->View().PageCount(), 1);
}

TEST(PdfEngineErrors, LibraryDiagnosticsDoNotReachStderr) {
  auto engine = PdfEngine::Create();
  const long before = rt::PdfEngineLock::SilencedMessages();
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(engine->LoadBytes(Bytes("%PDF-1.4\n1 0 obj << /Type /Catalog\n%%EOF\n")).Ok());
  EXPECT_FALSE(
      engine->LoadBytes(Bytes(PdfTestWriter::Build({TestPage{{"x"}}}, PdfTestWriter::Encrypted())))
          .Ok());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_GT(rt::PdfEngineLock::SilencedMessages(), before);
}

TEST(PdfEnginePrint, OptionsToggleAndShapeTheJob) {
  auto engine = PdfEngine::Create();
  rt::PdfPrintJob job;
  EXPECT_EQ(engine->MakePrintJob(0, -1, job).code, rt::kNoRecordError);  // nothing loaded
  ASSERT_TRUE(engine->LoadBytes(Bytes(PdfTestWriter::Simple({"1", "2", "3"})), "doc").Ok());

  ASSERT_TRUE(engine->MakePrintJob(0, -1, job).Ok());
  EXPECT_EQ(job.documents, std::vector<std::string>{"doc"});
  EXPECT_EQ(job.PageCount(), 3);
  EXPECT_EQ(job.options.RenderDpi(600), rt::PdfPrintOptions::kDraftDpi);
  EXPECT_TRUE(job.options.selectPrinter);

  EXPECT_TRUE(engine->SetPrintOption(rt::PdfPrintOptions::kHighQuality));
  EXPECT_TRUE(engine->SetPrintOption(rt::PdfPrintOptions::kSelectPrinter));
  ASSERT_TRUE(engine->MakePrintJob(1, 2, job).Ok());
  EXPECT_EQ(job.firstPage, 1);
  EXPECT_EQ(job.options.RenderDpi(600), rt::PdfPrintOptions::kHighQualityDpi);
  EXPECT_FALSE(job.options.selectPrinter);
  EXPECT_TRUE(engine->SetPrintOption(rt::PdfPrintOptions::kDeviceContext));
  EXPECT_EQ(engine->PrintOptions().RenderDpi(600), 600);

  for (auto [first, last] : {std::pair{-1, 2}, {2, 1}, {0, 3}}) {
    EXPECT_EQ(engine->MakePrintJob(first, last, job).code, rt::kBadNameError);
    EXPECT_EQ(job.PageCount(), 0);
  }
  EXPECT_FALSE(engine->SetPrintOption(122));
  EXPECT_TRUE(engine->SetPrintOption(rt::PdfPrintOptions::kDisablePrint));
  EXPECT_THAT(engine->MakePrintJob(0, -1, job).text, HasSubstr("switched off"));
  EXPECT_TRUE(engine->SetPrintOption(rt::PdfPrintOptions::kDisablePrint));  // back on
  EXPECT_TRUE(engine->MakePrintJob(0, -1, job).Ok());
}

// The about box names the view, the program's license and each library linked with its own.
TEST(PdfEngineAbout, NamesTheViewItsLicenseAndTheLibraries) {
  const std::string text = PdfEngine::AboutText();
  for (const char* part :
       {"Pagelet PDF view", "GPL-3.0-or-later", "Qt 6: LGPL-3.0", "Poppler: GPL-2.0-or-later",
        "SQLite: public domain", "PostgreSQL License"})
    EXPECT_THAT(text, HasSubstr(part));
}

TEST(PdfEngineHandle, LookupsFailOnceTheOwnerLetsGo) {
  auto engine = PdfEngine::Create();
  const int id = engine->Id();
  std::weak_ptr<PdfEngine> handle = engine->Handle();
  EXPECT_GT(id, 0);
  EXPECT_EQ(rt::PdfEngineRegistry::Find(id), engine);
  EXPECT_EQ(rt::PdfEngineRegistry::Find(" " + std::to_string(id) + " "), engine);
  for (const char* bad : {"", "abc", "12abc", "-1", "0", "99999999999999999999"}) {
    EXPECT_EQ(rt::PdfEngineRegistry::Find(bad), nullptr) << bad;
  }
  auto other = PdfEngine::Create();
  EXPECT_NE(other->Id(), id);
  engine.reset();
  EXPECT_EQ(rt::PdfEngineRegistry::Find(id), nullptr);
  EXPECT_TRUE(handle.expired());
  EXPECT_EQ(rt::PdfEngineRegistry::Find(other->Id()), other);
}

// A find dialog's thread searches while the window's thread renders, zooms and reloads the
// same engine, and a third thread renders another engine. Run under the thread sanitizer this
// shows the engine's own serialisation; here it must finish with consistent answers.
TEST(PdfEngineThreads, ConcurrentCallsAreSerialised) {
  const std::string pdf = PdfTestWriter::Numbered(6, 10);
  auto engine = PdfEngine::Create();
  auto other = PdfEngine::Create();
  ASSERT_TRUE(engine->LoadBytes(Bytes(pdf)).Ok());
  ASSERT_TRUE(other->LoadBytes(Bytes(pdf)).Ok());
  engine->SetViewport(500, 500);
  const int id = engine->Id();

  std::atomic<int> badAnswers{0};
  std::thread finder([&] {
    for (int i = 0; i < 30; ++i) {
      auto e = rt::PdfEngineRegistry::Find(id);
      if (!e) break;
      const int found = e->FindText("line 10 ", true, i % 2 == 1, true, false);
      if (found != 0 && found != 6) ++badAnswers;
    }
  });
  std::thread renderer([&] {
    rt::PdfImage image;
    for (int i = 0; i < 10; ++i) {
      if (!other->RenderPage(i % 6, 0.5, image).Ok() || image.Empty()) ++badAnswers;
    }
  });
  rt::PdfImage image;
  for (int i = 0; i < 10; ++i) {
    engine->Zoom(i % 2 ? rt::PdfViewState::kZoomIn : rt::PdfViewState::kZoomFullPage);
    engine->RenderViewPage(i % 6, image);
    if (i == 5) engine->LoadBytes(Bytes(pdf));
    const std::size_t length = engine->TextLength(0, 1);
    if (length != engine->Text(0, 1).size()) ++badAnswers;
  }
  finder.join();
  renderer.join();
  // The finder's searches ran the rest of the document on runtime threads: join them too.
  rt::JoinAllThreads();
  EXPECT_EQ(badAnswers.load(), 0);
}

// A renderer's own instance of the documents draws what the engine draws, on another
// thread while the engine is busy, across appended documents; a change of the documents
// shows in their version.
TEST(PdfEngineThreads, AnInstanceOfItsOwnRendersAsTheEngineDoes) {
  auto engine = PdfEngine::Create();
  ASSERT_TRUE(engine->LoadBytes(Bytes(PdfTestWriter::Numbered(3, 10))).Ok());
  const std::uint64_t loaded = engine->DocumentsVersion();
  ASSERT_TRUE(engine->AppendBytes(Bytes(PdfTestWriter::Simple({"appended page"}))).Ok());
  std::uint64_t version = 0;
  rt::PdfEngineInstance instance(engine->Sources(version));
  EXPECT_GT(version, loaded);
  EXPECT_EQ(version, engine->DocumentsVersion());
  ASSERT_EQ(instance.PageCount(), 4);

  std::vector<rt::PdfImage> own(4);
  std::atomic<int> failures{0};
  std::thread renderer([&] {
    for (int page = 0; page < 4; ++page)
      if (!instance.RenderPage(page, 0.75, own[page]).Ok()) ++failures;
  });
  rt::PdfImage image;
  for (int i = 0; i < 8; ++i) {
    engine->Zoom(i % 2 ? rt::PdfViewState::kZoomIn : rt::PdfViewState::kZoomFullPage);
    if (!engine->RenderViewPage(i % 4, image).Ok()) ++failures;
  }
  renderer.join();
  EXPECT_EQ(failures.load(), 0);
  for (int page = 0; page < 4; ++page) {
    ASSERT_TRUE(engine->RenderPage(page, 0.75, image).Ok());
    EXPECT_EQ(own[page].width, image.width);
    EXPECT_EQ(own[page].height, image.height);
    EXPECT_TRUE(own[page].bytes == image.bytes) << "page " << page;
  }
  EXPECT_FALSE(instance.RenderPage(4, 0.75, image).Ok());
  EXPECT_FALSE(instance.RenderPage(0, 0, image).Ok());
  engine->Clear();
  EXPECT_GT(engine->DocumentsVersion(), version);
}

TEST(PdfEngineThreads, LateCallAfterTheOwnerIsGoneIsANoOp) {
  auto engine = PdfEngine::Create();
  ASSERT_TRUE(engine->LoadBytes(Bytes(PdfTestWriter::Simple({"needle"}))).Ok());
  const std::string argument = std::to_string(engine->Id());
  engine.reset();  // the window closed
  int found = -1;
  std::thread late([&] {
    auto e = rt::PdfEngineRegistry::Find(argument);
    found = e ? e->FindText("needle", true, false, true, false) : 0;
  });
  late.join();
  EXPECT_EQ(found, 0);
}

}  // namespace
