// SPDX-License-Identifier: GPL-3.0-or-later
// Query by example: the filter text built from typed values, and a query applied to a browse
// over a real table, saved in a real INI file and offered again after a restart.

#include "framework/browse/QueryManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "framework/browse/BrowseManager.h"
#include "framework/browse/QueryPopup.h"
#include "framework/browse/StepLong.h"
#include "framework/error/ErrorManager.h"
#include "framework/util/IniManager.h"
#include "framework/util/PopupManager.h"
#include "platform/runtime/expressions/Expression.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "support/BrowseFixture.h"
#include "support/Robot.h"
#include "support/WorkDir.h"

namespace {

QueryManager& With(QueryManager& q, std::initializer_list<std::pair<int, const char*>> values) {
  q.ClearValues();
  for (auto& [index, value] : values)
    q.Fields[index].Middle = value;
  return q;
}

TEST(QueryFilterTest, ValuesBecomeQuotedConditionsJoinedWithAnd) {
  ErrorManager errors;
  QueryManager q;
  q.Init(errors, nullptr, "Docs");
  q.AddItem("DOC:Name", "Name", "s20");
  q.AddItem("DOC:ID", "ID", "n-7");
  q.AddItem("UPPER(DOC:Title)", "Title", "s40");

  EXPECT_EQ(With(q, {}).GetFilter(), "");
  EXPECT_EQ(With(q, {{0, "xyz*"}}).GetFilter(), "SUB(DOC:Name,1,3) = 'xyz'");
  EXPECT_EQ(With(q, {{0, "*xyz"}}).GetFilter(), "INSTRING('xyz',DOC:Name,1,1) <> 0");
  EXPECT_EQ(With(q, {{0, "o'brien"}}).GetFilter(), "(DOC:Name = 'o''brien')");
  EXPECT_EQ(With(q, {{0, "ab"}, {1, ">=12"}}).GetFilter(), "(DOC:Name = 'ab') AND (DOC:ID >= 12)");
  EXPECT_EQ(With(q, {{1, "<>5"}}).GetFilter(), "(DOC:ID <> 5)");
  EXPECT_EQ(With(q, {{1, "<5"}}).GetFilter(), "(DOC:ID < 5)");
  EXPECT_EQ(With(q, {{0, "~ab"}}).GetFilter(), "(DOC:Name ~= 'ab')");
  // Case: "^" folds both sides; a column named UPPER(x) is compared as x otherwise.
  EXPECT_EQ(With(q, {{0, "^abc"}}).GetFilter(), "(UPPER(DOC:Name) = 'ABC')");
  EXPECT_EQ(With(q, {{2, "^abc"}}).GetFilter(), "(UPPER(DOC:Title) = 'ABC')");
  EXPECT_EQ(With(q, {{2, "Abc"}}).GetFilter(), "(DOC:Title = 'Abc')");
  // A numeric column compares its displayed form for patterns.
  EXPECT_EQ(With(q, {{1, "12*"}}).GetFilter(), "SUB(LEFT(FORMAT(DOC:ID,@n-7)),1,2) = '12'");

  // Text that tries to leave its literal stays a literal, on every kind of column.
  EXPECT_EQ(With(q, {{0, "x') OR (1=1"}}).GetFilter(), "(DOC:Name = 'x'') OR (1=1')");
  EXPECT_EQ(With(q, {{1, "1 OR 1=1"}}).GetFilter(), "(DOC:ID = '1 OR 1=1')");
  EXPECT_EQ(With(q, {{0, "*50%'"}}).GetFilter(), "INSTRING('50%''',DOC:Name,1,1) <> 0");
}

TEST(QueryFilterTest, RangesGiveLowAndHighBoundsAndSingleValueModeUsesTheLowOne) {
  ErrorManager errors;
  QueryManager q;
  q.Init(errors, nullptr, "Docs", kQueryRanges);
  q.AddItem("DOC:ID", "ID", "n-7");
  q.Fields[0].Low = "10";
  q.Fields[0].High = "20";
  EXPECT_EQ(q.GetFilter(), "(DOC:ID > 10) AND (DOC:ID < 20)");
  q.Fields[0].Low = "";
  q.Fields[0].High = "<=20";
  EXPECT_EQ(q.GetFilter(), "(DOC:ID <= 20)");

  q.Mode = kQuerySingleValues;
  q.Fields[0].Low = "7";
  q.Fields[0].High = "9";
  EXPECT_EQ(q.GetFilter(), "(DOC:ID = 7)");  // the bound is kept as the value, not lost
}

// Adapter over a plain list: entries by name, each in a menu.
class ListPopup : public QueryPopup {
 public:
  struct Entry {
    std::string text, menu;
    bool enabled = true;
    int control = 0;
  };
  std::vector<std::pair<std::string, Entry>> entries;
  std::string last;

