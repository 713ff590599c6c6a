// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfDocumentSet.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/runtime/threads/ErrorCodes.h"
#include "tests/pdf/PdfTestFiles.h"
#include "tests/pdf/PdfTestWriter.h"

namespace {

using pdftest::Bytes;
using pdftest::PdfTestWriter;
using pdftest::TempDir;
using pdftest::TestOptions;
using pdftest::TestPage;
using rt::PdfDocumentSet;
using ::testing::HasSubstr;

std::string TwoPages() {
  return PdfTestWriter::Simple({"First page text", "Second page text"});
}

TEST(PdfDocumentSetLoad, FromFileAndFromBytesGiveTheSamePagesAndText) {
  TempDir dir;
  const std::string pdf = TwoPages();
  PdfDocumentSet fromFile;
  ASSERT_TRUE(fromFile.LoadFile(dir.Write("two.pdf", pdf)).Ok());
  PdfDocumentSet fromBytes;
  ASSERT_TRUE(fromBytes.LoadBytes(Bytes(pdf), "blob").Ok());

  for (PdfDocumentSet* set : {&fromFile, &fromBytes}) {
    EXPECT_EQ(set->PageCount(), 2);
    EXPECT_EQ(set->PageText(0), "First page text\n");
    EXPECT_EQ(set->PageText(1), "Second page text\n");
    EXPECT_EQ(set->PageSize(0), (rt::PdfSize{612, 792}));
  }
  EXPECT_EQ(fromBytes.DocumentNames(), std::vector<std::string>{"blob"});
}

TEST(PdfDocumentSetLoad, KeepsItsOwnCopyOfTheFile) {
  TempDir dir;
  const std::string name = dir.Write("doc.pdf", PdfTestWriter::Simple({"Kept text"}));
  PdfDocumentSet set;
  ASSERT_TRUE(set.LoadFile(name).Ok());
  std::filesystem::remove(name);
  EXPECT_EQ(set.PageText(0), "Kept text\n");
}

TEST(PdfDocumentSetLoad, AppendPutsPagesAfterTheCurrentOnesAndLoadReplaces) {
  TempDir dir;
  PdfDocumentSet set;
  ASSERT_TRUE(set.LoadBytes(Bytes(TwoPages()), "a").Ok());
  ASSERT_TRUE(set.AppendFile(dir.Write("b.pdf", PdfTestWriter::Simple({"Third"}))).Ok());
  ASSERT_TRUE(set.AppendBytes(Bytes(PdfTestWriter::Simple({"Fourth", "Fifth"})), "c").Ok());
  EXPECT_EQ(set.PageCount(), 5);
  EXPECT_EQ(set.DocumentCount(), 3);
  EXPECT_EQ(set.PageText(2), "Third\n");
  EXPECT_EQ(set.PageText(4), "Fifth\n");
  EXPECT_EQ(set.PageText(5), "");
  EXPECT_EQ(set.PageText(-1), "");

  ASSERT_TRUE(set.LoadBytes(Bytes(PdfTestWriter::Simple({"Only"})), "d").Ok());
  EXPECT_EQ(set.PageCount(), 1);
  EXPECT_EQ(set.DocumentNames(), std::vector<std::string>{"d"});

  set.Clear();
  EXPECT_TRUE(set.Empty());
  EXPECT_EQ(set.DocumentTextLength(), 0u);
}

TEST(PdfDocumentSetLoad, DocumentTextJoinsPagesWithFormFeeds) {
  PdfDocumentSet set;
  ASSERT_TRUE(set.LoadBytes(Bytes(TwoPages()), "").Ok());
  ASSERT_TRUE(set.AppendBytes(Bytes(PdfTestWriter::Simple({"Third"})), "").Ok());
  const std::string text = set.DocumentText();
  EXPECT_EQ(text, "First page text\n\fSecond page text\n\fThird\n");
  EXPECT_EQ(set.DocumentTextLength(), text.size());
}

// Every kind of bad input is refused with its own code and a text naming the file, and a
// failed load leaves nothing shown.
TEST(PdfDocumentSetBadInput, RefusedWithClearErrors) {
  TempDir dir;
  const std::string good = TwoPages();
  std::filesystem::create_directory(dir.File("folder"));
  struct Case {
    std::string file;
    int code;
    std::string text;
  } cases[] = {
      {dir.File("missing.pdf"), rt::kNoFileError, "File not found"},
      {dir.File("folder"), rt::kBadNameError, "folder"},
      {dir.Write("empty.pdf", ""), rt::kBadFileError, "empty"},
      {dir.Write("text.pdf", "Just some text, not a document\n"), rt::kBadFileError,
       "Not a PDF document"},
      {dir.Write("cut.pdf", good.substr(0, good.size() - 40)), rt::kBadFileError, "truncated"},
      {dir.Write("half.pdf", good.substr(0, good.size() / 2)), rt::kBadFileError, "truncated"},
      {dir.Write("damaged.pdf", "%PDF-1.4\n1 0 obj garbage\n%%EOF\n"), rt::kBadFileError,
       "damaged"},
      {dir.Write("locked.pdf",
                 PdfTestWriter::Build({TestPage{{"Secret"}}}, PdfTestWriter::Encrypted())),
       rt::kAccessDenied, "password"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    PdfDocumentSet set;
    ASSERT_TRUE(set.LoadBytes(Bytes(good), "previous").Ok());
    rt::PdfError error = set.LoadFile(c.file);
    EXPECT_EQ(error.code, c.code);
    EXPECT_THAT(error.text, HasSubstr(c.text));
    EXPECT_THAT(error.text, HasSubstr(std::filesystem::path(c.file).filename().string()));
    EXPECT_EQ(set.PageCount(), 0);
    EXPECT_EQ(set.DocumentTextLength(), 0u);
    EXPECT_EQ(set.PageText(0), "");
  }
  PdfDocumentSet set;
  EXPECT_EQ(set.LoadFile("").code, rt::kBadNameError);
}

TEST(PdfDocumentSetBadInput, TrailingBytesAfterTheLastRevisionAreIgnoredUnlessTheyHoldObjects) {
  const std::string good = PdfTestWriter::Simple({"one", "two"});
  PdfDocumentSet set;
  // Several KiB after the end-of-file marker, as mail gateways and uploads leave them.
  EXPECT_TRUE(set.LoadBytes(Bytes(good + std::string(5000, '\0')), "padded").Ok());
  EXPECT_EQ(set.PageCount(), 2);
  EXPECT_TRUE(set.LoadBytes(Bytes(good + std::string(3000, 'x') + "\n"), "junk").Ok());
  // A later revision cut off before its own marker is an incomplete file.
  const rt::PdfError cut =
      set.LoadBytes(Bytes(good + "3 0 obj\n<< /Type /Page >>\nendobj\n"), "cut");
  EXPECT_EQ(cut.code, rt::kBadFileError);
  EXPECT_THAT(cut.text, HasSubstr("truncated"));
}

TEST(PdfDocumentSetBadInput, FailedAppendKeepsWhatWasLoaded) {
  TempDir dir;
  PdfDocumentSet set;
  ASSERT_TRUE(set.LoadBytes(Bytes(TwoPages()), "a").Ok());
  EXPECT_FALSE(set.AppendFile(dir.File("missing.pdf")).Ok());
  EXPECT_FALSE(set.AppendBytes(Bytes("not a pdf"), "x").Ok());
  EXPECT_FALSE(set.AppendBytes({}, "empty").Ok());
  EXPECT_EQ(set.PageCount(), 2);
  EXPECT_EQ(set.DocumentNames(), std::vector<std::string>{"a"});
}

TEST(PdfDocumentSetBadInput, TooLargeFileIsRefusedBeforeReading) {
  TempDir dir;
  const std::string name = dir.Write("huge.pdf", TwoPages());
  // A sparse file: no disk space is used for the hole.
  std::filesystem::resize_file(name, PdfDocumentSet::kMaxDocumentBytes + 1);
  PdfDocumentSet set;
  rt::PdfError error = set.LoadFile(name);
  EXPECT_EQ(error.code, rt::kFileSystemError);
  EXPECT_THAT(error.text, HasSubstr("too large"));
  EXPECT_TRUE(set.Empty());
}

TEST(PdfDocumentSetBadInput, DocumentWithoutPagesIsRefused) {
  PdfDocumentSet set;
  rt::PdfError error = set.LoadBytes(Bytes(PdfTestWriter::Build({})), "none");
  EXPECT_EQ(error.code, rt::kBadFileError);
  EXPECT_TRUE(set.Empty());
}

TEST(PdfDocumentSetProperties, ListsInformationOfEveryDocument) {
  TestOptions options;
  options.withInfo = true;
  options.info = {"A title",   "An author",  "A subject",         "k1, k2",
                  "A creator", "A producer", "D:20240102030405Z", "D:20240203040506Z"};
  const std::string pdf = PdfTestWriter::Build({TestPage{{"x"}, 595, 842}}, options);
  PdfDocumentSet set;
  ASSERT_TRUE(set.LoadBytes(Bytes(pdf), "info.pdf").Ok());
  ASSERT_TRUE(set.AppendBytes(Bytes(TwoPages()), "plain.pdf").Ok());

  const std::vector<rt::PdfProperty> expected = {
      {"File", "info.pdf"},
      {"Title", "A title"},
      {"Author", "An author"},
      {"Subject", "A subject"},
      {"Keywords", "k1, k2"},
      {"Creator", "A creator"},
      {"Producer", "A producer"},
      {"Created", "2024-01-02 03:04:05 UTC"},
      {"Changed", "2024-02-03 04:05:06 UTC"},
      {"PDF version", "1.4"},
      {"Pages", "1"},
      {"Page size", "595 x 842 pt (209.9 x 297 mm)"},
      {"File size", std::to_string(pdf.size()) + " bytes"},
      {"Encrypted", "No"},
      {"Linearized", "No"},
  };
  const auto properties = set.Properties();
  ASSERT_EQ(properties.size(), 2 * expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(properties[i], expected[i]);
  EXPECT_EQ(properties[expected.size()], (rt::PdfProperty{"File", "plain.pdf"}));
  EXPECT_EQ(properties[expected.size() + 1], (rt::PdfProperty{"Title", ""}));
  EXPECT_EQ(properties[expected.size() + 10], (rt::PdfProperty{"Pages", "2"}));
}

TEST(PdfDocumentSetRender, DrawsThePageAtTheAskedScale) {
  PdfDocumentSet set;
  const std::string pdf = PdfTestWriter::Build({TestPage{{"MMMMMMMM"}, 200, 100}});
  ASSERT_TRUE(set.LoadBytes(Bytes(pdf), "").Ok());
  rt::PdfImage image;
  ASSERT_TRUE(set.RenderPage(0, 2.0, image).Ok());
  EXPECT_EQ(image.width, 400);
  EXPECT_EQ(image.height, 200);
  EXPECT_GE(image.stride, image.width * 4);
  ASSERT_EQ(image.bytes.size(), static_cast<std::size_t>(image.stride) * image.height);
  // White paper in the corner; dark ink where the text sits: 72 pt in, baseline 72 pt down.
  EXPECT_EQ(image.Pixel(image.width - 1, image.height - 1), 0xFFFFFFFFu);
  bool ink = false;
  for (int y = 120; y < 144 && !ink; ++y) {
    for (int x = 144; x < 300 && !ink; ++x)
      ink = (image.Pixel(x, y) & 0xFF) < 0x80;
  }
  EXPECT_TRUE(ink);
}

TEST(PdfDocumentSetRender, DrawsTheSamePixelsAsTheLibrarysOwnRenderer) {
  // Pages of different sizes, one with a crop box, text in two sizes, at scales that round.
  TestOptions options;
  options.fontSize = 17;
  options.lineHeight = 19;
  // An A4 page, whose height in pixels is not whole at most scales, full of text.
  const std::vector<std::string> full(40, "Full lines gjpqy ABCDEFGHIJKLM 0123456789");
  const std::vector<char> bytes = Bytes(PdfTestWriter::Build(
      {TestPage{{"First page", "with two lines"}, 300, 200},
       TestPage{{"Cropped", "lower line cut off", "", "", "", "", "gone"}, 400, 500, 90},
       TestPage{{"Wide page"}, 842, 595}, TestPage{full, 595.276, 841.89}},
      options));
  PdfDocumentSet set;
  ASSERT_TRUE(set.LoadBytes(bytes, "").Ok());
  for (int page = 0; page < set.PageCount(); ++page) {
    for (double scale : {0.75, 150 / 72.0}) {
      rt::PdfImage expected;
      rt::PdfImage image;
      ASSERT_TRUE(pdftest::LibraryRendering(bytes, page, scale, expected).Ok());
      ASSERT_TRUE(set.RenderPage(page, scale, image).Ok());
      EXPECT_EQ(image.width, expected.width) << page;
      EXPECT_EQ(image.height, expected.height) << page;
      EXPECT_EQ(image.stride, expected.stride) << page;
      EXPECT_TRUE(image.bytes == expected.bytes) << "page " << page << " at " << scale;
      // The image owns the library's bitmap: moved on and dropped, it is freed once (the
      // address-sanitised build reports a second free or a leak).
      rt::PdfImage moved = std::move(image);
      // NOLINTNEXTLINE(bugprone-use-after-move): the moved-from image is what is checked
      EXPECT_TRUE(image.bytes.empty() && image.bytes.data() == nullptr);
      EXPECT_TRUE(moved.bytes == expected.bytes);
      moved = std::move(expected);
      EXPECT_TRUE(expected.bytes.empty());  // NOLINT(bugprone-use-after-move)
    }
  }
  // The A4 page at resolutions whose pixel heights are not whole.
  EXPECT_EQ(pdftest::RenderingDifferences(bytes, {3}, {72, 96, 113}), std::vector<std::string>{});
}

// Text is drawn with each font's glyph cache widened to hold a page of glyphs; glyphs come
// out of it as the library's own small cache gives them, including when the page holds more
// glyphs than the cache (every printable character, on lines at fractional positions).
TEST(PdfDocumentSetRender, WidenedGlyphCachesDrawTheLibrarysPixels) {
  std::string printable;
  for (char32_t c = 0x21; c <= 0xFF; ++c) {
    if (c >= 0x7F && c <= 0xA0) continue;
    if (c < 0x80) {
      printable += static_cast<char>(c);
    } else {
      printable += static_cast<char>(0xC0 | (c >> 6));
      printable += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  TestOptions text;
  text.lineHeight = 13.7;
  const std::vector<std::string> lines(24, printable.substr(0, 60) + " " + printable.substr(60));
  const std::vector<char> page = Bytes(PdfTestWriter::Build({TestPage{lines, 1400, 400}}, text));
  TestOptions huge;
  huge.fontSize = 300;
  huge.lineHeight = 300;
  const std::vector<char> big = Bytes(PdfTestWriter::Build({TestPage{{"Wg"}, 600, 400}}, huge));

  rt::PdfCoreDocument document(std::make_shared<const std::vector<char>>(page));
  rt::PdfImage image;
  for (double dpi : {72.0, 150.0}) {
    ASSERT_TRUE(document.Render(0, dpi / 72, {}, image).Ok());
    EXPECT_EQ(document.GlyphCachesWidened(), 1) << dpi;
  }
  EXPECT_EQ(pdftest::RenderingDifferences(page, {0}, {72, 113, 150, 300}),
            std::vector<std::string>{});
  // Glyphs of 600 pixels would take more memory than a widened cache may: left as they are.
  rt::PdfCoreDocument bigDocument(std::make_shared<const std::vector<char>>(big));
  ASSERT_TRUE(bigDocument.Render(0, 150 / 72.0, {}, image).Ok());
  EXPECT_EQ(bigDocument.GlyphCachesWidened(), 0);
  EXPECT_EQ(pdftest::RenderingDifferences(big, {0}, {150}), std::vector<std::string>{});
}

TEST(PdfDocumentSetRender, RefusesBadPagesAndScales) {
  PdfDocumentSet set;
  rt::PdfImage image;
  EXPECT_FALSE(set.RenderPage(0, 1.0, image).Ok());
  ASSERT_TRUE(set.LoadBytes(Bytes(TwoPages()), "").Ok());
  EXPECT_FALSE(set.RenderPage(2, 1.0, image).Ok());
  EXPECT_FALSE(set.RenderPage(0, 0.0, image).Ok());
  EXPECT_FALSE(set.RenderPage(0, -1.0, image).Ok());
  rt::PdfError tooLarge = set.RenderPage(0, 1000.0, image);
  EXPECT_THAT(tooLarge.text, HasSubstr("too large"));
  EXPECT_TRUE(image.Empty());
}

}  // namespace
