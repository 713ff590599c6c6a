// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/values/AnyRef.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/runtime/values/FixedString.h"

namespace rt {
namespace {

TEST(AnyRefTest, FixedAndCStringsPadCutAndCompareWithoutTrailingBlanks) {
  FixedString<5> f("ab");
  EXPECT_EQ(f.View(), "ab   ");
  EXPECT_EQ(f.Clip(), "ab");
  f = "abcdefg";
  EXPECT_EQ(f.View(), "abcde");
  CString<4> c("abcdefg");
  EXPECT_EQ(c.View(), "abc");
  EXPECT_EQ(c.Length(), 3u);
  c = "x  ";
  EXPECT_EQ(c.Clip(), "x");
  EXPECT_TRUE(c == "x");
  EXPECT_TRUE(FixedString<8>("abc") == FixedString<3>("abc"));
  EXPECT_TRUE(FixedString<3>("ABC") < "abc");
  EXPECT_TRUE(FixedString<3>("ab") < "abc");
  // Bytes above 127 order after ASCII, whatever the signedness of char.
  EXPECT_TRUE(CString<4>("a") < CString<4>("\xE9"));
  // Assigning a view of itself keeps the text.
  FixedString<6> self("hello");
  self = self.View().substr(1);
  EXPECT_EQ(self.Clip(), "ello");
}

TEST(AnyRefTest, ReadsAndWritesEveryTypeAsTextAndNumber) {
  std::int32_t l = 0;
  std::uint8_t b = 0;
  double r = 0;
  std::int64_t mantissa = 0;
  AnyRef dec(&mantissa, FieldType::Decimal, 8, 2);
  FixedString<6> s;
  CString<6> cs;

  AnyRef::Of(l).SetText(" -42 ");
  EXPECT_EQ(l, -42);
  AnyRef::Of(l).SetText("12.9");
  EXPECT_EQ(l, 12);
  EXPECT_EQ(AnyRef::Of(l).SetText("abc"), FieldFit::Unreadable);
  EXPECT_EQ(l, 12);
  EXPECT_EQ(AnyRef::Of(b).SetInteger(300), FieldFit::OutOfRange);
  EXPECT_EQ(b, 0);

  dec.SetText("-3.5");
  EXPECT_EQ(mantissa, -350);
  EXPECT_EQ(dec.Text(), "-3.50");
  dec.SetText("2.675");  // a double would make this 2.67
  EXPECT_EQ(dec.Text(), "2.68");
  dec.SetNumber(0.1 + 0.2);
  EXPECT_EQ(dec.Text(), "0.30");
  EXPECT_EQ(dec.Integer(), 0);
  dec.SetText("12345678901234567.89");
  EXPECT_EQ(dec.Text(), "12345678901234567.89");

  AnyRef::Of(r).SetText("0.1");
  EXPECT_EQ(AnyRef::Of(r).Text(), "0.1");
  s.Ref().SetNumber(1.5);
  EXPECT_EQ(s.View(), "1.5   ");
  EXPECT_DOUBLE_EQ(s.Ref().Number(), 1.5);
  cs.Ref().SetText("abcdefgh");
  EXPECT_EQ(cs.View(), "abcde");
  EXPECT_EQ(cs.Ref().Number(), 0.0);

  AnyRef none;
  none.SetText("x");  // does nothing and does not crash
  EXPECT_EQ(none.Text(), "");
}

TEST(AnyRefTest, ComparesByValue) {
  std::int32_t l = 10;
  std::uint16_t u = 9;
  double r = 0.1;
  std::int64_t mantissa = 10;  // 0.10
  AnyRef dec(&mantissa, FieldType::Decimal, 8, 2);
  FixedString<6> s("10");
  CString<6> t("9");
  FixedString<6> word("abc");

  EXPECT_GT(AnyRef::Of(l).Compare(AnyRef::Of(u)), 0);
  EXPECT_EQ(dec.Compare(AnyRef::Of(r)), 0);
  // Texts compare as texts: "10" < "9".
  EXPECT_LT(s.Ref().Compare(t.Ref()), 0);
  // A number against a numeric text compares by value.
  EXPECT_EQ(AnyRef::Of(l).Compare(s.Ref()), 0);
  EXPECT_GT(AnyRef::Of(l).Compare(t.Ref()), 0);
  EXPECT_LT(t.Ref().Compare(AnyRef::Of(l)), 0);
  // A number against a non-numeric text compares as texts ("10" < "abc").
  EXPECT_LT(AnyRef::Of(l).Compare(word.Ref()), 0);
  EXPECT_GT(word.Ref().Compare(AnyRef::Of(l)), 0);
  // Case matters, trailing blanks do not.
  CString<8> upper("ABC ");
  EXPECT_NE(word.Ref().Compare(upper.Ref()), 0);
  CString<8> same("abc");
  EXPECT_EQ(word.Ref().Compare(same.Ref()), 0);
  EXPECT_LT(AnyRef().Compare(AnyRef::Of(l)), 0);
}

TEST(AnyRefTest, ClearsToBlankHighestAndLowest) {
  std::int16_t sh = 5;
  std::uint32_t ul = 5;
  std::int64_t mantissa = 5;
  AnyRef dec(&mantissa, FieldType::Decimal, 8, 2);
  FixedString<3> s("abc");
  CString<3> c("ab");

  AnyRef::Of(sh).Clear(1);
  EXPECT_EQ(sh, 32767);
  AnyRef::Of(sh).Clear(-1);
  EXPECT_EQ(sh, -32768);
  AnyRef::Of(ul).Clear(-1);
  EXPECT_EQ(ul, 0u);
  dec.Clear(-1);
  EXPECT_LT(dec.Value(), Decimal(-1000000));

  FixedString<3> other("zzz");
  s.Ref().Clear(1);
  EXPECT_GT(s.Ref().Compare(other.Ref()), 0);
  s.Ref().Clear(-1);
  EXPECT_LT(s.Ref().Compare(other.Ref()), 0);
  EXPECT_EQ(s.View(), "   ");
  c.Ref().Clear(1);
  EXPECT_EQ(c.Length(), 2u);
  EXPECT_GT(c.Ref().Compare(other.Ref()), 0);
  c.Ref().Clear();
  EXPECT_EQ(c.Length(), 0u);
}

TEST(AnyRefTest, CopiesBetweenTypesAndRecordFields) {
  RecordLayout layout;
  layout.AddField("ID", FieldType::Long);
  layout.AddField("NAME", FieldType::String, 8);
  layout.AddField("PRICE", FieldType::Decimal, 0, "n10.2", 2);
  std::vector<char> record(layout.Size());
  const AnyRef id(record.data(), layout.Field(1));
  const AnyRef name(record.data(), layout.Field(2));
  const AnyRef price(record.data(), layout.Field(3));

  std::int64_t m = 0;
  AnyRef threePlaces(&m, FieldType::Decimal, 8, 3);
  threePlaces.SetText("19.995");
  price.CopyFrom(threePlaces);
  EXPECT_EQ(price.Text(), "20.00");
  id.CopyFrom(price);
  EXPECT_EQ(id.Integer(), 20);
  name.CopyFrom(price);
  EXPECT_EQ(name.Text(), "20.00   ");
  threePlaces.CopyFrom(name);
  EXPECT_EQ(threePlaces.Text(), "20.000");
  // Copying from a null reference clears.
  name.CopyFrom(AnyRef());
  EXPECT_EQ(name.Text(), "        ");
}

}  // namespace
}  // namespace rt
