// SPDX-License-Identifier: GPL-3.0-or-later
// Locators and thumb steps: the value <-> thumb mappings on their own, then on a browse over
// a real STORE table.

#include <gtest/gtest.h>

#include <optional>

#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLocator.h"
#include "framework/browse/StepLong.h"
#include "framework/browse/StepString.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "support/BrowseFixture.h"
#include "support/WorkDir.h"

namespace {

std::uint8_t PercentileOf(StepLong& step, std::int32_t value) {
  return step.GetPercentile(rt::AnyRef::Of(value));
}
std::uint8_t PercentileOf(StepLong& step, std::string text) {
  char buffer[32] = {};
  rt::AnyRef ref(buffer, rt::FieldType::String, sizeof buffer);
  ref.SetText(text);
  return step.GetPercentile(ref);
}
void Limits(StepLong& step, std::string first, std::string last) {
  char a[32] = {};
  char b[32] = {};
  rt::AnyRef(a, rt::FieldType::String, sizeof a).SetText(first);
  rt::AnyRef(b, rt::FieldType::String, sizeof b).SetText(last);
  step.SetLimit(rt::AnyRef(a, rt::FieldType::String, sizeof a),
                rt::AnyRef(b, rt::FieldType::String, sizeof b));
}

TEST(StepLongTest, MapsNumbersToThumbPositionsAndBack) {
  StepLong step;
  step.Init(1);
  std::int32_t first = 1;
  std::int32_t last = 201;
  step.SetLimit(rt::AnyRef::Of(first), rt::AnyRef::Of(last));
  EXPECT_EQ(PercentileOf(step, 1), 1);  // 0 is reported as 1
  EXPECT_EQ(PercentileOf(step, 101), 50);
  EXPECT_EQ(PercentileOf(step, 201), 100);
  // Values beyond the limits stay at the nearer end instead of wrapping round.
  EXPECT_EQ(PercentileOf(step, -5), 1);
  EXPECT_EQ(PercentileOf(step, 999), 100);
  EXPECT_DOUBLE_EQ(step.GetValue(0).ToDouble(), 1);
  EXPECT_DOUBLE_EQ(step.GetValue(25).ToDouble(), 51);
  EXPECT_DOUBLE_EQ(step.GetValue(100).ToDouble(), 201);

  // Descending: the first record holds the highest value and sits at the top.
  step.Init(1 | kStepDescending);
  step.SetLimit(rt::AnyRef::Of(last), rt::AnyRef::Of(first));
  EXPECT_EQ(step.Low, 1);
  EXPECT_EQ(step.High, 201);
  EXPECT_EQ(PercentileOf(step, 201), 1);
  EXPECT_EQ(PercentileOf(step, 1), 100);
  EXPECT_EQ(PercentileOf(step, 151), 25);
  EXPECT_DOUBLE_EQ(step.GetValue(10).ToDouble(), 181);

  // One value throughout: the middle.
  step.SetLimit(rt::AnyRef::Of(first), rt::AnyRef::Of(first));
  EXPECT_EQ(PercentileOf(step, 1), 50);
}

TEST(StepStringTest, PlacesTextsBetweenTheLimitsAndFindsTextsForPositions) {
  StepString step;
  step.Init(1, true);
  Limits(step, "doc Adams", "DOC Young");
  EXPECT_EQ(step.LowText, "DOC ADAMS");
  EXPECT_EQ(PercentileOf(step, "doc adams"), 1);
  EXPECT_EQ(PercentileOf(step, "doc young"), 100);
  EXPECT_EQ(PercentileOf(step, "Aaron"), 1);
  EXPECT_EQ(PercentileOf(step, "zz"), 100);
  // Between A and Y the thumb follows the letter after the shared prefix.
  const int m = PercentileOf(step, "doc Miller");
  EXPECT_GT(m, 45);
  EXPECT_LT(m, 60);
  EXPECT_EQ(step.GetText(0), "DOC ADAMS");
  EXPECT_EQ(step.GetText(100), "DOC YOUNG");
  for (int p : {10, 50, 90}) {
    const std::string text = step.GetText(static_cast<std::uint8_t>(p));
    EXPECT_EQ(text.substr(0, 4), "DOC ");
    EXPECT_NEAR(PercentileOf(step, text), p, 1) << text;
  }

  // Descending: the first record (the highest text) at the top.
  step.Init(1 | kStepDescending, false);
  Limits(step, "pear", "apple");
  EXPECT_EQ(PercentileOf(step, "pear"), 1);
  EXPECT_EQ(PercentileOf(step, "apple"), 100);
  EXPECT_GT(PercentileOf(step, "cherry"), PercentileOf(step, "kiwi"));
  EXPECT_EQ(step.GetText(0), "pear");
  char field[20] = {};
  step.SetFreeElement(rt::AnyRef(field, rt::FieldType::String, sizeof field), 100);
  EXPECT_EQ(std::string(field, 5), "apple");
}

// ---- On a browse over a real table ----

constexpr int kList = 1;

class StepBrowseTest : public testing_support::BrowseFixtureTest {
 protected:
  StepBrowseTest() : BrowseFixtureTest("steps") {}

