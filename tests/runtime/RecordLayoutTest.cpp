#include "platform/runtime/RecordLayout.h"

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
