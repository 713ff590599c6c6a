// SPDX-License-Identifier: GPL-3.0-or-later
// Every way of moving through a browse, acted by the robot on a browse that runs its own
// event loop on a runtime thread: scroll events of the list, thumb drags, the navigation
// requests an update form leaves behind, typed locator keys, a picked row, an empty table,
// and bursts of events queued while the browse's thread is busy. After each move the page,
// the highlight, the record buffer and what the screen shows must all agree.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLong.h"
#include "framework/window/RequestCodes.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/FixedString.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/KeyChar.h"
#include "support/BrowseFixture.h"
#include "support/Robot.h"
#include "support/WorkDir.h"

namespace {

using testing_support::BrowseFixture;
using testing_support::BrowseOptions;
using testing_support::DocRows;
using testing_support::Robot;
using Ids = std::vector<int>;
namespace ev = rt::event;

constexpr int kList = BrowseFixture::kList;
// The buttons every browse here has (Insert is 2), and the locator's entry after them.
constexpr int kChange = 3;
constexpr int kDelete = 4;
constexpr int kEntry = 5;

// Counts the work a burst of events costs.
class CountingBrowse : public BrowseManager {
 public:
  std::atomic<int> fetches{0};
  std::atomic<int> selections{0};
  std::function<int()> record;         // reads the record buffer's id
  std::atomic<int> selectedRecord{0};  // the record buffer after the last new selection
  void Fetch(std::uint8_t direction) override {
    ++fetches;
    BrowseManager::Fetch(direction);
  }
  void TakeNewSelection() override {
    ++selections;
    BrowseManager::TakeNewSelection();
    if (record) selectedRecord = record();
  }
};

// What the browse holds and what the screen shows, read between two events.
struct Seen {
  Ids page;
  int highlighted = 0;
  std::string name;
  int record = 0;
  int choice = 0;
  Ids screenPage;
  int screenChoice = 0;
  bool changeEnabled = false;
};

DocRows Numbered(int last) {
  DocRows rows;
  for (int id = 1; id <= last; ++id)
    rows.emplace_back(id, "doc" + std::to_string(id));
  return rows;
}

class NavigationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    work_.emplace("navigation");
    ASSERT_TRUE(work_->Ok());
    rt::ClearHooks();
    backend_ = rt::InstallHeadlessBackend();
  }
  void TearDown() override { work_.reset(); }

  // Runs a browse over `rows` on a thread of its own while `drive` acts. `before` runs on
  // the browse's thread before the window opens.
  void Run(const DocRows& rows, BrowseOptions options,
           const std::function<void(Robot&, int)>& drive,
           const std::function<void(BrowseFixture&)>& before = {}) {
    options.buttons = {"&Insert", "&Change", "&Delete"};
    rt::RunProgram([&] {
      browseThread_ = rt::Start([&](const std::vector<std::string>&) {
        BrowseFixture f;
        if (!rows.empty()) testing_support::AddDocs(rows);
        f.Controller.form = [this, &f](std::uint8_t) {
          formSaw_.push_back(f.RecordId());
          f.VCR = formSaw_.size() == 1 ? pendingRequest_ : 0;
          return static_cast<std::uint8_t>(RequestCancelled);
        };
        if (before) before(f);
        f.Open(options, [](BrowseManager& b) { b.AskProcedure = 1; });
        fixture_ = &f;
        f.Controller.Ask();
        fixture_ = nullptr;
      });
      Robot robot(backend_);
      const int id = robot.WaitForWindow("Documents");
      EXPECT_NE(id, 0);
      if (id != 0 && robot.WaitIdle()) {
        drive(robot, id);
        robot.CloseWindow(id);
        EXPECT_TRUE(robot.WaitClosed(id));
      }
      rt::JoinAllThreads();
    });
  }

  // Reads the browse on its own thread once it is idle.
  Seen Look(Robot& robot, int window) {
    EXPECT_TRUE(robot.WaitIdle());
    std::promise<Seen> promise;
    rt::PostTask(browseThread_, [&] {
      BrowseFixture& f = *fixture_;
      Seen s;
      s.page = f.Page();
      s.highlighted = f.Highlighted();
      s.name = f.HighlightedName();
      s.record = f.RecordId();
      s.choice = f.Browse->CurrentChoice;
      promise.set_value(s);
    });
    Seen s = promise.get_future().get();
    if (auto list = robot.Control(window, kList)) {
      for (const auto& row : list->rows)
        s.screenPage.push_back(std::stoi(row.at(0)));
      s.screenChoice = list->choice;
    }
    s.changeEnabled = robot.Enabled(window, kChange);
    return s;
  }

  // The page and highlight the browse holds, shown on the screen and in the record buffer.
  void ExpectAt(Robot& robot, int window, const Ids& page, int highlighted,
                const std::string& what) {
    const Seen s = Look(robot, window);
    EXPECT_EQ(s.page, page) << what;
    EXPECT_EQ(s.highlighted, highlighted) << what;
    EXPECT_EQ(s.record, highlighted) << what << ": record buffer";
    EXPECT_EQ(s.screenPage, page) << what << ": screen";
    EXPECT_EQ(s.screenChoice, s.choice) << what << ": screen highlight";
  }

  std::optional<testing_support::WorkDir> work_;
  std::shared_ptr<rt::HeadlessBackend> backend_;
  int browseThread_ = 0;
  BrowseFixture* fixture_ = nullptr;  // on the browse's thread, while its loop runs
  std::int32_t pendingRequest_ = 0;   // what the form leaves in the navigation request
  std::vector<int> formSaw_;          // the record in the buffer at each run of the form
};

