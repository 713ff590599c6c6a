// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/values/RecordLayout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/values/Picture.h"

namespace rt {
namespace {

TEST(RecordLayoutTest, DocumentRecordIsEightyFourBytesWithFieldsAtTheirOffsets) {
  RecordLayout layout("DemoData");
  EXPECT_EQ(layout.AddField("DEM:ID", FieldType::Long, 0, "n-14"), 1);
  EXPECT_EQ(layout.AddField("DEM:FileName", FieldType::String, 80, "s80"), 2);
  EXPECT_EQ(layout.Size(), 84u);
  EXPECT_EQ(layout.Field(2).offset, 4u);
  EXPECT_EQ(layout.FindField("dem:filename"), 2);
  EXPECT_EQ(layout.FindField("DEM:Other"), 0);
}

TEST(RecordLayoutTest, TextFieldsPadCutAndTerminate) {
  RecordLayout layout;
  layout.AddField("S", FieldType::String, 5);
  layout.AddField("C", FieldType::CString, 4);
  std::vector<char> buffer(layout.Size(), 'x');
  WriteText(layout.Field(1), buffer.data(), "ab");
  EXPECT_EQ(ReadText(layout.Field(1), buffer.data()), "ab   ");
  WriteText(layout.Field(1), buffer.data(), "abcdefgh");
  EXPECT_EQ(ReadText(layout.Field(1), buffer.data()), "abcde");
  WriteText(layout.Field(2), buffer.data(), "abcdefgh");
  EXPECT_EQ(ReadText(layout.Field(2), buffer.data()), "abc");
  ClearField(layout.Field(1), buffer.data());
  EXPECT_EQ(ReadText(layout.Field(1), buffer.data()), "     ");
}

// Every numeric type at its limits and one past them, text that is no number, and text cut
// to its field: what does not fit is refused, says why, and leaves the field as it was.
TEST(RecordLayoutTest, ValuesAFieldCannotHoldAreRefusedAndTextIsCutBetweenCharacters) {
  RecordLayout layout;
  layout.AddField("B", FieldType::Byte);
  layout.AddField("S", FieldType::Short);
  layout.AddField("US", FieldType::UShort);
  layout.AddField("L", FieldType::Long);
  layout.AddField("UL", FieldType::ULong);
  layout.AddField("AMOUNT", FieldType::Decimal, 0, "", 2);
  layout.AddField("D", FieldType::Date);
  layout.AddField("T", FieldType::Time);
  layout.AddField("NAME", FieldType::String, 20);
  layout.AddField("C", FieldType::CString, 4);
  std::vector<char> buffer(layout.Size());
  void* r = buffer.data();
  struct Limits {
    int field;
    std::string low, high, below, above;
  };
  const std::string lastDay = std::to_string(DateValue(9999, 12, 31));
  const std::string lastTime = std::to_string(TimeValue(23, 59, 59, 99));
  const Limits limits[] = {
      {1, "0", "255", "-1", "256"},
      {2, "-32768", "32767", "-32769", "32768"},
      {3, "0", "65535", "-1", "65536"},
      {4, "-2147483648", "2147483647", "-2147483649", "2147483648"},
      {5, "0", "4294967295", "-1", "4294967296"},
      {6, "-92233720368547758.07", "92233720368547758.07", "-92233720368547758.08",
       "92233720368547758.08"},
      {7, "1", lastDay, "-1", std::to_string(DateValue(9999, 12, 31) + 1)},
      {8, "1", lastTime, "-1", std::to_string(TimeValue(23, 59, 59, 99) + 1)},
  };
  for (const Limits& l : limits) {
    const FieldDesc& f = layout.Field(l.field);
    SCOPED_TRACE(f.label);
    EXPECT_EQ(WriteText(f, r, l.low), FieldFit::Fits);
    EXPECT_EQ(ReadText(f, r), l.low);
    EXPECT_EQ(WriteText(f, r, l.high), FieldFit::Fits);
    for (const std::string& past : {l.below, l.above, std::string("99999999999999999999999")})
      EXPECT_EQ(WriteText(f, r, past), FieldFit::OutOfRange) << past;
    EXPECT_EQ(WriteText(f, r, "12abc"), FieldFit::Unreadable);
    EXPECT_EQ(WriteText(f, r, "0x10"), FieldFit::Unreadable);
    EXPECT_EQ(ReadText(f, r), l.high);  // every refusal left the field alone
    // Blank text is zero, and says so: a form can refuse it where zero is no answer.
    EXPECT_EQ(WriteText(f, r, "  "), FieldFit::Blank);
    EXPECT_EQ(ReadInteger(f, r), 0);
  }
  const FieldDesc& id = layout.Field(4);
  WriteInteger(id, r, 7);
  EXPECT_EQ(WriteInteger(layout.Field(1), r, 300), FieldFit::OutOfRange);
  EXPECT_EQ(WriteReal(id, r, 1e10), FieldFit::OutOfRange);
  EXPECT_EQ(WriteReal(id, r, std::nan("")), FieldFit::OutOfRange);
  EXPECT_EQ(WriteDecimal(id, r, Decimal::Invalid()), FieldFit::OutOfRange);
  EXPECT_EQ(ReadInteger(id, r), 7);
  // Zero is no date and no time; a fraction an integer cannot hold is dropped, not refused.
  EXPECT_EQ(WriteInteger(layout.Field(7), r, 0), FieldFit::Fits);
  EXPECT_EQ(WriteText(id, r, "12.9"), FieldFit::Fits);
  EXPECT_EQ(ReadInteger(id, r), 12);

  // A 20-byte name never keeps the first byte of a two-byte letter; nor a C string of 4 the
  // first two of a three-byte sign.
  const FieldDesc& name = layout.Field(9);
  EXPECT_EQ(WriteText(name, r, std::string(19, 'a') + "\xC3\xA9"), FieldFit::Fits);
  EXPECT_EQ(ReadText(name, r), std::string(19, 'a') + " ");
  WriteText(name, r, std::string(18, 'a') + "\xC3\xA9");
  EXPECT_EQ(ReadText(name, r), std::string(18, 'a') + "\xC3\xA9");
  WriteText(layout.Field(10), r, "\xE2\x82\xAC");
  EXPECT_EQ(ReadText(layout.Field(10), r), "\xE2\x82\xAC");
  WriteText(layout.Field(10), r, "ab\xE2\x82\xAC");
  EXPECT_EQ(ReadText(layout.Field(10), r), "ab");
  EXPECT_EQ(FixedString<3>("a\xE2\x82\xAC").View(), "a  ");
  EXPECT_EQ(CString<3>("\xC3\xA9\xC3\xA9").View(), "\xC3\xA9");
  // Bytes that are not UTF-8 are cut where the size falls.
  WriteText(name, r, std::string(19, 'a') + "\x80\x80");
  EXPECT_EQ(ReadText(name, r), std::string(19, 'a') + "\x80");

  Decimal low;
  Decimal high;
  ASSERT_TRUE(FieldLimits(id, low, high));
  EXPECT_EQ(low.ToText() + " to " + high.ToText(), "-2147483648 to 2147483647");
  EXPECT_FALSE(FieldLimits(name, low, high));
}

}  // namespace
}  // namespace rt

