// SPDX-License-Identifier: GPL-3.0-or-later
// The PDF files in tests/data are made by PdfTestWriter. This test checks that each file is
// still what the writer makes and that the engine treats it as intended. Run it with
// PDF_WRITE_TEST_DATA=1 in the environment to (re)write the files instead.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/pdf/PdfEngine.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "tests/pdf/PdfTestWriter.h"

namespace {

using pdftest::PdfTestWriter;
using pdftest::TestOptions;
using pdftest::TestPage;

struct DataFile {
  std::string name;
  std::string bytes;
  int loadError;  // 0: loads
  int pages;
};

std::vector<DataFile> DataFiles() {
  const std::string twoPages = PdfTestWriter::Simple({"This is page one", "This is page two"});
  TestOptions sized;
  sized.exactSize = 32768;
  const std::vector<TestPage> sizedPage = {TestPage{{"A document of an exact size"}}};
  std::string size32768 = PdfTestWriter::Build(sizedPage, sized);
  sized.exactSize = 32769;
  std::string size32769 = PdfTestWriter::Build(sizedPage, sized);
  return {
      {"one-page.pdf", PdfTestWriter::Simple({"Hello from page one"}), 0, 1},
      {"two-pages.pdf", twoPages, 0, 2},
      {"size-32768.pdf", size32768, 0, 1},
      {"size-32769.pdf", size32769, 0, 1},
      {"not-a-pdf.pdf", "This file is plain text, not a PDF document.\n", rt::kBadFileError, 0},
      {"truncated.pdf", twoPages.substr(0, twoPages.size() / 2), rt::kBadFileError, 0},
      {"empty.pdf", "", rt::kBadFileError, 0},
      {"encrypted.pdf",
       PdfTestWriter::Build({TestPage{{"Locked text"}}}, PdfTestWriter::Encrypted()),
       rt::kAccessDenied, 0},
  };
}

std::string ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(PdfTestData, FilesMatchTheWriterAndLoadAsIntended) {
  const bool write = std::getenv("PDF_WRITE_TEST_DATA") != nullptr;
  for (const DataFile& file : DataFiles()) {
    SCOPED_TRACE(file.name);
    const std::string path = std::string(TEST_DATA_DIR) + "/" + file.name;
    if (write) std::ofstream(path, std::ios::binary | std::ios::trunc) << file.bytes;
    EXPECT_EQ(ReadAll(path), file.bytes);
    auto engine = rt::PdfEngine::Create();
    EXPECT_EQ(engine->LoadFile(path).code, file.loadError);
    EXPECT_EQ(engine->PageCount(), file.pages);
  }
  EXPECT_EQ(DataFiles()[2].bytes.size(), 32768u);
  EXPECT_EQ(DataFiles()[3].bytes.size(), 32769u);
}

}  // namespace
