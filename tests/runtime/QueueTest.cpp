// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/values/Queue.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {
namespace {

RecordLayout RowLayout() {
  RecordLayout layout("Rows");
  layout.AddField("Q:ID", FieldType::Long);
  layout.AddField("Q:Name", FieldType::String, 10);
  layout.AddField("Q:Position", FieldType::CString, 16);
  return layout;
}

class QueueTest : public ::testing::Test {
 protected:
  void AddRow(int id, const char* name) {
    q.Field(1).SetInteger(id);
    q.Field("q:name").SetText(name);
    q.Add();
  }
  std::string Ids() {
    std::string ids;
    for (int i = 1; i <= q.Records(); ++i)
      ids += q.RowText(i, 1) + " ";
    return ids;
  }
  Queue q{RowLayout()};
};

TEST_F(QueueTest, AddGetPutDeleteWithOneBasedPositions) {
  AddRow(1, "one");
  AddRow(3, "three");
  q.Field(1).SetInteger(2);
  q.Field(2).SetText("two");
  EXPECT_TRUE(q.Add(2));
  EXPECT_EQ(q.Pointer(), 2);
  EXPECT_EQ(Ids(), "1 2 3 ");

  ASSERT_TRUE(q.Get(3));
  EXPECT_EQ(q.Field(2).Text(), "three     ");
  q.Field(2).SetText("THREE");
  EXPECT_TRUE(q.Put());
  EXPECT_EQ(q.RowText(3, 2), "THREE     ");

  ASSERT_TRUE(q.Get(1));
  EXPECT_TRUE(q.Delete());
  EXPECT_EQ(q.Pointer(), 0);
  EXPECT_EQ(Ids(), "2 3 ");
  // Nothing is current after a delete: a second delete or put must not hit another row.
  EXPECT_FALSE(q.Delete());
  EXPECT_FALSE(q.Put());
  EXPECT_EQ(ErrorCode(), kEntryNotFound);
  EXPECT_EQ(q.Records(), 2);

  // Past the end appends; below 1 fails.
  EXPECT_TRUE(q.Add(99));
  EXPECT_EQ(q.Records(), 3);
  EXPECT_FALSE(q.Add(0));
  EXPECT_EQ(q.Records(), 3);
  q.Free();
  EXPECT_EQ(q.Records(), 0);
  EXPECT_EQ(q.Pointer(), 0);
  EXPECT_EQ(q.Row(1), nullptr);
}

TEST_F(QueueTest, FreedAndDeletedRowsComeBackWithOnlyTheNewEntry) {
  // A page is freed and refilled on every scroll; reused rows must not keep old bytes.
  AddRow(1, "longername");
  AddRow(2, "two");
  ASSERT_TRUE(q.Get(1));
  EXPECT_TRUE(q.Delete());
  q.Free();
  AddRow(7, "x");
  q.Field(1).SetInteger(6);
  q.Field(2).SetText("y");
  EXPECT_TRUE(q.Add(1));
  EXPECT_EQ(Ids(), "6 7 ");
  EXPECT_EQ(q.RowText(1, 2), "y         ");
  EXPECT_EQ(q.RowText(2, 2), "x         ");
}

TEST_F(QueueTest, FailedGetSetsTheErrorAndKeepsTheBuffer) {
  AddRow(1, "one");
  AddRow(2, "two");
  q.Field(2).SetText("typed");
  EXPECT_FALSE(q.Get(3));
  EXPECT_EQ(ErrorCode(), kEntryNotFound);
  EXPECT_FALSE(q.Get(0));
  EXPECT_EQ(q.Field(2).Text(), "typed     ");
  EXPECT_EQ(q.Pointer(), 2);
  EXPECT_TRUE(q.Get(1));
  EXPECT_EQ(ErrorCode(), kNoError);
}

TEST_F(QueueTest, GetByKeyFindsTheFirstMatch) {
  AddRow(5, "a");
  AddRow(7, "b");
  AddRow(7, "c");
  q.ClearBuffer();
  q.Field(1).SetInteger(7);
  ASSERT_TRUE(q.GetByKey("Q:ID"));
  EXPECT_EQ(q.Pointer(), 2);
  EXPECT_EQ(q.Field(2).Text(), "b         ");
  q.Field(2).SetText("c");
  ASSERT_TRUE(q.GetByKey("q:id, q:name"));
  EXPECT_EQ(q.Pointer(), 3);
  q.Field(1).SetInteger(6);
  EXPECT_FALSE(q.GetByKey("Q:ID"));
  EXPECT_EQ(ErrorCode(), kEntryNotFound);
  EXPECT_EQ(q.Field(1).Integer(), 6);
  EXPECT_FALSE(q.GetByKey("Q:Missing"));
  EXPECT_EQ(ErrorCode(), kBadNameError);
}

TEST_F(QueueTest, SortIsStableMultiFieldAndKeepsTheCurrentEntry) {
  AddRow(2, "b");
  AddRow(1, "b");
  AddRow(2, "a");
  AddRow(10, "a");
  ASSERT_TRUE(q.Get(2));  // id 1
  ASSERT_TRUE(q.Sort("+Q:Name,-Q:ID"));
  EXPECT_EQ(Ids(), "10 2 2 1 ");
  EXPECT_EQ(q.Pointer(), 4);
  ASSERT_TRUE(q.Sort("Q:ID"));  // numeric: 10 after 2
  EXPECT_EQ(Ids(), "1 2 2 10 ");
  // Stable: the two 2s keep the order the previous sort gave them ("a" before "b").
  EXPECT_EQ(q.RowText(2, 2), "a         ");
  EXPECT_FALSE(q.Sort("+Q:ID,-Nope"));
  EXPECT_EQ(ErrorCode(), kBadNameError);
  EXPECT_EQ(Ids(), "1 2 2 10 ");
  ASSERT_TRUE(q.Sort("-2"));
  EXPECT_EQ(q.RowText(1, 2), "b         ");
}

TEST_F(QueueTest, RowsAndFieldNamesForListViews) {
  AddRow(42, "x");
  const void* row = q.Row(1);
  ASSERT_NE(row, nullptr);
  EXPECT_EQ(ReadInteger(q.Layout().Field(1), row), 42);
  EXPECT_EQ(q.Who(3), "Q:Position");
  EXPECT_EQ(q.Who(4), "");
  EXPECT_TRUE(q.Field(9).IsNull());
  EXPECT_TRUE(q.Field("nope").IsNull());
  // A copied queue has its own buffer and rows.
  Queue copy = q;
  copy.Field(1).SetInteger(1);
  copy.Add();
  EXPECT_EQ(q.Records(), 1);
  EXPECT_EQ(copy.Records(), 2);
}

}  // namespace
}  // namespace rt
