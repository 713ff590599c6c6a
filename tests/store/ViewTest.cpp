// SPDX-License-Identifier: GPL-3.0-or-later
// Views over a table of each driver (STORE and PGSTORE): orders, filters as the framework builds
// them, positioning and positions that survive other writes.

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "StoreTestTable.h"
#include "platform/runtime/expressions/BindingScope.h"
#include "platform/runtime/expressions/Bindings.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/expressions/ViewOrder.h"
#include "platform/runtime/files/FilePosition.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/store/Store.h"

namespace {

constexpr int kId = 1;
constexpr int kName = 2;
constexpr int kGrp = 3;

rt::RecordLayout DemoLayout() {
  rt::RecordLayout layout("DemoRec");
  layout.AddField("DEM:ID", rt::FieldType::Long);
  layout.AddField("DEM:FileName", rt::FieldType::String, 40);
  layout.AddField("DEM:Grp", rt::FieldType::Short);
  return layout;
}

std::unique_ptr<rt::File> DemoTable(const std::string& path, const std::string& driver) {
  rt::RegisterStoreDriver();
  auto f = std::make_unique<rt::File>("DEMODATA", "DEM", driver, DemoLayout());
  f->AddKey("DEM:ID_Key", {{kId, true, false}}, true, true);
  f->AddBlob("DEM:DataBlob");
  f->SetName(path);
  return f;
}

struct Row {
  int id = 0;
  std::string name;
  int grp = 0;
  int seq = 0;  // insertion order, which is the record-id order
};

std::string Upper(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

class ViewTest : public storetest::DriverSuite {
 protected:
  void SetUp() override {
    DriverSuite::SetUp();
    if (IsSkipped()) return;
    file_ = DemoTable(path_, driver_);
    ASSERT_EQ(file_->Create(), 0);
    ASSERT_EQ(file_->Open(rt::kOpenReadWriteDenyNone), 0);
  }

  int Add(int id, const std::string& name, int grp = 0) {
    Set(*file_, id, name, grp);
    const int e = file_->Add();
    if (e == 0) rows_.push_back(Row{id, name, grp, static_cast<int>(rows_.size())});
    return e;
  }
  static void Set(rt::File& f, int id, const std::string& name, int grp) {
    f.ClearRecord();
    rt::WriteInteger(f.Layout().Field(kId), f.Record(), id);
    rt::WriteText(f.Layout().Field(kName), f.Record(), name);
    rt::WriteInteger(f.Layout().Field(kGrp), f.Record(), grp);
  }
  int Id() const {
    return static_cast<int>(rt::ReadInteger(file_->Layout().Field(kId), file_->Record()));
  }

  // IDs read until the end of the view.
  std::vector<int> ReadAll(rt::View& v, bool backwards = false) {
    std::vector<int> ids = ReadIds(v, *file_, backwards);
    EXPECT_EQ(rt::ErrorCode(), rt::kNoRecordError);
    return ids;
  }

  // The rows that pass `keep`, in an order given by `less`, record id breaking ties.
  std::vector<int> Expected(const std::function<bool(const Row&)>& keep,
                            const std::function<bool(const Row&, const Row&)>& less) const {
    std::vector<Row> picked;
    for (const Row& r : rows_) {
      if (keep(r)) picked.push_back(r);
    }
    std::stable_sort(picked.begin(), picked.end(), [&](const Row& a, const Row& b) {
      if (less(a, b)) return true;
      if (less(b, a)) return false;
      return a.seq < b.seq;
    });
    std::vector<int> ids;
    for (const Row& r : picked)
      ids.push_back(r.id);
    return ids;
  }

  std::unique_ptr<rt::File> file_;
  std::vector<Row> rows_;
};

std::vector<int> Reversed(std::vector<int> v) {
  std::reverse(v.begin(), v.end());
  return v;
}

TEST(ViewOrderText, ParsesSignsFoldsAndReportsFaults) {
  const rt::RecordLayout layout = DemoLayout();
  std::vector<rt::ViewOrderComponent> c;
  std::string error;
  ASSERT_TRUE(rt::ViewOrder::Parse(" -DEM:Grp , upper( dem:filename ),+DEM:ID", layout, c, error));
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].field, kGrp);
  EXPECT_FALSE(c[0].ascending);
  EXPECT_EQ(c[1].field, kName);
  EXPECT_EQ(c[1].fold, rt::CaseFold::Upper);
  EXPECT_TRUE(c[2].ascending);
  ASSERT_TRUE(rt::ViewOrder::Parse("   ", layout, c, error));
  EXPECT_TRUE(c.empty());
  for (const char* bad : {"DEM:Nope", "UPPER(DEM:ID", "DEM:ID,,DEM:Grp", "DEM:ID DEM:Grp", "-"}) {
    EXPECT_FALSE(rt::ViewOrder::Parse(bad, layout, c, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
    EXPECT_TRUE(c.empty()) << bad;
  }
}

// Names with mixed case, trailing blanks, quotes and shared prefixes, inserted out of ID
// order so that record-id order differs from ID order.
class ViewFilterTest : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    const char* names[] = {"xyzAlpha", "XYZbeta", "abc xyz", "Ab'c",  "ab", "AB",  "aa",  "b'x",
                           "b''y",     "c",       "d",       "xyz",   "xy", "Abz", "ab ", "zzz",
                           "the xyz",  "b'x",     "",        "xyzzy", "AC", "abc", "q'q", "xyZ"};
    int id = 17;
    for (const char* name : names) {
      ASSERT_EQ(Add(id, name, id % 3), 0);
      id = (id * 11) % 29 + 1;  // distinct for the 24 rows
    }
  }
};
ON_BOTH_DRIVERS(ViewFilterTest);