Ids Range(int first, int last) {
  Ids ids;
  for (int id = first; id <= last; ++id)
    ids.push_back(id);
  return ids;
}

TEST_F(NavigationTest, EveryScrollDragAndFormRequestLandsOnTheRightRecord) {
  // 101 rows: the thumb's value for position p is exactly p + 1.
  StepLong thumb;
  thumb.Init(1);
  struct Move {
    const char* what;
    std::function<bool(Robot&, int)> act;
    Ids page;
    int highlighted;
  };
  auto post = [](int event) {
    return [event](Robot& r, int w) { return r.Post(w, event, kList); };
  };
  auto drag = [](int position) {
    return [position](Robot& r, int w) { return r.DragThumb(w, kList, position); };
  };
  auto times = [](int n, int event) {
    return [n, event](Robot& r, int w) {
      bool ok = true;
      for (int i = 0; i < n; ++i)
        ok = r.Post(w, event, kList) && ok;
      return ok;
    };
  };
  const Move moves[] = {
      {"up on the first row", post(ev::kScrollUp), Range(1, 5), 1},
      {"page up on the first page", post(ev::kPageUp), Range(1, 5), 1},
      {"down", post(ev::kScrollDown), Range(1, 5), 2},
      {"page down keeps the screen row", post(ev::kPageDown), Range(6, 10), 7},
      {"down past the page reads one row", times(4, ev::kScrollDown), Range(7, 11), 11},
      {"up past the page reads one row", times(5, ev::kScrollUp), Range(6, 10), 6},
      {"pick a row", [](Robot& r, int w) { return r.PickRow(w, kList, 3); }, Range(6, 10), 8},
      {"bottom", post(ev::kScrollBottom), Range(97, 101), 101},
      {"down on the last row", post(ev::kScrollDown), Range(97, 101), 101},
      {"page down on the last page", post(ev::kPageDown), Range(97, 101), 101},
      {"page up from the bottom", post(ev::kPageUp), Range(92, 96), 96},
      {"top", post(ev::kScrollTop), Range(1, 5), 1},
      {"thumb to 40", drag(40), Range(41, 45), 41},
      {"thumb to the middle", drag(50), Range(51, 55), 51},
      {"thumb onto the last page", drag(99), Range(97, 101), 100},
      {"thumb to the very bottom", drag(100), Range(97, 101), 101},
      {"thumb to the very top", drag(1), Range(1, 5), 1},
  };
  CountingBrowse* counting = nullptr;
  const auto counted = [&](BrowseFixture& f) {
    auto browse = std::make_unique<CountingBrowse>();
    browse->record = [&f] { return f.RecordId(); };
    counting = browse.get();
    f.Browse = std::move(browse);
  };
  Run(
      Numbered(101), {.thumb = &thumb},
      [&](Robot& robot, int w) {
        ExpectAt(robot, w, Range(1, 5), 1, "opened");
        for (const Move& m : moves) {
          ASSERT_TRUE(m.act(robot, w)) << m.what;
          ExpectAt(robot, w, m.page, m.highlighted, m.what);
          // The window's owner hears of every move (the document browse's preview follows it).
          EXPECT_EQ(counting->selectedRecord, m.highlighted) << m.what << ": new selection";
        }
        // An update form that ends with a navigation request: the browse moves and runs the
        // form again on the record it moved to.
        struct Request {
          std::int32_t code;
          Ids page;
          int highlighted;
        };
        const Request requests[] = {
            {NavigateNext, Range(1, 5), 2},        {NavigatePrevious, Range(1, 5), 1},
            {NavigatePageDown, Range(6, 10), 6},   {NavigatePageUp, Range(1, 5), 1},
            {NavigateBottom, Range(97, 101), 101}, {NavigatePrevious, Range(97, 101), 100},
            {NavigateTop, Range(1, 5), 1},
        };
        int from = 1;
        for (const Request& r : requests) {
          const std::string what = "navigation request " + std::to_string(r.code);
          formSaw_.clear();
          pendingRequest_ = r.code;
          ASSERT_TRUE(robot.Press(w, kChange)) << what;
          ExpectAt(robot, w, r.page, r.highlighted, what);
          EXPECT_EQ(formSaw_, (Ids{from, r.highlighted})) << what;
          from = r.highlighted;
        }
      },
      counted);
}