  std::int32_t GetItems() override { return static_cast<std::int32_t>(entries.size()); }
  std::string AddItem(std::string_view text, std::string_view name,
                      std::string_view menu) override {
    entries.push_back({std::string(name), {std::string(text), std::string(menu)}});
    return std::string(name);
  }
  void AddSubMenu(std::string_view text, std::string_view name) override {
    entries.push_back({std::string(name), {std::string(text), ""}});
  }
  void SetItemEvent(std::string_view name, std::int32_t, std::int32_t control) override {
    if (Entry* e = Find(name)) e->control = control;
  }
  void SetItemEnable(std::string_view name, bool enabled) override {
    if (Entry* e = Find(name)) e->enabled = enabled;
  }
  void DeleteItem(std::string_view name) override {
    std::erase_if(entries, [&](auto& e) { return e.first == name; });
  }
  std::string GetLastSelection() override { return last; }
  Entry* Find(std::string_view name) {
    for (auto& e : entries)
      if (e.first == name) return &e.second;
    return nullptr;
  }
  std::vector<std::string> Texts(std::string_view menu) const {
    std::vector<std::string> out;
    for (auto& e : entries)
      if (e.second.menu == menu) out.push_back(e.second.text);
    return out;
  }
};

constexpr int kQueryButton = 2;
constexpr int kRows = 5;

// One run of the program: a browse over DOCS with a query manager whose queries live in
// settings.INI.
struct Session {
  Session() {
    ini.Init(".\\settings.INI");
    f.emplace();
    query.Init(f->Errors, &ini, "Docs");
    query.AddItem("DOC:ID", "ID", "n-7");
    query.AddItem("DOC:Name", "Name", "s20");
    f->Open({.thumb = &thumb, .rows = kRows, .buttons = {"&Query"}}, [this](BrowseManager& b) {
      b.Query = &query;
      b.QueryControl = kQueryButton;
      // The saved-query entries go to the test's own popup: the query manager keeps one popup.
      b.Popup->Kill();
      b.Popup.reset();
    });
  }
  ~Session() {
    f.reset();
    ini.Close();
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (int r = 1; r <= f->Queue->Records(); ++r) {
      std::string name = f->Queue->RowText(r, 2);
      out.push_back(name.substr(0, name.find_last_not_of(' ') + 1));
    }
    return out;
  }
  BrowseManager& browse() { return *f->Browse; }
  rt::View& view() { return *f->View; }