  // A browse in the order of `key` with the given thumb step and a locator without an entry
  // control (or with one when `entry`).
  void Open(int key, StepLong* thumb, bool entry = false) {
    f_->Open({.key = key, .thumb = thumb, .locator = true, .locatorEntry = entry});
  }

  std::string Highlighted() const { return f_->HighlightedName(); }
  void Type(char c) {
    f_->Window->SetKeyCode(c);
    f_->Browse->TakeKey();
  }

  StepLong thumb_;  // outlives the browse, which releases it
};

const testing_support::DocRows kFruit = {{1, "apple"}, {2, "banana"}, {3, "Berry"}, {4, "cherry"},
                                         {5, "date"},  {6, "fig"},    {7, "grape"}, {8, "kiwi"},
                                         {9, "lemon"}, {10, "mango"}};

TEST_F(StepBrowseTest, TypedCharactersStepToTheNextMatchOrLocateByValue) {
  testing_support::AddDocs(kFruit);
  Open(2, nullptr);
  EXPECT_EQ(Highlighted(), "apple");
  // The next row starts with the character: the highlight moves down one row.
  Type('B');
  EXPECT_EQ(Highlighted(), "banana");
  Type('B');
  EXPECT_EQ(Highlighted(), "Berry");
  // Otherwise the list is positioned at the first name at or after the character.
  Type('G');
  EXPECT_EQ(Highlighted(), "grape");
  Type('D');  // before the highlight: found all the same
  EXPECT_EQ(Highlighted(), "date");
  Type('Z');  // after every name: the end of the list
  EXPECT_EQ(Highlighted(), "mango");
  // Keys that type no character are left to the browse.
  for (int code : {rt::key::kCtrl + 'A', rt::key::kDown, rt::key::kDelete, rt::key::kF1}) {
    f_->Window->SetKeyCode(code);
    EXPECT_FALSE(f_->Locator.TakeKey()) << code;
  }
  EXPECT_EQ(Highlighted(), "mango");
}

TEST_F(StepBrowseTest, DescendingOrderLocatesTheLastNameStartingWithTheCharacter) {
  testing_support::AddDocs(kFruit);
  Open(3, nullptr);
  EXPECT_EQ(Highlighted(), "mango");
  // The character followed by code 254 finds the highest name that starts with it.
  Type('B');
  EXPECT_EQ(Highlighted(), "Berry");
  Type('C');
  EXPECT_EQ(Highlighted(), "cherry");
}

TEST_F(StepBrowseTest, DescendingNumbersLocateTheTypedDigit) {
  testing_support::AddDocs(kFruit);
  Open(4, nullptr);
  EXPECT_EQ(Highlighted(), "mango");  // ID 10
  Type('5');
  EXPECT_EQ(Highlighted(), "date");  // ID 5
}

TEST_F(StepBrowseTest, EntryControlFollowsWhetherTheListHasRows) {
  Open(2, nullptr, true);
  EXPECT_FALSE(f_->Window->Prop(2, rt::prop::kDisabled).empty());
  Type('A');  // nothing to locate in an empty table
  EXPECT_EQ(Highlighted(), "");
  f_.emplace();
  testing_support::AddDocs(kFruit);
  Open(2, nullptr, true);
  EXPECT_TRUE(f_->Window->Prop(2, rt::prop::kDisabled).empty());
}

TEST_F(StepBrowseTest, ThumbPositionsFindTheRecordsTheyStandFor) {
  testing_support::DocRows rows;
  for (int id = 1; id <= 1001; ++id)
    rows.emplace_back(id, "n" + std::to_string(id));
  testing_support::AddDocs(rows);
  StepLong& thumb = thumb_;
  thumb.Init(1);
  Open(1, &thumb);
  EXPECT_EQ(thumb.Low, 1);
  EXPECT_EQ(thumb.High, 1001);
  for (int p : {10, 50, 90}) {
    // What a thumb drag does: the value at the position, then a refill from there.
    thumb.SetFreeElement(f_->Field(1), static_cast<std::uint8_t>(p));
    f_->Browse->ResetFromBuffer();
    EXPECT_EQ(Highlighted(), "n" + std::to_string(p * 10 + 1));
    EXPECT_EQ(f_->Window->PropNumber(kList, rt::prop::kVScrollPos), p);
  }
}

}  // namespace
