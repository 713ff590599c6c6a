#include "platform/runtime/values/RecordLayout.h"

#include <gtest/gtest.h>

#include <vector>

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

TEST(RecordLayoutTest, IntegersWrapToTheirWidth) {
  RecordLayout layout;
  layout.AddField("B", FieldType::Byte);
  layout.AddField("S", FieldType::Short);
  std::vector<char> buffer(layout.Size());
  WriteInteger(layout.Field(1), buffer.data(), 257);
  EXPECT_EQ(ReadInteger(layout.Field(1), buffer.data()), 1);
  WriteInteger(layout.Field(2), buffer.data(), -2);
  EXPECT_EQ(ReadInteger(layout.Field(2), buffer.data()), -2);
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
  WriteText(amount, buffer.data(), "not a number");
  EXPECT_EQ(ReadText(amount, buffer.data()), "0.00");
  // Too large for the field: stored as 0 rather than a wrapped value.
  WriteText(amount, buffer.data(), "999999999999999999");
  EXPECT_EQ(ReadText(amount, buffer.data()), "0.00");

  WriteText(layout.Field(2), buffer.data(), "2.5e-3");
  EXPECT_EQ(ReadText(layout.Field(2), buffer.data()), "0.0025");
  WriteText(layout.Field(2), buffer.data(), "1.5x");
  EXPECT_EQ(ReadText(layout.Field(2), buffer.data()), "0");
}

}  // namespace
}  // namespace rt