TEST_P(ViewFilterTest, FrameworkFiltersSelectTheSameRowsInEveryOrderAndDirection) {
  struct Case {
    const char* filter;
    std::function<bool(const Row&)> keep;
    int pushed;
  };
  auto trimmed = [](std::string s) {
    while (!s.empty() && s.back() == ' ')
      s.pop_back();
    return s;
  };
  const std::vector<Case> cases = {
      {"DEM:ID >= 5 AND DEM:ID <= 10", [](const Row& r) { return r.id >= 5 && r.id <= 10; }, 2},
      {"DEM:FileName >= 'b''x' AND DEM:FileName <= 'd'",
       [&](const Row& r) { return trimmed(r.name) >= "b'x" && trimmed(r.name) <= "d"; }, 2},
      {"INSTRING('xyz',DEM:FileName,1,1) <> 0",
       [](const Row& r) { return r.name.find("xyz") != std::string::npos; }, 0},
      {"SUB(DEM:FileName,1,3) = 'xyz'", [](const Row& r) { return r.name.rfind("xyz", 0) == 0; },
       0},
      {"UPPER(DEM:FileName) >= 'AB'", [&](const Row& r) { return Upper(trimmed(r.name)) >= "AB"; },
       1},
      {"(DEM:Grp = 1) AND (UPPER(DEM:FileName) = 'AB')",
       [&](const Row& r) { return r.grp == 1 && Upper(trimmed(r.name)) == "AB"; }, 2},
      {"DEM:ID < 8 OR DEM:FileName = 'c'", [](const Row& r) { return r.id < 8 || r.name == "c"; },
       0},
  };
  struct Order {
    const char* text;
    std::function<bool(const Row&, const Row&)> less;
  };
  const std::vector<Order> orders = {
      {"DEM:ID", [](const Row& a, const Row& b) { return a.id < b.id; }},
      {"-DEM:ID", [](const Row& a, const Row& b) { return a.id > b.id; }},
      {"UPPER(DEM:FileName)",
       [&](const Row& a, const Row& b) { return Upper(trimmed(a.name)) < Upper(trimmed(b.name)); }},
      {"-DEM:Grp,DEM:FileName",
       [&](const Row& a, const Row& b) {
         if (a.grp != b.grp) return a.grp > b.grp;
         return trimmed(a.name) < trimmed(b.name);
       }},
      {"", [](const Row&, const Row&) { return false; }},
  };
  for (const Order& order : orders) {
    for (const Case& c : cases) {
      rt::View view(*file_);
      ASSERT_EQ(view.SetOrder(order.text), 0) << order.text;
      ASSERT_EQ(view.SetFilter(c.filter), 0) << c.filter;
      ASSERT_EQ(view.Open(), 0);
      ASSERT_EQ(view.SetBuffer(3), 0);  // small batches: continuation across many trips
      EXPECT_EQ(view.AppliedConditions(), c.pushed) << c.filter;
      const std::vector<int> expected = Expected(c.keep, order.less);
      ASSERT_FALSE(expected.empty()) << c.filter;
      EXPECT_EQ(ReadAll(view), expected) << order.text << " / " << c.filter;
      ASSERT_EQ(view.Set(0), 0);
      EXPECT_EQ(ReadAll(view, true), Reversed(expected)) << order.text << " / " << c.filter;
    }
  }
}

TEST_P(ViewFilterTest, TurningBackAfterTheEndGivesTheRecordsBeforeTheLastOne) {
  rt::View view(*file_);
  ASSERT_EQ(view.SetOrder("DEM:ID"), 0);
  ASSERT_EQ(view.SetFilter("DEM:ID >= 5 AND DEM:ID <= 10"), 0);
  ASSERT_EQ(view.Open(), 0);
  const std::vector<int> all = ReadAll(view);
  ASSERT_GE(all.size(), 3u);
  // The failed read left the last record in the buffer and as the current one.
  EXPECT_EQ(Id(), all.back());
  ASSERT_EQ(view.Previous(), 0);
  EXPECT_EQ(Id(), all[all.size() - 2]);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), all.back());
}

