// SPDX-License-Identifier: GPL-3.0-or-later
// Text and search on parallel document instances, the kept page texts, and the search that
// answers with its first match while the rest are collected in the background.

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "platform/pdf/PdfDocumentSet.h"
#include "platform/pdf/PdfEngine.h"
#include "platform/pdf/PdfPageText.h"
#include "platform/pdf/PdfParallelPages.h"
#include "platform/pdf/PdfSearchJob.h"
#include "platform/pdf/PdfTextLayout.h"
#include "platform/runtime/threads/Threads.h"
#include "support/Gate.h"
#include "tests/pdf/PdfTestFiles.h"
#include "tests/pdf/PdfTestWriter.h"

namespace {

using pdftest::Bytes;
using pdftest::PdfTestWriter;
using pdftest::SequentialMatches;
using pdftest::SequentialText;
using pdftest::TestPage;
using rt::PdfDocumentSet;
using rt::PdfEngine;
using rt::PdfMatch;
using rt::PdfSearchJob;

// Pages of varied text: every seventh page is blank, "needle" is on the pages listed (twice
// on the last of them), and words are split across lines with a hyphen.
std::string Document(int pageCount, const std::vector<int>& needlePages) {
  std::vector<TestPage> pages;
  for (int p = 0; p < pageCount; ++p) {
    TestPage page;
    if (p % 7 != 6) {
      page.lines = {"Page " + std::to_string(p + 1) + " of the test", "a hyphen-",
                    "ated word and more text"};
      for (int n : needlePages)
        if (n == p) page.lines.push_back("the Needle is here");
      if (!needlePages.empty() && p == needlePages.back()) page.lines.push_back("needle again");
    }
    pages.push_back(std::move(page));
  }
  return PdfTestWriter::Build(pages);
}

std::vector<std::string> ParallelTexts(PdfDocumentSet& set, int threads) {
  std::vector<int> pages;
  for (int page = 0; page < set.PageCount(); ++page)
    pages.push_back(page);
  std::vector<std::string> texts(pages.size());
  const std::atomic<bool> never{false};
  rt::PdfParallelPages(set.Sources())
      .Run(
          pages, threads,
          [&](rt::PdfTextLayout* document, int page, std::size_t slot) {
            texts[slot] = document ? document->Text(page) : std::string();
          },
          never);
  return texts;
}

std::vector<PdfMatch> JobMatches(PdfDocumentSet& set, const std::string& needle,
                                 bool caseInsensitive, int start, bool withKeptTexts) {
  PdfSearchJob::Params params;
  params.sources = set.Sources();
  params.pageCount = set.PageCount();
  params.startPage = start;
  params.needle = rt::PdfPageText::Needle(needle, caseInsensitive);
  params.caseInsensitive = caseInsensitive;
  if (withKeptTexts) params.texts = set.KeptTextsForSearch();
  PdfSearchJob job(std::move(params));
  job.Run();
  EXPECT_TRUE(job.Done());
  return job.Matches();
}

// Searches of long documents end on runtime threads: each test waits for them, so that none
// outlives the process's static objects.
class PdfParallelText : public ::testing::Test {
 protected:
  void TearDown() override { rt::JoinAllThreads(); }
};

TEST_F(PdfParallelText, ParallelAndKeptTextAndMatchesEqualTheSequentialPath) {
  const std::string first = Document(40, {2, 17, 33});
  const std::string second = Document(9, {0, 8});
  PdfDocumentSet reference;
  ASSERT_TRUE(reference.LoadBytes(Bytes(first), "first").Ok());
  ASSERT_TRUE(reference.AppendBytes(Bytes(second), "second").Ok());
  const std::string sequential = SequentialText(reference);
  ASSERT_NE(sequential.find("\f\f"), std::string::npos);  // blank pages are kept as such

  PdfDocumentSet set;
  ASSERT_TRUE(set.LoadBytes(Bytes(first), "first").Ok());
  ASSERT_TRUE(set.AppendBytes(Bytes(second), "second").Ok());
  // Three threads whatever this machine's cores, across both documents of the set.
  std::string joined;
  for (const std::string& text : ParallelTexts(set, 3))
    joined += text + '\f';
  joined.pop_back();
  EXPECT_EQ(joined, sequential);
  // The set's own path, then the same text again from what it kept.
  EXPECT_EQ(set.DocumentText(), sequential);
  EXPECT_EQ(set.TextCache().Pages(), 49u);
  EXPECT_EQ(set.DocumentTextLength(), sequential.size());
  for (int page = 0; page < 49; ++page)
    EXPECT_EQ(set.PageText(page), reference.PageText(page)) << page;

  // Searches in walk order from any page, with and without the kept texts ruling pages out.
  for (bool kept : {false, true}) {
    for (int start : {0, 20, 48}) {
      EXPECT_EQ(JobMatches(set, "needle", true, start, kept),
                SequentialMatches(reference, "needle", true, start))
          << start;
    }
    EXPECT_EQ(JobMatches(set, "Needle", false, 5, kept),
              SequentialMatches(reference, "Needle", false, 5));
    // A phrase across a hyphenated line break, as the page's layout has it.
    EXPECT_EQ(JobMatches(set, "hyphen- ated", true, 0, kept),
              SequentialMatches(reference, "hyphen- ated", true, 0));
    EXPECT_EQ(JobMatches(set, "hyphen- ated", true, 0, kept).size(), 43u);  // unblank pages
  }
  EXPECT_EQ(JobMatches(set, "needle", true, 0, true).size(), 7u);
}

TEST_F(PdfParallelText, KeptTextsStayWithinTheirCapAndGoWithTheDocument) {
  const std::string bytes = Document(40, {});
  PdfDocumentSet set;
  ASSERT_TRUE(set.LoadBytes(Bytes(bytes), "doc").Ok());
  const std::size_t whole = set.DocumentText().size();
  EXPECT_GT(set.TextCache().Bytes(), whole - 40);  // every page kept
  set.TextCache().SetCap(whole / 4);
  EXPECT_LE(set.TextCache().Bytes(), whole / 4);
  set.TextCache().Clear();
  const std::string text = set.DocumentText();
  EXPECT_LE(set.TextCache().Bytes(), whole / 4);
  EXPECT_GT(set.TextCache().Pages(), 0u);
  // The pages made last are kept, the first ones were dropped; a dropped page comes back
  // right, and the oldest kept page makes way for it.
  EXPECT_TRUE(set.TextCache().Find(39));
  EXPECT_FALSE(set.TextCache().Find(0));
  PdfDocumentSet reference;
  ASSERT_TRUE(reference.LoadBytes(Bytes(bytes), "doc").Ok());
  EXPECT_EQ(text, SequentialText(reference));
  EXPECT_EQ(set.PageText(0), reference.PageText(0));
  EXPECT_TRUE(set.TextCache().Find(0));
  EXPECT_LE(set.TextCache().Bytes(), whole / 4);
  // A page larger than the cap is not kept.
  set.TextCache().SetCap(4);
  EXPECT_EQ(set.PageText(1), reference.PageText(1));
  EXPECT_FALSE(set.TextCache().Find(1));
  EXPECT_LE(set.TextCache().Bytes(), 4u);
  // Loading another document, or clearing the set, drops what was kept.
  set.TextCache().SetCap(rt::PdfTextCache::kDefaultCapBytes);
  set.DocumentText();
  EXPECT_GT(set.TextCache().Bytes(), 0u);
  ASSERT_TRUE(set.LoadBytes(Bytes(Document(3, {})), "other").Ok());
  EXPECT_EQ(set.TextCache().Bytes(), 0u);
  set.DocumentText();
  set.Clear();
  EXPECT_EQ(set.TextCache().Pages(), 0u);
}

// The content stream of the page starting at `pageObject` (an offset) made into garbage.
void DamageContent(std::string& pdf, std::size_t pageObject) {
  const std::size_t start = pdf.find("stream\n", pageObject) + 7;
  const std::size_t end = pdf.find("endstream", start);
  for (std::size_t i = start; i < end; ++i)
    pdf[i] = i % 3 == 0 ? '(' : ']';
}

TEST_F(PdfParallelText, DamageMidWayGivesTheSameResultOnEveryPath) {
  std::string pdf = PdfTestWriter::Numbered(30, 3);
  std::size_t page15 = 0;
  for (int n = 0; n < 15; ++n)
    page15 = pdf.find("/Type /Page ", page15 + 1);
  DamageContent(pdf, page15);
  PdfDocumentSet reference;
  ASSERT_TRUE(reference.LoadBytes(Bytes(pdf), "damaged").Ok());
  const std::string sequential = SequentialText(reference);
  EXPECT_EQ(reference.PageText(14).find("Page 15 line"), std::string::npos);
  EXPECT_NE(reference.PageText(15).find("Page 16 line 3"), std::string::npos);
  // The damaged page has no text and no matches on every path; the pages after it are whole.
  auto engine = PdfEngine::Create();
  ASSERT_TRUE(engine->LoadBytes(Bytes(pdf), "damaged").Ok());
  EXPECT_EQ(engine->Text(0, 1), sequential);
  EXPECT_GE(engine->FindText("quick brown", true, false, true, true), 3);
  engine->WaitForSearch();
  const std::vector<PdfMatch> matches = engine->Matches();
  EXPECT_EQ(matches, SequentialMatches(reference, "quick brown", true));
  EXPECT_EQ(matches.size(), 29u * 3);
  // A run of bytes lost in the middle of the file (page objects and streams with it): the
  // library rebuilds the document around the loss, and every path agrees on what is left.
  std::string lost = PdfTestWriter::Numbered(30, 3);
  std::fill_n(lost.begin() + static_cast<std::ptrdiff_t>(lost.size() / 2), 1500, '\0');
  PdfDocumentSet lostReference;
  ASSERT_TRUE(lostReference.LoadBytes(Bytes(lost), "lost").Ok());
  ASSERT_TRUE(engine->LoadBytes(Bytes(lost), "lost").Ok());
  EXPECT_EQ(engine->Text(0, 1), SequentialText(lostReference));
  engine->FindText("quick", true, false, true, true);
  engine->WaitForSearch();
  EXPECT_EQ(engine->Matches(), SequentialMatches(lostReference, "quick", true));
  EXPECT_LT(engine->Matches().size(), 30u * 3);
  rt::JoinAllThreads();  // the background searches' threads end with the test
}

TEST_F(PdfParallelText, CroppedPagesGiveTheSameTextAndMatchesOnEveryPath) {
  // Every page has "needle" near its top and "hidden" near its bottom; a crop box keeps only
  // the top 200 points of the odd pages.
  std::vector<TestPage> pages(20);
  for (std::size_t p = 0; p < pages.size(); ++p) {
    pages[p].lines = {"the needle at the top"};
    pages[p].lines.resize(40, "filler line");
    pages[p].lines.back() = "the hidden line";
    if (p % 2 == 1) pages[p].cropHeight = 200;
  }
  const std::string pdf = PdfTestWriter::Build(pages);
  PdfDocumentSet reference;
  ASSERT_TRUE(reference.LoadBytes(Bytes(pdf), "cropped").Ok());
  EXPECT_NE(reference.PageText(0).find("hidden"), std::string::npos);
  EXPECT_EQ(reference.PageText(1).find("hidden"), std::string::npos);
  EXPECT_NE(reference.PageText(1).find("needle"), std::string::npos);
  // With every text kept, the kept texts rule pages out of the searches.
  PdfDocumentSet set;
  ASSERT_TRUE(set.LoadBytes(Bytes(pdf), "cropped").Ok());
  EXPECT_EQ(set.DocumentText(), SequentialText(reference));
  for (const char* needle : {"needle", "hidden"}) {
    const std::vector<PdfMatch> matches = JobMatches(set, needle, true, 3, true);
    EXPECT_EQ(matches, SequentialMatches(reference, needle, true, 3)) << needle;
    EXPECT_EQ(matches.size(), std::string(needle) == "needle" ? 20u : 10u) << needle;
    for (const PdfMatch& match : matches)
      EXPECT_LE(match.box.Bottom(), match.page % 2 == 1 ? 200 : 792) << needle << match.page;
  }
}

// Holds the background search at every page from `from` on until opened; removed at the end.
class HeldSearch {
 public:
  explicit HeldSearch(int from) {
    PdfSearchJob::SetPageHook([this, from](int page) {
      if (page >= from) gate_.Wait();
    });
  }
  // The searches it held end before the gate and the hook go.
  ~HeldSearch() {
    gate_.Open();
    rt::JoinAllThreads();
    PdfSearchJob::SetPageHook(nullptr);
  }
  void Open() { gate_.Open(); }
  // Waits until the search is held at a page.
  void AwaitHeld() { gate_.AwaitWaiting(1); }

