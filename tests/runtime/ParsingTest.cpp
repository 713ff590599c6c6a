// SPDX-License-Identifier: GPL-3.0-or-later
// List format strings and the popup syntax.
#include <gtest/gtest.h>

#include "platform/runtime/windows/ListFormat.h"
#include "platform/runtime/windows/PopupMenu.h"

namespace rt {
namespace {

TEST(ListFormatTest, BrowseFormatGivesTwoColumns) {
  auto f = ListFormat::Parse("64R(2)|M~ID~C(0)@n-14@80L(2)|M~File Name~L(2)@s80@");
  ASSERT_TRUE(f.Complete());
  ASSERT_EQ(f.Columns().size(), 2u);
  const ListColumn& id = f.Columns()[0];
  EXPECT_EQ(id.width, 64);
  EXPECT_EQ(id.align, 'R');
  EXPECT_EQ(id.indent, 2);
  EXPECT_TRUE(id.rightBorder);
  EXPECT_TRUE(id.resizable);
  EXPECT_EQ(id.header, "ID");
  EXPECT_EQ(id.headerAlign, 'C');
  EXPECT_EQ(id.headerIndent, 0);
  EXPECT_EQ(id.picture, "n-14");
  const ListColumn& name = f.Columns()[1];
  EXPECT_EQ(name.width, 80);
  EXPECT_EQ(name.align, 'L');
  EXPECT_EQ(name.header, "File Name");
  EXPECT_EQ(name.headerAlign, 'L');
  EXPECT_EQ(name.headerIndent, 2);
  EXPECT_EQ(name.picture, "s80");
}

TEST(ListFormatTest, OtherModifiersAndBrokenFormats) {
  auto f = ListFormat::Parse("40L(1)Y*_~A~@s10@20C~B~R(-3)@n3@");
  ASSERT_EQ(f.Columns().size(), 2u);
  EXPECT_TRUE(f.Columns()[0].underline);
  EXPECT_EQ(f.Columns()[1].headerAlign, 'R');
  EXPECT_EQ(f.Columns()[1].headerIndent, -3);
  // A header or picture without its closing mark ends the parse; columns before it stay.
  auto broken = ListFormat::Parse("40L@s10@30L~unclosed");
  EXPECT_FALSE(broken.Complete());
  EXPECT_EQ(broken.Columns().size(), 1u);
  EXPECT_FALSE(ListFormat::Parse("L@s1@").Complete());
  EXPECT_TRUE(ListFormat::Parse("").Columns().empty());
}

TEST(PopupMenuTest, ItemsSeparatorsSubmenusAndMarks) {
  auto m = PopupMenu::Parse("&Insert|~&Change|-|Sort{+By &Name|By &Date}|[31848(~a.ico)]&Print");
  EXPECT_EQ(m.Count(), 5);
  ASSERT_EQ(m.Items().size(), 5u);  // Insert, Change, separator, Sort, Print
  EXPECT_EQ(m.Items()[0].number, 1);
  EXPECT_TRUE(m.Items()[1].disabled);
  EXPECT_EQ(m.Items()[1].text, "&Change");
  EXPECT_TRUE(m.Items()[2].separator);
  EXPECT_EQ(m.Items()[3].number, 0);
  ASSERT_EQ(m.Items()[3].children.size(), 2u);
  EXPECT_TRUE(m.Items()[3].children[0].checked);
  EXPECT_EQ(m.Find(4)->text, "By &Date");
  EXPECT_EQ(m.Find(5)->text, "&Print");
  EXPECT_EQ(m.Find(5)->attributes, "31848(~a.ico)");
  EXPECT_EQ(m.Find(6), nullptr);
}

TEST(PopupMenuTest, UnbalancedBracesDoNotBreakTheParse) {
  EXPECT_EQ(PopupMenu::Parse("a}}|b{c").Count(), 2);
  EXPECT_EQ(PopupMenu::Parse("").Count(), 0);
  EXPECT_EQ(PopupMenu::Parse("|||").Count(), 0);
}

}  // namespace
}  // namespace rt
