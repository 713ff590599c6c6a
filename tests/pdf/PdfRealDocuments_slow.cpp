// SPDX-License-Identifier: GPL-3.0-or-later
// The parallel, kept-text and drawing paths on long documents: the manuals Debian's valgrind
// and gnucobol3 packages install (scripts/install-deps; skipped where missing) and a generated
// document of 2,000 pages.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>

#include "platform/pdf/PdfDocumentSet.h"
#include "platform/pdf/PdfEngine.h"
#include "platform/runtime/threads/Threads.h"
#include "tests/pdf/PdfTestFiles.h"
#include "tests/pdf/PdfTestWriter.h"

namespace {

using pdftest::SequentialMatches;
using pdftest::SequentialText;

class PdfRealDocuments : public ::testing::TestWithParam<const char*> {
 protected:
  // The background search's runtime thread ends before the next test (and the process).
  void TearDown() override { rt::JoinAllThreads(); }
};

TEST_P(PdfRealDocuments, ParallelTextAndSearchEqualTheSequentialPath) {
  const std::string packed = GetParam();
  if (!std::filesystem::exists(packed)) GTEST_SKIP() << packed << " is not installed";
  pdftest::TempDir dir;
  const std::string pdf = dir.File("manual.pdf");
  ASSERT_EQ(std::system(("gzip -dc '" + packed + "' > '" + pdf + "'").c_str()), 0);
  rt::PdfDocumentSet reference;
  ASSERT_TRUE(reference.LoadFile(pdf).Ok());
  auto engine = rt::PdfEngine::Create();
  ASSERT_TRUE(engine->LoadFile(pdf).Ok());
  EXPECT_EQ(engine->Text(0, 1), SequentialText(reference));
  engine->GoToPage(reference.PageCount() / 2);
  EXPECT_GT(engine->FindText("the", true, false, true, true), 0);
  engine->WaitForSearch();
  EXPECT_EQ(engine->Matches(),
            SequentialMatches(reference, "the", true, reference.PageCount() / 2));

  // The first pages drawn as the library's own renderer draws them.
  const std::vector<char> bytes = *reference.Sources().front().bytes;
  for (int page = 0; page < 3; ++page) {
    rt::PdfImage expected;
    rt::PdfImage image;
    ASSERT_TRUE(pdftest::LibraryRendering(bytes, page, 150 / 72.0, expected).Ok());
    ASSERT_TRUE(engine->RenderPage(page, 150 / 72.0, image).Ok());
    EXPECT_EQ(image.width, expected.width);
    EXPECT_EQ(image.height, expected.height);
    EXPECT_TRUE(image.bytes == expected.bytes) << "page " << page + 1;
  }
  // Every page at 150 dpi, every tenth at other resolutions (A4 pages in the GnuCOBOL
  // manual: heights in pixels not whole).
  std::vector<int> pages(static_cast<std::size_t>(reference.PageCount()));
  std::iota(pages.begin(), pages.end(), 0);
  EXPECT_EQ(pdftest::RenderingDifferences(bytes, pages, {150}), std::vector<std::string>{});
  std::vector<int> tenth;
  for (int page = 0; page < reference.PageCount(); page += 10)
    tenth.push_back(page);
  EXPECT_EQ(pdftest::RenderingDifferences(bytes, tenth, {72, 96, 113}), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Manuals, PdfRealDocuments,
                         ::testing::Values("/usr/share/doc/valgrind/valgrind_manual.pdf.gz",
                                           "/usr/share/doc/gnucobol3/gnucobol.pdf.gz"));

TEST(PdfLongDocument, KeptTextsNeverPassTheirCap) {
  rt::PdfDocumentSet set;
  ASSERT_TRUE(
      set.LoadBytes(pdftest::Bytes(pdftest::PdfTestWriter::Numbered(2000, 20)), "long").Ok());
  constexpr std::size_t kCap = 256 * 1024;
  set.TextCache().SetCap(kCap);
  const std::size_t length = set.DocumentTextLength();
  EXPECT_GT(length, 4 * kCap);
  EXPECT_LE(set.TextCache().Bytes(), kCap);
  for (int page = 0; page < set.PageCount(); page += 7) {
    EXPECT_FALSE(set.PageText(page).empty());
    ASSERT_LE(set.TextCache().Bytes(), kCap) << page;
  }
  EXPECT_EQ(set.DocumentText().size(), length);
  EXPECT_LE(set.TextCache().Bytes(), kCap);
}

}  // namespace