TEST_P(ViewFilterTest, MalformedFilterShowsNoRecordAndMalformedOrderIsDropped) {
  rt::View view(*file_);
  ASSERT_EQ(view.Open(), 0);
  EXPECT_EQ(view.SetFilter("DEM:ID >= AND ("), rt::kExpressionSyntaxError);
  EXPECT_EQ(rt::ErrorCode(), rt::kExpressionSyntaxError);
  EXPECT_FALSE(rt::ErrorText().empty());
  EXPECT_EQ(view.Filter(), "");
  EXPECT_TRUE(ReadAll(view).empty());
  ASSERT_EQ(view.SetFilter(""), 0);
  EXPECT_EQ(ReadAll(view).size(), rows_.size());

  EXPECT_EQ(view.SetOrder("UPPER(DEM:FileName"), rt::kExpressionSyntaxError);
  EXPECT_FALSE(rt::ErrorText().empty());
  EXPECT_EQ(view.Order(), "");
  ASSERT_EQ(view.Set(0), 0);
  const std::vector<int> recordOrder =
      Expected([](const Row&) { return true; }, [](const Row&, const Row&) { return false; });
  EXPECT_EQ(ReadAll(view), recordOrder);

  // A good filter afterwards works as usual.
  auto byId = [](const Row& a, const Row& b) { return a.id < b.id; };
  ASSERT_EQ(view.SetFilter("DEM:ID <= 3"), 0);
  ASSERT_EQ(view.SetOrder("DEM:ID"), 0);
  EXPECT_EQ(ReadAll(view), Expected([](const Row& r) { return r.id <= 3; }, byId));
}

TEST_P(ViewFilterTest, FilterOnABoundVariableIsEvaluatedAtEachRead) {
  std::int32_t low = 20;
  rt::BindingScope scope;
  rt::Bindings::Current().Bind("LOC:Low", rt::AnyRef::Of(low));
  rt::View view(*file_);
  ASSERT_EQ(view.SetOrder("DEM:ID"), 0);
  ASSERT_EQ(view.SetFilter("DEM:ID > LOC:Low AND DEM:ID < 24"), 0);
  ASSERT_EQ(view.Open(), 0);
  auto byId = [](const Row& a, const Row& b) { return a.id < b.id; };
  const auto first = Expected([](const Row& r) { return r.id > 20 && r.id < 24; }, byId);
  ASSERT_GE(first.size(), 2u);
  EXPECT_EQ(ReadAll(view), first);
  low = first[0];
  ASSERT_EQ(view.Set(0), 0);
  EXPECT_EQ(ReadAll(view), std::vector<int>(first.begin() + 1, first.end()));
}

TEST_P(ViewFilterTest, ReadsLeaveTheThreadsNamesAndTheBufferAtTheEndAsTheyWere) {
  rt::Bindings& bindings = rt::Bindings::Current();
  const int depth = bindings.Depth();
  rt::View filtered(*file_);
  ASSERT_EQ(filtered.SetOrder("DEM:ID"), 0);
  ASSERT_EQ(filtered.SetFilter("DEM:Grp = 1"), 0);
  ASSERT_EQ(filtered.Open(), 0);
  auto byId = [](const Row& a, const Row& b) { return a.id < b.id; };
  const auto inGroup = Expected([](const Row& r) { return r.grp == 1; }, byId);
  // Twice: the record's names lent for the first reads serve the later ones too.
  EXPECT_EQ(ReadAll(filtered), inGroup);
  ASSERT_EQ(filtered.Set(0), 0);
  EXPECT_EQ(ReadAll(filtered), inGroup);
  EXPECT_EQ(bindings.Depth(), depth);
  EXPECT_EQ(bindings.Find("DEM:ID"), nullptr);

  // Without a filter, a read past the last record changes nothing in the buffer.
  rt::View all(*file_);
  ASSERT_EQ(all.SetOrder("DEM:ID"), 0);
  ASSERT_EQ(all.Open(), 0);
  const std::vector<int> ordered = ReadAll(all);
  ASSERT_EQ(ordered.size(), rows_.size());
  Set(*file_, 999, "edited", 2);
  EXPECT_EQ(all.Next(), rt::kNoRecordError);
  EXPECT_EQ(Id(), 999);
  ASSERT_EQ(all.Previous(), 0);
  EXPECT_EQ(Id(), ordered[ordered.size() - 2]);
}

class ViewPositionTest : public ViewTest {
 protected:
  void SetUp() override {
    ViewTest::SetUp();
    for (int id = 1; id <= 60; ++id) {
      ASSERT_EQ(Add(id, "name" + std::to_string(100 - id), id % 4), 0);
    }
  }
};
ON_BOTH_DRIVERS(ViewPositionTest);

TEST_P(ViewPositionTest, DescendingAndFoldedOrdersReadFromTheMiddle) {
  rt::View view(*file_);
  ASSERT_EQ(view.SetOrder("-DEM:ID"), 0);
  ASSERT_EQ(view.Open(), 0);
  ASSERT_EQ(view.SetBuffer(4), 0);
  Set(*file_, 30, "", 0);
  ASSERT_EQ(view.Set(1), 0);
  std::vector<int> ids;
  for (int i = 0; i < 5 && view.Next() == 0; ++i)
    ids.push_back(Id());
  EXPECT_EQ(ids, (std::vector<int>{30, 29, 28, 27, 26}));
  Set(*file_, 30, "", 0);
  ASSERT_EQ(view.Set(1), 0);
  ASSERT_EQ(view.Previous(), 0);
  EXPECT_EQ(Id(), 30);
  ASSERT_EQ(view.Previous(), 0);
  EXPECT_EQ(Id(), 31);

  // Names are "name99" (ID 1) down to "name40" (ID 60); a lower-case buffer value is folded.
  ASSERT_EQ(view.SetOrder("UPPER(DEM:FileName)"), 0);
  Set(*file_, 0, "NAME5", 0);
  ASSERT_EQ(view.Set(1), 0);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 50);  // "name50", the first at or after "NAME5"
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 49);
  Set(*file_, 0, "name5", 0);
  ASSERT_EQ(view.Set(1), 0);
  ASSERT_EQ(view.Previous(), 0);
  EXPECT_EQ(Id(), 51);  // "name49", the last before "NAME5"
}

