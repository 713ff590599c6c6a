// SPDX-License-Identifier: GPL-3.0-or-later
// Field pairs and buffered pairs over plain variables and fixed strings.

#include "framework/data/FieldPairs.h"

#include <gtest/gtest.h>

#include "framework/data/BufferedPairs.h"
#include "platform/runtime/values/FixedString.h"

namespace {

TEST(FieldPairsTest, EmptyListIsEqualAndAssignmentsDoNothing) {
  FieldPairs pairs;
  EXPECT_TRUE(pairs.Equal());  // no list at all yet
  pairs.Init();
  EXPECT_TRUE(pairs.Equal());
  pairs.AssignLeftToRight();
  pairs.ClearLeft();
  BufferedPairs buffered;
  buffered.Init();
  EXPECT_TRUE(buffered.EqualLeftBuffer());
  EXPECT_TRUE(buffered.EqualRightBuffer());
  buffered.AssignBufferToLeft();
}

TEST(FieldPairsTest, CopiesComparesAndClearsAcrossTypes) {
  std::int32_t leftNumber = 12;
  rt::FixedString<10> rightNumberText("7");
  rt::FixedString<10> leftText("Alpha");
  rt::FixedString<20> rightText("beta");
  FieldPairs pairs;
  pairs.Init();
  pairs.AddPair(rt::AnyRef::Of(leftNumber), rightNumberText.Ref());
  pairs.AddPair(leftText.Ref(), rightText.Ref());
  EXPECT_FALSE(pairs.Equal());

  pairs.AssignLeftToRight();
  EXPECT_EQ(rightNumberText.Clip(), "12");
  EXPECT_EQ(rightText.Clip(), "Alpha");
  EXPECT_TRUE(pairs.Equal());  // a number and a numeric text compare by value

  rightNumberText = "3";
  pairs.AssignRightToLeft();
  EXPECT_EQ(leftNumber, 3);

  pairs.ClearRight();
  EXPECT_EQ(rightText.Clip(), "");
  EXPECT_EQ(leftText.Clip(), "Alpha");
  pairs.ClearLeft();
  EXPECT_EQ(leftNumber, 0);

  pairs.Kill();
  EXPECT_EQ(pairs.List, nullptr);
  pairs.ClearLeft();  // no list: nothing to do
}

TEST(FieldPairsTest, LetterCaseMattersForEqualButNotForBuffers) {
  rt::FixedString<10> left("Smith");
  rt::FixedString<10> right("SMITH");
  BufferedPairs pairs;
  pairs.Init();
  pairs.AddPair(left.Ref(), right.Ref());
  EXPECT_FALSE(pairs.Equal());
  pairs.AssignRightToBuffer();
  EXPECT_TRUE(pairs.EqualLeftBuffer());
  EXPECT_TRUE(pairs.EqualRightBuffer());
  left = "Smyth";
  EXPECT_FALSE(pairs.EqualLeftBuffer());
}

TEST(FieldPairsTest, BufferStartsBlankAndLeavesTheRightVariableAlone) {
  rt::FixedString<8> left("key");
  rt::FixedString<12> right("value");
  std::int32_t number = 41;
  std::int32_t otherNumber = 41;
  BufferedPairs pairs;
  pairs.AddPair(left.Ref(), right.Ref());  // a list is made on first use
  pairs.AddPair(rt::AnyRef::Of(otherNumber), rt::AnyRef::Of(number));
  EXPECT_EQ(right.Clip(), "value");
  EXPECT_EQ(number, 41);
  EXPECT_FALSE(pairs.EqualRightBuffer());
  right = "";
  number = 0;
  EXPECT_TRUE(pairs.EqualRightBuffer());

  // Buffers remember values through changes of the variables.
  left = "K1";
  otherNumber = 5;
  pairs.AssignLeftToBuffer();
  left = "K2";
  otherNumber = 6;
  pairs.AssignBufferToRight();
  EXPECT_EQ(right.Clip(), "K1");
  EXPECT_EQ(number, 5);
  pairs.AssignBufferToLeft();
  EXPECT_EQ(left.Clip(), "K1");
  EXPECT_EQ(otherNumber, 5);
  // Texts of different lengths holding the same value are equal.
  EXPECT_TRUE(pairs.EqualLeftBuffer());
}

TEST(FieldPairsTest, BufferHoldsTheLeftValueWholeWhateverTheRightType) {
  rt::FixedString<20> left("A long linking value");
  rt::FixedString<8> right("short");
  double amount = 2.75;
  std::int32_t count = 0;
  BufferedPairs pairs;
  pairs.AddPair(left.Ref(), right.Ref());
  pairs.AddPair(rt::AnyRef::Of(amount), rt::AnyRef::Of(count));
  pairs.AssignLeftToBuffer();
  EXPECT_TRUE(pairs.EqualLeftBuffer());
  left = "changed";
  amount = 9;
  EXPECT_FALSE(pairs.EqualLeftBuffer());
  pairs.AssignBufferToLeft();
  EXPECT_EQ(left.Clip(), "A long linking value");
  EXPECT_EQ(amount, 2.75);
  // Put into the narrower right side, the value is cut there only.
  pairs.AssignBufferToRight();
  EXPECT_EQ(right.Clip(), "A long l");
}

TEST(FieldPairsTest, BufferedListReplacedThroughTheBaseIsNotUsedAsBuffered) {
  rt::FixedString<4> a("a");
  rt::FixedString<4> b("b");
  BufferedPairs pairs;
  pairs.Init();
  pairs.AddPair(a.Ref(), b.Ref());
  static_cast<FieldPairs&>(pairs).Init();  // a plain list now
  pairs.AssignBufferToLeft();              // must not touch the dropped entries
  EXPECT_EQ(a.Clip(), "a");
  EXPECT_TRUE(pairs.EqualLeftBuffer());
}

}  // namespace