namespace rt {
namespace {

TEST(RecordLayoutTest, DecimalFieldsHoldExactValuesAtTheirPlaces) {
  RecordLayout layout;
  layout.AddField("AMOUNT", FieldType::Decimal, 0, "n12.2", 2);
  layout.AddField("R", FieldType::Real);
  std::vector<char> buffer(layout.Size());
  const FieldDesc& amount = layout.Field(1);
  WriteText(amount, buffer.data(), "1234.565");
  EXPECT_EQ(ReadText(amount, buffer.data()), "1234.57");
  EXPECT_EQ(ReadInteger(amount, buffer.data()), 1234);
  EXPECT_DOUBLE_EQ(ReadReal(amount, buffer.data()), 1234.57);
  WriteInteger(amount, buffer.data(), -7);
  EXPECT_EQ(ReadText(amount, buffer.data()), "-7.00");
  WriteReal(amount, buffer.data(), 0.285);
  EXPECT_EQ(ReadText(amount, buffer.data()), "0.29");
  // Not a number, or too large for the field: refused, the field keeps its value.
  WriteText(amount, buffer.data(), "not a number");
  EXPECT_EQ(ReadText(amount, buffer.data()), "0.29");
  WriteText(amount, buffer.data(), "999999999999999999");
  EXPECT_EQ(ReadText(amount, buffer.data()), "0.29");

  WriteText(layout.Field(2), buffer.data(), "2.5e-3");
  EXPECT_EQ(ReadText(layout.Field(2), buffer.data()), "0.0025");
  WriteText(layout.Field(2), buffer.data(), "1.5x");
  EXPECT_EQ(ReadText(layout.Field(2), buffer.data()), "0.0025");
}

}  // namespace
}  // namespace rt