TEST_P(ViewPositionTest, SetByTheFirstComponentsOfTheOrder) {
  rt::View view(*file_);
  ASSERT_EQ(view.SetOrder("-DEM:Grp,UPPER(DEM:FileName),DEM:ID"), 0);
  ASSERT_EQ(view.Open(), 0);
  // Group 2 holds IDs 2, 6, ..., 58, named name98, name94, ..., name42.
  Set(*file_, 0, "", 2);
  ASSERT_EQ(view.Set(1), 0);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 58);  // name42, the lowest name of group 2
  ASSERT_EQ(view.Set(1), 0);
  ASSERT_EQ(view.Previous(), 0);
  EXPECT_EQ(Id(), 2);  // name98, the last record of group 2

  Set(*file_, 0, "name7", 2);
  ASSERT_EQ(view.Set(2), 0);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 30);  // name70
  Set(*file_, 0, "name7", 2);
  ASSERT_EQ(view.Set(2), 0);
  ASSERT_EQ(view.Previous(), 0);
  EXPECT_EQ(Id(), 34);  // name66

  // Past the end of group 2 the view goes on into group 1.
  Set(*file_, 0, "zzz", 2);
  ASSERT_EQ(view.Set(2), 0);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(rt::ReadInteger(file_->Layout().Field(kGrp), file_->Record()), 1);
  // More components than the order has count as all of them.
  Set(*file_, 30, "name70", 2);
  ASSERT_EQ(view.Set(9), 0);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 30);
}

TEST_P(ViewPositionTest, PositionsSurviveInsertsAndDeletes) {
  rt::View view(*file_);
  ASSERT_EQ(view.SetOrder("UPPER(DEM:FileName)"), 0);
  ASSERT_EQ(view.Open(), 0);
  EXPECT_TRUE(view.Position().empty());
  EXPECT_EQ(rt::ErrorCode(), rt::kNoRecordError);
  std::vector<std::string> positions;
  std::vector<int> ids;
  for (int i = 0; i < 12 && view.Next() == 0; ++i) {
    positions.push_back(view.Position());
    ids.push_back(Id());
  }
  ASSERT_EQ(ids.size(), 12u);  // IDs 60, 59, ..., 49
  EXPECT_LE(positions[0].size(), rt::kMaxPositionSize);
  EXPECT_NE(positions[3], positions[4]);

  // Another user adds records on both sides and deletes the record at position 5.
  auto other = DemoTable(path_, driver_);
  ASSERT_EQ(other->Open(rt::kOpenReadWriteDenyNone), 0);
  for (const char* name : {"name0", "name455", "name9999"}) {
    Set(*other, 100 + static_cast<int>(std::string(name).size()), name, 0);
    ASSERT_EQ(other->Add(), 0);
  }
  Set(*other, ids[5], "", 0);
  ASSERT_EQ(other->Get(*other->Key(1)), 0);
  ASSERT_EQ(other->Delete(), 0);

  ASSERT_EQ(view.Reset(positions[3]), 0);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), ids[3]);
  EXPECT_EQ(view.Position(), positions[3]);  // the same record gives the same position
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), ids[4]);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 107);  // "name455", added after the deleted "name45"
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), ids[6]);

  // The deleted record's position leads to its neighbours in both directions.
  ASSERT_EQ(view.Reset(positions[5]), 0);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 107);
  ASSERT_EQ(view.Reset(positions[5]), 0);
  ASSERT_EQ(view.Previous(), 0);
  EXPECT_EQ(Id(), ids[4]);
  EXPECT_EQ(view.Reget(positions[5]), rt::kRecordNotFoundError);
  EXPECT_EQ(view.Reset("not a position"), rt::kDriverError);
  EXPECT_EQ(view.Reget(""), rt::kDriverError);
}

