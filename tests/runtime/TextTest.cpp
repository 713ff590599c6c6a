// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/values/Text.h"

#include <gtest/gtest.h>

namespace rt {
namespace {

TEST(TextTest, TrimsOnlyTheGivenCharactersAndKeepsBytesOutsideAsciiLetters) {
  EXPECT_EQ(TrimRight("name  "), "name");
  EXPECT_EQ(TrimRight("   "), "");
  EXPECT_EQ(TrimRight("a \t"), "a \t");  // spaces only by default
  EXPECT_EQ(Trim(" \ta b\t ", kBlanks), "a b");
  EXPECT_EQ(Trim("\n x \r\n", kWhitespace), "x");
  EXPECT_EQ(TrimRight(std::string_view("file\0\0 ", 7), std::string_view(" \0", 2)), "file");

  // Case changes touch A-Z and a-z only: multi-byte characters stay intact.
  EXPECT_EQ(Upper("caf\xc3\xa9 z"), "CAF\xc3\xa9 Z");
  EXPECT_EQ(Lower("\xc3\x89T\xc3\x89"), "\xc3\x89t\xc3\x89");
}

}  // namespace
}  // namespace rt