TEST_F(NavigationTest, TypedKeysLocateInEveryOrderWithOrWithoutAnEntry) {
  const DocRows fruit = {{1, "apple"}, {2, "banana"}, {3, "Berry"},   {4, "cherry"},
                         {5, "date"},  {6, "fig"},    {7, "grape"},   {8, "kiwi"},
                         {9, "lemon"}, {10, "mango"}, {11, "~tilde"}, {12, "{brace}"}};
  struct Typing {
    int key;
    bool entry;
    int typed;
    const char* expected;
  };
  const Typing cases[] = {
      {testing_support::kDocsByName, false, 'B', "banana"},  // the next row starts with it
      {testing_support::kDocsByName, true, 'G', "grape"},
      {testing_support::kDocsByName, false, rt::key::kShift + 'K', "kiwi"},
      {testing_support::kDocsByNameDown, false, 'B', "Berry"},  // the last name with B
      {testing_support::kDocsByNameDown, true, 'C', "cherry"},
      {testing_support::kDocsById, false, '7', "grape"},
      // Keys that type punctuation locate as well.
      {testing_support::kDocsByName, false, rt::CharKey('~'), "~tilde"},
      {testing_support::kDocsByName, true, rt::CharKey('{'), "{brace}"},
      {testing_support::kDocsByIdDown, false, '5', "date"},
  };
  for (const Typing& c : cases) {
    const std::string what = "order " + std::to_string(c.key) + " key " + std::to_string(c.typed);
    testing_support::WorkDir table("locate");  // a table of its own
    Run(fruit, {.key = c.key, .locator = true, .locatorEntry = c.entry}, [&](Robot& robot, int w) {
      ASSERT_TRUE(robot.SendKey(w, kList, c.typed)) << what;
      const Seen s = Look(robot, w);
      EXPECT_EQ(s.name, c.expected) << what;
      EXPECT_EQ(s.record, s.highlighted) << what;
      EXPECT_EQ(s.screenChoice, s.choice) << what;
      if (c.entry) {
        EXPECT_TRUE(robot.Enabled(w, kEntry)) << what;
      }
    });
  }
}