TEST_P(ViewPositionTest, AscendingOrdersPageThroughDuplicatesFromPositionsAndValues) {
  // Plain ascending orders continue from an anchor with one comparison of row values; pages
  // smaller than a group of equal values must neither skip nor repeat records.
  auto byGrpName = [](const Row& a, const Row& b) {
    return a.grp != b.grp ? a.grp < b.grp : a.name < b.name;
  };
  const std::vector<std::pair<const char*, std::function<bool(const Row&, const Row&)>>> orders = {
      {"DEM:ID", [](const Row& a, const Row& b) { return a.id < b.id; }},
      {"DEM:Grp", [](const Row& a, const Row& b) { return a.grp < b.grp; }},
      {"DEM:Grp,DEM:FileName", byGrpName}};
  for (const auto& [order, less] : orders) {
    SCOPED_TRACE(order);
    rt::View view(*file_);
    ASSERT_EQ(view.SetOrder(order), 0);
    ASSERT_EQ(view.Open(), 0);
    ASSERT_EQ(view.SetBuffer(4), 0);
    const auto all = Expected([](const Row&) { return true; }, less);
    std::vector<std::string> positions;
    std::vector<int> ids;
    while (view.Next() == 0) {
      ids.push_back(Id());
      positions.push_back(view.Position());
    }
    EXPECT_EQ(ids, all);
    ASSERT_EQ(view.Set(0), 0);
    EXPECT_EQ(ReadAll(view, true), Reversed(all));
    for (std::size_t i = 5; i < positions.size(); i += 7) {
      ASSERT_EQ(view.Reset(positions[i]), 0);
      ASSERT_EQ(view.Next(), 0);
      EXPECT_EQ(Id(), all[i]);
      ASSERT_EQ(view.Next(), 0);
      EXPECT_EQ(Id(), all[i + 1]);
      ASSERT_EQ(view.Reset(positions[i]), 0);
      ASSERT_EQ(view.Previous(), 0);
      EXPECT_EQ(Id(), all[i]);
      ASSERT_EQ(view.Previous(), 0);
      EXPECT_EQ(Id(), all[i - 1]);
    }
    // By the first component's value: ID 30, or the first and the last record of group 2.
    const bool byId = order == std::string("DEM:ID");
    const auto group = Expected([](const Row& r) { return r.grp == 2; }, less);
    Set(*file_, 30, "", 2);
    ASSERT_EQ(view.Set(1), 0);
    ASSERT_EQ(view.Next(), 0);
    EXPECT_EQ(Id(), byId ? 30 : group.front());
    Set(*file_, 30, "", 2);
    ASSERT_EQ(view.Set(1), 0);
    ASSERT_EQ(view.Previous(), 0);
    EXPECT_EQ(Id(), byId ? 30 : group.back());
  }
}

TEST_P(ViewPositionTest, ReadingBackFromTheFirstRowOfALocatedValueInAQuickScan) {
  // Groups of equal values (a key with duplicates): the first row read from a value, read
  // back from in the same quick scan, comes first and its group's other rows do not.
  const auto less = [](const Row& a, const Row& b) { return a.grp < b.grp; };
  const auto all = Expected([](const Row&) { return true; }, less);
  const auto group = Expected([](const Row& r) { return r.grp == 2; }, less);
  const auto at = [&all](int id) { return std::find(all.begin(), all.end(), id) - all.begin(); };
  rt::View view(*file_);
  ASSERT_EQ(view.SetOrder("DEM:Grp"), 0);
  ASSERT_EQ(view.Open(), 0);
  ASSERT_EQ(view.SetPrefetch(5), 0);
  ASSERT_EQ(file_->Send("QUICKSCAN=on"), 0);
  for (const int direction : {1, -1}) {
    SCOPED_TRACE(direction);
    Set(*file_, 0, "", 2);
    ASSERT_EQ(view.Set(1), 0);
    ASSERT_EQ(direction > 0 ? view.Next() : view.Previous(), 0);
    const int head = Id();
    EXPECT_EQ(head, direction > 0 ? group.front() : group.back());
    const std::string position = view.Position();
    ASSERT_EQ(view.Reset(position), 0);
    std::vector<int> back;
    for (int i = 0; i < 3 && (direction > 0 ? view.Previous() : view.Next()) == 0; ++i)
      back.push_back(Id());
    const auto i = at(head);
    const std::vector<int> expected = {all[i], all[i - direction], all[i - 2 * direction]};
    EXPECT_EQ(back, expected);
  }
  // A row of a lower record id joins the group in between: reading back finds it.
  Set(*file_, 0, "", 2);
  ASSERT_EQ(view.Set(1), 0);
  ASSERT_EQ(view.Next(), 0);
  const std::string position = view.Position();
  const int head = Id();
  Set(*file_, 1, "", 0);
  ASSERT_EQ(file_->Get(*file_->Key(1)), 0);
  rt::WriteInteger(file_->Layout().Field(kGrp), file_->Record(), 2);
  ASSERT_EQ(file_->Put(), 0);
  ASSERT_EQ(view.Reset(position), 0);
  ASSERT_EQ(view.Previous(), 0);
  EXPECT_EQ(Id(), head);
  ASSERT_EQ(view.Previous(), 0);
  EXPECT_EQ(Id(), 1);
  EXPECT_EQ(file_->Send("QUICKSCAN=off"), 0);
}