  IniManager ini;
  StepLong thumb;
  QueryManager query;
  std::optional<testing_support::BrowseFixture> f;
};

// A headless screen in a fresh working folder with the (empty) table DOCS.
struct Stage {
  explicit Stage(const char* name) : work(name) {
    created = testing_support::MakeDocsFile()->Create() == 0;
  }
  std::vector<std::string> Captions() const { return testing_support::CaptionsOf(*backend); }
  testing_support::WorkDir work;
  std::shared_ptr<rt::HeadlessBackend> backend = rt::InstallHeadlessBackend();
  bool created = false;
};

TEST(QueryScenarioTest, QueryIsAppliedSavedAndOfferedAgainAfterARestart) {
  Stage stage("qbe");
  ASSERT_TRUE(stage.work.Ok() && stage.created);
  ASSERT_TRUE(testing_support::AddDocs({{1, "alpha"},
                                        {2, "o'brien"},
                                        {3, "100%"},
                                        {4, "Müller"},
                                        {5, "x'y"},
                                        {6, "100"},
                                        {7, "beta"}}));
  ListPopup popup;
  {
    Session s;
    ASSERT_EQ(s.Names().size(), 5u);
    // Nothing saved, nothing active: no submenu.
    s.query.SetPopupEntries(popup, kQueryButton);
    EXPECT_TRUE(popup.entries.empty());

    // Each value matches itself only: quotes, "%" and non-ASCII letters are not syntax.
    for (auto [value, expected] :
         std::map<std::string, std::vector<std::string>>{{"o'brien", {"o'brien"}},
                                                         {"100%", {"100%"}},
                                                         {"Müller", {"Müller"}},
                                                         {"100*", {"100%", "100"}},
                                                         {"*'", {"o'brien", "x'y"}}}) {
      s.query.ClearValues();
      s.query.Fields[1].Middle = value;
      ASSERT_EQ(s.query.SaveQuery("probe"), 0);
      s.query.SetPopupEntries(popup, kQueryButton);
      popup.last = "tsQBE_probe";
      ASSERT_TRUE(s.query.TakePopupChoice(popup));
      s.browse().TakeLocate();
      EXPECT_EQ(s.Names(), expected) << value;
    }
    // A named query with two columns, then the popup lists it beside "probe".
    s.query.ClearValues();
    s.query.Fields[0].Middle = "<5";
    s.query.Fields[1].Middle = "*l";
    ASSERT_EQ(s.query.SaveQuery("Low, with l"), 0);
    s.query.ClearValues();
    s.query.SetPopupEntries(popup, kQueryButton);
    EXPECT_EQ(popup.Texts(kQuerySubMenu),
              (std::vector<std::string>{"Low, with l", "probe", "-", "C&lear"}));
    EXPECT_EQ(popup.Find("tsQBEClear")->control, kQueryButton);
  }
  {
    Session s;  // a restart: the catalogue and the queries come from the file
    ASSERT_EQ(s.Names().size(), 5u);
    EXPECT_EQ(s.query.ListSavedQueries(), (std::vector<std::string>{"Low, with l", "probe"}));
    ListPopup fresh;
    s.query.SetPopupEntries(fresh, kQueryButton);
    fresh.last = fresh.entries[1].first;  // "Low, with l"
    ASSERT_TRUE(s.query.TakePopupChoice(fresh));
    s.browse().TakeLocate();
    EXPECT_EQ(s.Names(), (std::vector<std::string>{"alpha", "Müller"}));
    EXPECT_EQ(s.view().Filter(), "((DOC:ID < 5) AND INSTRING('l',DOC:Name,1,1) <> 0)");
    // The ID bound is read through the key; only the pattern is tested row by row.
    EXPECT_EQ(s.view().AppliedConditions(), 1);

    // "C&lear" drops the query; the most recent one is remembered as the cleared state.
    fresh.last = "tsQBEClear";
    ASSERT_TRUE(s.query.TakePopupChoice(fresh));
    s.browse().TakeLocate();
    EXPECT_EQ(s.Names().size(), 5u);
    EXPECT_EQ(s.view().Filter(), "");
  }
  EXPECT_TRUE(stage.Captions().empty());
}

// Values whose leading operator characters make no comparison, a lower bound typed with
// "<", and numbers far longer than a filter can hold: each either filters as typed or is
// refused with a message; the list never shows rows that do not match.
TEST(QueryScenarioTest, EveryTypedValueFiltersAsTypedOrIsRefusedNeverShowingUnmatchedRows) {
  Stage stage("qbe-hostile");
  ASSERT_TRUE(stage.work.Ok() && stage.created);
  ASSERT_TRUE(testing_support::AddDocRange(1, 5));
  const std::string huge = "1" + std::string(320, '0');
  using Ids = std::vector<std::string>;
  struct Case {
    std::uint8_t mode;
    std::string middle, low, high;
    std::optional<Ids> shown;  // none: refused with a message
  };
  const std::vector<Case> cases = {
      {kQuerySingleValues, "<~3", "", "", std::nullopt},
      {kQuerySingleValues, "~>3", "", "", std::nullopt},
      {kQuerySingleValues, ">~=3", "", "", std::nullopt},
      {kQuerySingleValues, huge, "", "", std::nullopt},
      {kQuerySingleValues, "<" + huge, "", "", std::nullopt},
      {kQuerySingleValues, "=<3", "", "", Ids{"doc1", "doc2", "doc3"}},
      {kQuerySingleValues, "><3", "", "", Ids{"doc1", "doc2", "doc4", "doc5"}},
      {kQueryRanges, "", "<3", "", Ids{"doc1", "doc2"}},
      {kQueryRanges, "", "<=2", ">4", Ids{}},
      {kQueryRanges, "", "=4", "", Ids{"doc4", "doc5"}},
      {kQueryRanges, "", "", ">=4", Ids{"doc4", "doc5"}},
      {kQueryRanges, "", "7", huge, std::nullopt},
  };
  Session s;
  ListPopup popup;
  std::size_t messages = 0;
  for (const Case& c : cases) {
    const std::string label = c.middle + "|" + c.low + "|" + c.high;
    // Start from a query that shows one row, so a refused one cannot pass for a match.
    s.query.Mode = kQuerySingleValues;
    s.query.ClearValues();
    s.query.Fields[0].Middle = "5";
    ASSERT_TRUE(s.query.Ask(false));
    s.browse().SetNamedFilter(s.query.GetFilter(), kQueryFilterId);
    s.browse().ResetSort(true);
    ASSERT_EQ(s.Names(), Ids{"doc5"});

    s.query.Mode = c.mode;
    s.query.ClearValues();
    s.query.Fields[0].Middle = c.middle;
    s.query.Fields[0].Low = c.low;
    s.query.Fields[0].High = c.high;
    ASSERT_EQ(s.query.SaveQuery("probe"), 0);
    s.query.SetPopupEntries(popup, kQueryButton);
    popup.last = "tsQBE_probe";
    ASSERT_TRUE(s.query.TakePopupChoice(popup));
    s.browse().TakeLocate();
    // Whatever was typed, the filter the manager gives compiles.
    const std::string filter = s.query.GetFilter();
    EXPECT_EQ(rt::Expression().Compile(filter), 0) << label << ": " << filter;
    if (c.shown) {
      EXPECT_EQ(s.Names(), *c.shown) << label << ": " << filter;
    } else {
      ++messages;
      EXPECT_EQ(s.Names(), Ids{"doc5"}) << label << ": the query before stays";
    }
    const auto captions = stage.Captions();
    ASSERT_EQ(captions.size(), messages) << label;
    if (messages > 0) {
      EXPECT_EQ(captions.back(), "Invalid Query Value");
    }
  }
}

TEST(QueryScenarioTest, DeletedQueryStaysGoneAfterARestartAndTheOthersRemain) {
  Stage stage("qbe-delete");
  ASSERT_TRUE(stage.work.Ok() && stage.created);
  const std::vector<std::string> names = {"he said \"hi\"", "a=b", "[x]", "Müller", "plain"};
  {
    Session s;
    for (const std::string& name : names) {
      s.query.Fields[1].Middle = name;
      ASSERT_EQ(s.query.SaveQuery(name), 0) << name;
    }
    EXPECT_EQ(s.query.SaveQuery(" PLAIN "), 0);  // the same query as "plain"
    ASSERT_EQ(s.query.DeleteQuery("a=b"), 0);
    ASSERT_EQ(s.query.DeleteQuery("[X]"), 0);
    EXPECT_EQ(s.query.DeleteQuery("never saved"), 0);
  }
  const std::vector<std::string> left = {"Müller", "he said \"hi\"", "plain"};
  {
    Session s;
    EXPECT_EQ(s.query.ListSavedQueries(), left);
    for (const std::string& name : {left[0], left[1]}) {
      ASSERT_TRUE(s.query.LoadQuery(name));
      EXPECT_EQ(s.query.Fields[1].Middle, name);
    }
    ListPopup popup;
    s.query.SetPopupEntries(popup, kQueryButton);
    EXPECT_EQ(popup.Texts(kQuerySubMenu),
              (std::vector<std::string>{"Müller", "he said \"hi\"", "plain", "-", "C&lear"}));
    // A name that cannot be stored is refused with a message, and nothing is written.
    EXPECT_NE(s.query.SaveQuery("two\nlines"), 0);
    EXPECT_EQ(s.query.ListSavedQueries(), left);
  }
  EXPECT_EQ(stage.Captions(), std::vector<std::string>{"Invalid Query Name"});
}

TEST(QueryScenarioTest, DamagedSettingsFileIsReportedAndLosesNothingElse) {
  Stage stage("qbe-damaged");
  ASSERT_TRUE(stage.work.Ok() && stage.created);
  const std::string damaged =
      "; edited by hand\n"
      "no equals sign here\n"
      "[__Dont_Touch_Me__]\n"
      "Sectors=5\n"
      "Sectors_1=Docs,good,Query\n"
      "Sectors_2=Docs,gone,Query\n"
      "Sectors_3=Docs\n"
      "Sectors_4=Docs,spare,Query\n"
      "[Docs$good$$Query]\n"
      "Query=1\n"
      "Query_1=DOC:Name,good%2Cone,,\n"
      "[Docs$spare$$Query]\n"
      "Query=9\n"
      "Query_1=DOC:Name,spare,,\n"
      "[Docs$broken\n"
      "\x01\x02\xff=\n"
      "[Unrelated]\n"
      "Key=Value\n";
  { std::ofstream(stage.work.Path() / "settings.INI", std::ios::binary) << damaged; }
  {
    Session s;
    EXPECT_EQ(s.query.ListSavedQueries(), (std::vector<std::string>{"gone", "good", "spare"}));
    ASSERT_TRUE(s.query.LoadQuery("good"));
    EXPECT_EQ(s.query.GetFilter(), "(DOC:Name = 'good,one')");
    // Listed but not stored: reported, and the values stay.
    EXPECT_FALSE(s.query.LoadQuery("gone"));
    EXPECT_EQ(s.query.GetFilter(), "(DOC:Name = 'good,one')");
    ListPopup popup;
    s.query.SetPopupEntries(popup, kQueryButton);
    popup.last = "tsQBE_gone";
    EXPECT_FALSE(s.query.TakePopupChoice(popup));
    // A record missing from the list is a column nobody has: reported, the rest loads.
    EXPECT_TRUE(s.query.LoadQuery("spare"));
    EXPECT_EQ(s.query.GetFilter(), "(DOC:Name = 'spare')");
    EXPECT_EQ(s.query.DeleteQuery("gone"), 0);
  }
  EXPECT_EQ(stage.Captions(),
            (std::vector<std::string>{"Saved Query Unreadable", "Saved Query Unreadable",
                                      "Unsupported QBE Column"}));
  {
    Session s;
    EXPECT_EQ(s.query.ListSavedQueries(), (std::vector<std::string>{"good", "spare"}));
  }
  std::stringstream text;
  text << std::ifstream(stage.work.Path() / "settings.INI", std::ios::binary).rdbuf();
  for (const char* kept : {"; edited by hand\n", "no equals sign here\n", "[Docs$broken\n",
                           "[Unrelated]\nKey=Value\n", "Query_1=DOC:Name,spare,,\n"})
    EXPECT_NE(text.str().find(kept), std::string::npos) << kept;
}

TEST(QueryScenarioTest, SavedColumnThatNoLongerExistsIsReportedAndDropped) {
  testing_support::WorkDir work("qbe-drop");
  ASSERT_TRUE(work.Ok());
  auto backend = rt::InstallHeadlessBackend();
  rt::ThreadLocal<ErrorStatus> status;
  ErrorManager errors;
  errors.Start(status);
  IniManager ini;
  ini.Init(".\\settings.INI");
  {
    QueryManager old;
    old.Init(errors, &ini, "Docs");
    old.AddItem("DOC:Gone", "Gone");
    old.AddItem("UPPER(DOC:Name)", "Name");
    old.Fields[0].Middle = "x";
    old.Fields[1].Middle = "smith";
    ASSERT_EQ(old.SaveQuery("q"), 0);
  }
  QueryManager q;
  q.Init(errors, &ini, "Docs");
  q.AddItem("DOC:Name", "Name");
  q.LoadQuery("q");
  const auto messages = testing_support::MessagesOf(*backend);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].caption, "Unsupported QBE Column");
  EXPECT_NE(messages[0].text.find("DOC:Gone"), std::string::npos);
  // Saved as case-blind, it is queried case-blind on the plain column.
  EXPECT_EQ(q.GetFilter(), "(UPPER(DOC:Name) = 'SMITH')");
  ini.Close();
  errors.Kill();
  status.Destroy();
}

}  // namespace

