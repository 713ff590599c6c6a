// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/pdf/PdfEngine.h"
#include "tests/pdf/PdfTestFiles.h"
#include "tests/pdf/PdfTestWriter.h"

namespace {

using rt::PdfText;

// "aé€b": 1 + 2 + 3 + 1 bytes.
const std::string kMixed =
    "a\xC3\xA9\xE2\x82\xAC"
    "b";

TEST(PdfTextCopy, NeverWritesPastTheBufferNorSplitsACharacter) {
  // Expected copied length for each capacity: whole characters only.
  const std::size_t expected[] = {0, 1, 1, 3, 3, 3, 6, 7, 7};
  for (std::size_t capacity = 0; capacity <= 8; ++capacity) {
    SCOPED_TRACE(capacity);
    std::vector<char> memory(capacity + 4, '#');  // guard bytes after the buffer
    const std::size_t copied = PdfText::CopyTo(kMixed, memory.data(), capacity);
    EXPECT_EQ(copied, expected[capacity]);
    EXPECT_EQ(std::string(memory.data(), copied), kMixed.substr(0, copied));
    if (copied < capacity) {
      EXPECT_EQ(memory[copied], '\0');
    }
    for (std::size_t i = capacity; i < memory.size(); ++i)
      EXPECT_EQ(memory[i], '#');
  }
  EXPECT_EQ(PdfText::CopyTo(kMixed, nullptr, 10), 0u);
}

TEST(PdfTextCopy, BrokenSequencesAreCutWhereAsked) {
  const std::string broken = "ab\x80\x80\x80\x80\x80";
  EXPECT_EQ(PdfText::PrefixLength(broken, 6), 6u);
  EXPECT_EQ(PdfText::PrefixLength("\x80\x80", 1), 1u);
}

class PdfEngineText : public ::testing::Test {
 protected:
  void SetUp() override {
    engine = rt::PdfEngine::Create();
    ASSERT_TRUE(engine
                    ->LoadBytes(pdftest::Bytes(pdftest::PdfTestWriter::Simple(
                        {"Caf\xC3\xA9 \xE2\x82\xAC 5", "Second", "Third page"})))
                    .Ok());
  }
  std::shared_ptr<rt::PdfEngine> engine;
};

TEST_F(PdfEngineText, SelectorsNamePagesOrTheWholeDocument) {
  const std::string first = "Caf\xC3\xA9 \xE2\x82\xAC 5\n";
  EXPECT_EQ(engine->Text(1, 0), first);
  EXPECT_EQ(engine->Text(2, 0), first);
  EXPECT_EQ(engine->TextLength(2, 0), first.size());  // bytes, not characters
  EXPECT_EQ(engine->Text(1, 2), "Second\n");
  EXPECT_EQ(engine->Text(2, 3), "Third page\n");
  EXPECT_EQ(engine->Text(0, 1), first + "\fSecond\n\fThird page\n");
  EXPECT_EQ(engine->TextLength(0, 1), engine->Text(0, 1).size());

  engine->GoToPage(1);
  EXPECT_EQ(engine->Text(0, 0), "Second\n");

  for (auto [scope, which] : {std::pair{1, 4}, {2, -1}, {0, 2}, {3, 0}, {-1, 0}}) {
    EXPECT_EQ(engine->TextLength(scope, which), 0u);
    EXPECT_EQ(engine->Text(scope, which), "");
  }
}

TEST_F(PdfEngineText, GetTextFillsExactlyTheGivenLength) {
  const std::size_t length = engine->TextLength(2, 0);
  std::vector<char> buffer(length + 1, '#');
  // A buffer of exactly the text length gets the whole text and no terminator...
  EXPECT_EQ(engine->GetText(length, buffer.data(), 1, 0), length);
  EXPECT_EQ(buffer[length], '#');
  EXPECT_EQ(std::string(buffer.data(), length), engine->Text(1, 0));
  // ...one more byte gets the terminator too.
  EXPECT_EQ(engine->GetText(length + 1, buffer.data(), 1, 0), length);
  EXPECT_EQ(buffer[length], '\0');
  // Cutting inside the euro sign (bytes 6..8) keeps only whole characters.
  std::vector<char> small(8, '#');
  EXPECT_EQ(engine->GetText(7, small.data(), 1, 0), 6u);
  EXPECT_EQ(std::string(small.data(), 6), "Caf\xC3\xA9 ");
  EXPECT_EQ(small[7], '#');
}

TEST_F(PdfEngineText, EmptyViewAnswersZero) {
  engine->Clear();
  char buffer[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(engine->PageCount(), 0);
  EXPECT_EQ(engine->TextLength(0, 1), 0u);
  EXPECT_EQ(engine->TextLength(2, 0), 0u);
  EXPECT_EQ(engine->GetText(sizeof buffer, buffer, 1, 0), 0u);
  EXPECT_EQ(buffer[0], '\0');
}

}  // namespace