TEST_P(ViewPositionTest, AnchorShortOfTheFiltersBoundReadsFromTheBound) {
  // The filter's bound, not the anchor, starts the index range; the rows are the same.
  rt::View all(*file_);
  ASSERT_EQ(all.SetOrder("DEM:ID"), 0);
  ASSERT_EQ(all.Open(), 0);
  std::vector<std::string> positions(61);
  while (all.Next() == 0)
    positions[Id()] = all.Position();
  for (const char* order : {"DEM:ID", "-DEM:ID"}) {
    SCOPED_TRACE(order);
    const bool up = order[0] != '-';
    rt::View view(*file_);
    ASSERT_EQ(view.SetOrder(order), 0);
    ASSERT_EQ(view.SetFilter("DEM:ID > 40 AND DEM:ID <= 50"), 0);
    ASSERT_EQ(view.Open(), 0);
    ASSERT_EQ(view.Reset(positions[up ? 10 : 58]), 0);
    ASSERT_EQ(view.Next(), 0);
    EXPECT_EQ(Id(), up ? 41 : 50);
    ASSERT_EQ(view.Reset(positions[up ? 58 : 10]), 0);
    ASSERT_EQ(view.Previous(), 0);
    EXPECT_EQ(Id(), up ? 50 : 41);
    Set(*file_, up ? 3 : 59, "", 0);
    ASSERT_EQ(view.Set(1), 0);
    std::vector<int> ids = ReadAll(view);
    ASSERT_EQ(ids.size(), 10u);
    EXPECT_EQ(ids.front(), up ? 41 : 50);
  }
}

TEST_P(ViewPositionTest, PositionFromAnotherOrderAndResetToTheFilesRecord) {
  rt::View view(*file_);
  ASSERT_EQ(view.SetOrder("DEM:ID"), 0);
  ASSERT_EQ(view.Open(), 0);
  for (int i = 0; i < 10; ++i)
    ASSERT_EQ(view.Next(), 0);
  const std::string position = view.Position();
  ASSERT_EQ(Id(), 10);

  // After an order change the position still names its record.
  ASSERT_EQ(view.SetOrder("-DEM:Grp,DEM:ID"), 0);
  ASSERT_EQ(view.Reset(position), 0);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 10);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 14);

  // The file's current record, read by key.
  Set(*file_, 41, "", 0);
  ASSERT_EQ(file_->Get(*file_->Key(1)), 0);
  ASSERT_EQ(view.ResetToFile(), 0);
  ASSERT_EQ(view.Previous(), 0);
  EXPECT_EQ(Id(), 41);
  ASSERT_EQ(view.Previous(), 0);
  EXPECT_EQ(Id(), 37);

  // Reget reads a record again and continues after it.
  ASSERT_EQ(view.Reget(position), 0);
  EXPECT_EQ(Id(), 10);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 14);
}

TEST_P(ViewPositionTest, ReadsSeeChangesMadeAfterRowsWereReadAhead) {
  rt::View view(*file_);
  ASSERT_EQ(view.SetOrder("DEM:ID"), 0);
  ASSERT_EQ(view.Open(), 0);
  ASSERT_EQ(view.SetBuffer(20, 2, 0, 60), 0);
  ASSERT_EQ(view.Next(), 0);
  ASSERT_EQ(Id(), 1);

  auto other = DemoTable(path_, driver_);
  ASSERT_EQ(other->Open(rt::kOpenReadWriteDenyNone), 0);
  Set(*other, 2, "", 0);
  ASSERT_EQ(other->Get(*other->Key(1)), 0);
  ASSERT_EQ(other->Delete(), 0);
  // A server table hears of another client's change with its next exchange with the server.
  std::int64_t count = 0;
  ASSERT_EQ(file_->Records(count), 0);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 3);

  // This thread's own delete through the file.
  Set(*file_, 4, "", 0);
  ASSERT_EQ(file_->Get(*file_->Key(1)), 0);
  ASSERT_EQ(file_->Delete(), 0);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 5);
}

// The first and last rows of the order, as a browse's thumb reads them after a page: they
// follow another client's inserts, this thread's delete and a rolled-back insert.
TEST_P(ViewPositionTest, TheOrdersEndsFollowChangesAndARolledBackInsert) {
  rt::View view(*file_);
  ASSERT_EQ(view.SetOrder("DEM:ID"), 0);
  ASSERT_EQ(view.Open(), 0);
  auto ends = [&] {
    std::vector<int> ids;
    for (bool last : {false, true}) {
      EXPECT_EQ(view.Set(), 0);
      EXPECT_EQ(last ? view.Previous() : view.Next(), 0);
      ids.push_back(Id());
    }
    return ids;
  };
  Set(*file_, 30, "", 0);
  ASSERT_EQ(view.Set(1), 0);
  ASSERT_EQ(view.Next(), 0);
  EXPECT_EQ(Id(), 30);
  EXPECT_EQ(ends(), (std::vector<int>{1, 60}));

  auto other = DemoTable(path_, driver_);
  ASSERT_EQ(other->Open(rt::kOpenReadWriteDenyNone), 0);
  for (int id : {0, 61}) {
    Set(*other, id, "other", 0);
    ASSERT_EQ(other->Add(), 0);
  }
  // A server table hears of another client's change with its next exchange with the server.
  std::int64_t count = 0;
  ASSERT_EQ(file_->Records(count), 0);
  EXPECT_EQ(ends(), (std::vector<int>{0, 61}));

  ASSERT_EQ(file_->StartTransaction(1), 0);
  Set(*file_, -1, "gone", 0);
  ASSERT_EQ(file_->Add(), 0);
  EXPECT_EQ(ends(), (std::vector<int>{-1, 61}));
  ASSERT_EQ(file_->Rollback(), 0);
  EXPECT_EQ(ends(), (std::vector<int>{0, 61}));

  Set(*file_, 61, "", 0);
  ASSERT_EQ(file_->Get(*file_->Key(1)), 0);
  ASSERT_EQ(file_->Delete(), 0);
  EXPECT_EQ(ends(), (std::vector<int>{0, 60}));

  // Another handle of this process changes the table and the ends are read at once, before
  // any other exchange could bring the server's word of it; the same again after a page.
  for (int id = -2; id > -12; --id) {
    Set(*other, id, "other", 0);
    ASSERT_EQ(other->Add(), 0);
    EXPECT_EQ(ends(), (std::vector<int>{id, 60}));
    ASSERT_EQ(view.Set(1), 0);
    ASSERT_EQ(view.Next(), 0);
  }
}