namespace {

TEST(QueryWindowTest, TypedValuesAreAppliedWithOkAndDroppedWithCancel) {
  testing_support::WorkDir work("qbe-window");
  ASSERT_TRUE(work.Ok());
  rt::ClearHooks();
  auto backend = rt::InstallHeadlessBackend();
  rt::RunProgram([&] {
    rt::ThreadLocal<ErrorStatus> status;
    ErrorManager errors;
    errors.Start(status);
    IniManager ini;
    ini.Init(".\\settings.INI");
    QueryManager q;
    q.Init(errors, &ini, "Docs");
    q.AddItem("DOC:ID", "ID", "n-7");
    q.AddItem("DOC:Name", "Name", "s20");
    // Run-time controls follow the window's own: a prompt and an entry per column.
    const int nameValue = qbe::kDeleteButton + 4;
    auto ask = [&](const std::function<void(testing_support::Robot&, int)>& drive) {
      std::atomic<int> answer{-1};
      rt::Start([&](const std::vector<std::string>&) { answer = q.Ask(true) ? 1 : 0; });
      testing_support::Robot robot(backend);
      const int id = robot.WaitForWindow(kQueryWindowCaption);
      EXPECT_NE(id, 0);
      if (id != 0) {
        drive(robot, id);
        EXPECT_TRUE(robot.WaitClosed(id));
      }
      rt::JoinAllThreads();
      return answer.load();
    };
    EXPECT_EQ(ask([&](testing_support::Robot& robot, int id) {
                EXPECT_TRUE(robot.Type(id, nameValue, "ab'c*"));
                EXPECT_TRUE(robot.Type(id, qbe::kNameEntry, "mine"));
                EXPECT_TRUE(robot.Press(id, qbe::kSaveButton));
                // Other tests' queues on this process's main thread keep it from looking
                // idle: wait for the list of saved queries instead.
                for (int i = 0; i < 500 && robot.Control(id, qbe::kSavedList)->rows.empty(); ++i)
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
                EXPECT_EQ(robot.Control(id, qbe::kSavedList)->rows.size(), 1u);
                EXPECT_TRUE(robot.Press(id, qbe::kOkButton));
              }),
              1);
    EXPECT_EQ(q.GetFilter(), "SUB(DOC:Name,1,4) = 'ab''c'");
    EXPECT_EQ(q.ListSavedQueries(), std::vector<std::string>{"mine"});

    EXPECT_EQ(ask([&](testing_support::Robot& robot, int id) {
                for (int i = 0; i < 500 && robot.ScreenText(id, nameValue) != "ab'c*"; ++i)
                  std::this_thread::sleep_for(std::chrono::milliseconds(10));
                EXPECT_EQ(robot.ScreenText(id, nameValue), "ab'c*");  // the values it applies
                EXPECT_TRUE(robot.Press(id, qbe::kClearButton));
                EXPECT_TRUE(robot.Press(id, qbe::kCancelButton));
              }),
              0);
    EXPECT_EQ(q.GetFilter(), "SUB(DOC:Name,1,4) = 'ab''c'");  // cancelled: kept as it was

    // Picking a saved query names it; Delete removes it from the list and the file.
    ASSERT_EQ(q.SaveQuery("other"), 0);
    EXPECT_EQ(
        ask([&](testing_support::Robot& robot, int id) {
          for (int i = 0; i < 500 && robot.Control(id, qbe::kSavedList)->rows.size() != 2; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          EXPECT_TRUE(robot.PickRow(id, qbe::kSavedList, 1));  // "mine"
          for (int i = 0; i < 500 && robot.ScreenText(id, qbe::kNameEntry) != "mine"; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          EXPECT_TRUE(robot.Press(id, qbe::kDeleteButton));
          for (int i = 0; i < 500 && robot.Control(id, qbe::kSavedList)->rows.size() != 1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
          EXPECT_EQ(robot.Control(id, qbe::kSavedList)->rows.size(), 1u);
          EXPECT_TRUE(robot.Press(id, qbe::kCancelButton));
        }),
        0);
    EXPECT_EQ(q.ListSavedQueries(), std::vector<std::string>{"other"});
    ini.Close();
    errors.Kill();
    status.Destroy();
  });
  rt::ClearHooks();
}

}  // namespace