 private:
  testing_support::Gate gate_;
};

std::shared_ptr<PdfEngine> Loaded(const std::string& bytes) {
  auto engine = PdfEngine::Create();
  engine->SetViewport(600, 400);
  EXPECT_TRUE(engine->LoadBytes(Bytes(bytes)).Ok());
  return engine;
}

// Background searches run on runtime threads: each test waits for them to end, so that none
// outlives the test and the process-wide objects it uses.
class PdfSearchInBackground : public ::testing::Test {
 protected:
  void TearDown() override { rt::JoinAllThreads(); }
};

TEST_F(PdfSearchInBackground, FirstMatchComesBeforeTheRestAndFindNextCrossesTheBoundary) {
  const std::string bytes = Document(60, {1, 5, 30, 50});
  PdfDocumentSet reference;
  ASSERT_TRUE(reference.LoadBytes(Bytes(bytes), "doc").Ok());
  auto engine = Loaded(bytes);
  {
    HeldSearch held(20);
    // Find answers with the first match; the pages from 20 on are not searched yet.
    EXPECT_GE(engine->FindText("needle", true, false, true, false), 1);
    EXPECT_TRUE(engine->Searching());
    EXPECT_EQ(engine->CurrentMatch(), 0);
    EXPECT_EQ(engine->View().CurrentPage(), 1);
    held.AwaitHeld();
    EXPECT_EQ(engine->FindText("needle", true, true, true, false), 2);
    EXPECT_EQ(engine->CurrentMatch(), 1);
    EXPECT_EQ(engine->View().CurrentPage(), 5);
    // Find Next past the known matches waits for the next one only (the held search goes on
    // once opened), while other calls go on meanwhile.
    int found = -1;
    std::thread next([&] { found = engine->FindText("needle", true, true, true, false); });
    EXPECT_EQ(engine->PageCount(), 60);
    held.Open();
    next.join();
    EXPECT_GE(found, 3);
    EXPECT_EQ(engine->CurrentMatch(), 2);
    EXPECT_EQ(engine->View().CurrentPage(), 30);
  }
  engine->WaitForSearch();
  EXPECT_FALSE(engine->Searching());
  EXPECT_EQ(engine->Matches(), SequentialMatches(reference, "needle", true));
  std::vector<int> order;
  for (int step = 0; step < 3; ++step) {
    EXPECT_EQ(engine->FindText("needle", true, true, true, false), 5);
    order.push_back(engine->CurrentMatch());
  }
  EXPECT_EQ(order, (std::vector<int>{3, 4, 0}));  // wrapped after the last match

  // From the page shown on: the walk starts there and wraps to the first page.
  engine->GoToPage(40);
  EXPECT_GE(engine->FindText("needle", true, false, true, false), 1);
  EXPECT_EQ(engine->View().CurrentPage(), 50);
  engine->WaitForSearch();
  EXPECT_EQ(engine->Matches(), SequentialMatches(reference, "needle", true, 40));
}

TEST_F(PdfSearchInBackground, CancelAndTheEnginesEndStopAHeldSearch) {
  const std::string bytes = Document(60, {45});
  auto engine = Loaded(bytes);
  {
    // A match only past the held pages: Find waits, until cancelled from another thread.
    HeldSearch held(20);
    int found = -1;
    std::thread find([&] { found = engine->FindText("needle", true, false, true, false); });
    held.AwaitHeld();
    EXPECT_TRUE(engine->Searching());
    EXPECT_EQ(engine->PageCount(), 60);  // the engine answers while Find waits
    engine->CancelSearch();
    find.join();
    EXPECT_EQ(found, 0);
    EXPECT_TRUE(engine->Matches().empty());
    EXPECT_EQ(engine->CurrentMatch(), -1);
  }
  {
    // An engine dropped while its background search is held: the search ends on its own.
    HeldSearch held(30);
    auto other = Loaded(Document(60, {1, 45}));
    EXPECT_EQ(other->FindText("needle", true, false, true, false), 1);
    other.reset();
  }
  EXPECT_EQ(engine->FindText("needle", true, false, true, false), 2);
  EXPECT_EQ(engine->View().CurrentPage(), 45);
}

}  // namespace