// The ends of filtered orders, each filter after others of the same order: a range on the
// order's first expression, open on one side, empty, or closed; another handle's insert and
// delete in between; a descending and a folded text order.
TEST_P(ViewPositionTest, FilteredOrdersEndsFollowTheFilterAndOtherHandlesChanges) {
  rt::View view(*file_);
  auto ends = [&](const std::string& order, const std::string& filter) {
    EXPECT_EQ(view.SetOrder(order), 0);
    EXPECT_EQ(view.SetFilter(filter), 0) << filter;
    if (!view.IsOpen()) {
      EXPECT_EQ(view.Open(), 0);
    }
    std::vector<int> ids;
    for (bool last : {false, true}) {
      EXPECT_EQ(view.Set(), 0);
      const int e = last ? view.Previous() : view.Next();
      ids.push_back(e == 0 ? Id() : -e);
    }
    return ids;
  };
  const int none = -rt::kNoRecordError;
  EXPECT_EQ(ends("DEM:ID", ""), (std::vector<int>{1, 60}));
  EXPECT_EQ(ends("DEM:ID", "DEM:ID >= 30"), (std::vector<int>{30, 60}));
  EXPECT_EQ(ends("DEM:ID", "DEM:ID > 60"), (std::vector<int>{none, none}));
  EXPECT_EQ(ends("DEM:ID", "DEM:ID <= 20"), (std::vector<int>{1, 20}));
  EXPECT_EQ(ends("DEM:ID", "DEM:ID > 10 AND DEM:ID < 15"), (std::vector<int>{11, 14}));
  EXPECT_EQ(ends("DEM:ID", "DEM:ID < 0.5"), (std::vector<int>{none, none}));
  EXPECT_EQ(ends("DEM:ID", "DEM:ID >= 59.5"), (std::vector<int>{60, 60}));

  auto other = DemoTable(path_, driver_);
  ASSERT_EQ(other->Open(rt::kOpenReadWriteDenyNone), 0);
  Set(*other, 70, "other", 0);
  ASSERT_EQ(other->Add(), 0);
  EXPECT_EQ(ends("DEM:ID", "DEM:ID >= 30"), (std::vector<int>{30, 70}));
  EXPECT_EQ(ends("DEM:ID", "DEM:ID > 60"), (std::vector<int>{70, 70}));
  ASSERT_EQ(other->Delete(), 0);
  EXPECT_EQ(ends("DEM:ID", "DEM:ID > 60"), (std::vector<int>{none, none}));
  EXPECT_EQ(ends("DEM:ID", "DEM:ID >= 31"), (std::vector<int>{31, 60}));
  // The view's first row deleted by another handle after a page read from the start, and
  // an empty view that another handle's insert fills.
  Set(*other, 31, "", 0);
  ASSERT_EQ(other->Get(*other->Key(1)), 0);
  ASSERT_EQ(other->Delete(), 0);
  EXPECT_EQ(ends("DEM:ID", "DEM:ID >= 31"), (std::vector<int>{32, 60}));
  EXPECT_EQ(ends("DEM:ID", "DEM:ID > 60"), (std::vector<int>{none, none}));
  Set(*other, 61, "other", 0);
  ASSERT_EQ(other->Add(), 0);
  EXPECT_EQ(ends("DEM:ID", "DEM:ID > 60"), (std::vector<int>{61, 61}));
  ASSERT_EQ(other->Delete(), 0);

  // A read from a record short of the filter's bound starts where the view starts, in either
  // direction of the order; from beyond the bound it finds nothing.
  auto from = [&](int id, bool forward) {
    Set(*file_, id, "", 0);
    EXPECT_EQ(file_->Get(*file_->Key(1)), 0);
    EXPECT_EQ(view.ResetToFile(), 0);
    std::vector<int> ids;
    for (int i = 0; i < 2; ++i) {
      const int e = forward ? view.Next() : view.Previous();
      ids.push_back(e == 0 ? Id() : -e);
    }
    return ids;
  };
  ASSERT_EQ(view.SetFilter("DEM:ID >= 30"), 0);
  EXPECT_EQ(from(10, true), (std::vector<int>{30, 32}));
  EXPECT_EQ(from(10, false), (std::vector<int>{none, none}));
  EXPECT_EQ(from(40, true), (std::vector<int>{40, 41}));
  ASSERT_EQ(view.SetFilter("DEM:ID > 30 AND DEM:ID <= 33"), 0);
  EXPECT_EQ(from(50, false), (std::vector<int>{33, 32}));
  EXPECT_EQ(from(30, true), (std::vector<int>{32, 33}));
  ASSERT_EQ(view.SetOrder("-DEM:ID"), 0);
  ASSERT_EQ(view.SetFilter("DEM:ID <= 20"), 0);
  EXPECT_EQ(from(45, true), (std::vector<int>{20, 19}));
  EXPECT_EQ(from(45, false), (std::vector<int>{none, none}));

  EXPECT_EQ(ends("-DEM:ID", ""), (std::vector<int>{60, 1}));
  EXPECT_EQ(ends("-DEM:ID", "DEM:ID >= 30"), (std::vector<int>{60, 30}));
  EXPECT_EQ(ends("-DEM:ID", "DEM:ID <= 20"), (std::vector<int>{20, 1}));
  // Names run from "name99" (ID 1) down to "name40" (ID 60).
  EXPECT_EQ(ends("UPPER(DEM:FileName)", ""), (std::vector<int>{60, 1}));
  EXPECT_EQ(ends("UPPER(DEM:FileName)", "UPPER(DEM:FileName) >= 'NAME90'"),
            (std::vector<int>{10, 1}));
  EXPECT_EQ(ends("UPPER(DEM:FileName)", "UPPER(DEM:FileName) < 'NAME5'"),
            (std::vector<int>{60, 51}));
  EXPECT_EQ(ends("UPPER(DEM:FileName)", "UPPER(DEM:FileName) > 'name'"),
            (std::vector<int>{none, none}));
}