TEST_F(NavigationTest, EmptyTableTakesEveryMoveWithoutAHighlight) {
  StepLong thumb;
  thumb.Init(1);
  Run({}, {.thumb = &thumb, .locator = true, .locatorEntry = true}, [&](Robot& robot, int w) {
    const std::function<bool()> moves[] = {
        [&] { return robot.Post(w, ev::kScrollDown, kList); },
        [&] { return robot.Post(w, ev::kScrollUp, kList); },
        [&] { return robot.Post(w, ev::kPageDown, kList); },
        [&] { return robot.Post(w, ev::kPageUp, kList); },
        [&] { return robot.Post(w, ev::kScrollBottom, kList); },
        [&] { return robot.Post(w, ev::kScrollTop, kList); },
        [&] { return robot.DragThumb(w, kList, 60); },
        [&] { return robot.DragThumb(w, kList, 100); },
        [&] { return robot.PickRow(w, kList, 1); },
        [&] { return robot.SendKey(w, kList, 'A'); },
        [&] { return robot.SendKey(w, kList, rt::key::kDelete); },
        [&] { return robot.SendKey(w, kList, rt::key::kCtrlEnter); },
    };
    int n = 0;
    for (const auto& move : moves) {
      ASSERT_TRUE(move()) << "move " << n;
      const Seen s = Look(robot, w);
      EXPECT_TRUE(s.page.empty()) << "move " << n;
      EXPECT_EQ(s.choice, 0) << "move " << n;
      EXPECT_EQ(s.screenChoice, 0) << "move " << n;
      EXPECT_FALSE(s.changeEnabled) << "move " << n;
      EXPECT_FALSE(robot.Enabled(w, kDelete)) << "delete, move " << n;
      EXPECT_FALSE(robot.Enabled(w, kEntry)) << "locator entry, move " << n;
      ++n;
    }
    // The change button refuses the press; the form never runs.
    EXPECT_FALSE(robot.Press(w, kChange));
    EXPECT_TRUE(formSaw_.empty());
    EXPECT_TRUE(testing_support::MessagesOf(*backend_).empty());
  });
}

// Holds the browse's thread while `post` queues events, then lets it go.
void WhileBusy(Robot& robot, int window, const std::function<void()>& post) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  rt::PostTask(robot.Window(window)->thread, [released] { released.wait(); });
  post();
  release.set_value();
}

TEST_F(NavigationTest, BurstOfThumbDragsQueuedWhileBusyIsActedOnOnce) {
  StepLong thumb;
  thumb.Init(1);
  CountingBrowse* counting = nullptr;
  Run(
      Numbered(101), {.thumb = &thumb},
      [&](Robot& robot, int w) {
        const int start = counting->fetches;
        ASSERT_TRUE(robot.DragThumb(w, kList, 20));
        ExpectAt(robot, w, Range(21, 25), 21, "one drag");
        const int oneDrag = counting->fetches - start;
        ASSERT_GT(oneDrag, 0);

        const int before = counting->fetches;
        WhileBusy(robot, w, [&] {
          for (int p = 5; p <= 95; p += 5)
            ASSERT_TRUE(robot.DragThumb(w, kList, p));
          ASSERT_TRUE(robot.Post(w, ev::kScrollBottom, kList));
          ASSERT_TRUE(robot.DragThumb(w, kList, 30));
        });
        // Only the last drag is acted on: where it says, at the cost of one drag.
        ExpectAt(robot, w, Range(31, 35), 31, "burst");
        EXPECT_EQ(counting->fetches - before, oneDrag);
      },
      [&](BrowseFixture& f) {
        auto browse = std::make_unique<CountingBrowse>();
        counting = browse.get();
        f.Browse = std::move(browse);
      });
}

TEST_F(NavigationTest, HeldDownKeyQueuedWhileBusyCatchesUpQuickly) {
  constexpr int kRows = 3000;
  constexpr int kPresses = 2000;
  CountingBrowse* counting = nullptr;
  Run(
      Numbered(kRows), {},
      [&](Robot& robot, int w) {
        const int selectionsBefore = counting->selections;
        const auto start = std::chrono::steady_clock::now();
        WhileBusy(robot, w, [&] {
          for (int i = 0; i < kPresses; ++i)
            ASSERT_TRUE(robot.Post(w, ev::kScrollDown, kList));
        });
        ExpectAt(robot, w, Range(kPresses - 3, kPresses + 1), kPresses + 1, "held down");
        const auto spent = std::chrono::steady_clock::now() - start;
        // Each press moves one row; the new selections they post collapse into a few.
        EXPECT_LT(counting->selections - selectionsBefore, 10);
        EXPECT_LT(spent, std::chrono::seconds(5));
      },
      [&](BrowseFixture& f) {
        auto browse = std::make_unique<CountingBrowse>();
        counting = browse.get();
        f.Browse = std::move(browse);
      });
}

}  // namespace