TEST_P(ViewPositionTest, WatchedRegetDetectsAnotherStationsChange) {
  rt::View view(*file_);
  ASSERT_EQ(view.SetOrder("DEM:ID"), 0);
  ASSERT_EQ(view.Open(), 0);
  ASSERT_EQ(view.Next(), 0);
  const std::string position = view.Position();

  ASSERT_EQ(view.Watch(), 0);
  ASSERT_EQ(view.Reget(position), 0);
  auto other = DemoTable(path_, driver_);
  ASSERT_EQ(other->Open(rt::kOpenReadWriteDenyNone), 0);
  Set(*other, 1, "", 0);
  ASSERT_EQ(other->Get(*other->Key(1)), 0);
  rt::WriteText(other->Layout().Field(kName), other->Record(), "changed");
  ASSERT_EQ(other->Put(), 0);

  rt::WriteText(file_->Layout().Field(kName), file_->Record(), "mine");
  EXPECT_EQ(file_->Put(), rt::kRecordChangedError);
}

TEST_P(ViewPositionTest, OrderIndexIsMadeOnDemandAndKeysAreReused) {
  if (OnServer()) GTEST_SKIP() << "reads the index names of a local table file";
  {
    rt::View view(*file_);
    ASSERT_EQ(view.SetOrder("-DEM:ID"), 0);
    ASSERT_EQ(view.Open(), 0);
    ASSERT_EQ(view.SetOrder("UPPER(DEM:FileName),-DEM:ID"), 0);
  }
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((path_ + ".sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  std::vector<std::string> names;
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE name LIKE 'view:%'", -1, &s,
                     nullptr);
  while (sqlite3_step(s) == SQLITE_ROW)
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  sqlite3_finalize(s);
  sqlite3_close(db);
  EXPECT_EQ(names, (std::vector<std::string>{"view:upper(\"FileName\") ASC, \"ID\" DESC"}));

  // The table still opens and builds with the extra index.
  ASSERT_EQ(file_->Close(), 0);
  ASSERT_EQ(file_->Build(), 0);
  ASSERT_EQ(file_->Open(rt::kOpenReadWriteDenyNone), 0);
}

TEST_P(ViewPositionTest, ClosedFileOrViewAnswersErrorsWithoutHarm) {
  rt::View view(*file_);
  EXPECT_EQ(view.Next(), rt::kFileNotOpenError);
  EXPECT_EQ(view.Close(), rt::kFileNotOpenError);
  ASSERT_EQ(view.Open(), 0);
  EXPECT_EQ(view.Open(), rt::kIsOpenError);
  ASSERT_EQ(view.Next(), 0);
  ASSERT_EQ(file_->Close(), 0);
  EXPECT_EQ(view.Next(), rt::kFileNotOpenError);
  EXPECT_EQ(view.Set(0), rt::kFileNotOpenError);
  EXPECT_TRUE(view.Position().empty());
  ASSERT_EQ(view.Close(), 0);

  rt::View unopened(*file_);
  EXPECT_EQ(unopened.Open(), rt::kFileNotOpenError);
  EXPECT_FALSE(unopened.IsOpen());
}

}  // namespace
