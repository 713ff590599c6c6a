// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The browse benchmark's actions, shared by the benchmarks that run them over a table of one
// driver or another: a browse of 20 rows driven headless (opening it and filling its first
// page, page down, end, home, the refill after a record was changed, locating by a typed
// character, dragging the scroll-bar thumb to 10%, 50% and 90%, the first page after a filter
// an index serves was applied), the same rows read by direct keyset queries (DirectQueries,
// one implementation per driver), a check that both read the same rows, and the rounds that
// time both in turns at one or two table sizes and print the medians and ratios.
//
// The table is the benchmark table (BenchTable.h) with a second key, on the file name, for
// the locator's order. Times are the benchmark thread's CPU time (or the wall clock).

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchTable.h"
#include "framework/browse/BrowseManager.h"
#include "framework/browse/StepLocator.h"
#include "framework/browse/StepLong.h"
#include "framework/data/FileManager.h"
#include "framework/data/RelationManager.h"
#include "framework/error/ErrorManager.h"
#include "framework/window/RequestCodes.h"
#include "framework/window/WindowController.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace bench {

// Set: the clock below is the wall clock, for a driver whose work is largely a server's (the
// benchmark thread's CPU time would leave out the server's work and the round trips).
inline bool gWallClock = false;

// The benchmark thread's CPU time: the machine is shared, and time it gives to other work
// while an action runs is not the action's cost.
struct Clock {
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<Clock>;
  static constexpr bool is_steady = true;
  static time_point now() {
    timespec ts{};
    clock_gettime(gWallClock ? CLOCK_MONOTONIC : CLOCK_THREAD_CPUTIME_ID, &ts);
    return time_point(duration(static_cast<rep>(ts.tv_sec) * 1000000000 + ts.tv_nsec));
  }
};

inline double Micro(Clock::time_point t0, Clock::time_point t1, int count = 1) {
  return std::chrono::duration<double, std::micro>(t1 - t0).count() / count;
}

// The median of timings: a mean would mostly measure the occasional slow sample.
inline double Median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

inline long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The largest resident memory of the process so far.
inline long PeakResidentKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Drops the selection events a browse posted: nobody runs this thread's event loop here.
inline void Drain() {
  while (!rt::MyEvents().Empty())
    rt::MyEvents().Wait(std::chrono::milliseconds(0));
}

inline constexpr int kList = 1;
// Each action's samples, by action.
using Samples = std::vector<std::vector<double>>;
// The browse and the direct queries are timed in turns, so that both see the same load.
inline constexpr int kRounds = 5;

enum Op {
  kOpen,
  kPageDown,
  kEnd,
  kHome,
  kRefill,
  kLocate,
  kThumb10,
  kThumb50,
  kThumb90,
  kFiltered,
  kOps
};
inline const char* const kOpNames[kOps] = {
    "open + first page", "page down",    "end",          "home",         "refill after update",
    "locate typed char", "thumb to 10%", "thumb to 50%", "thumb to 90%", "filtered first page"};
inline constexpr int kThumbPercent[] = {10, 50, 90};
inline constexpr char kLetters[] = "qmbxfkatsz";

// The benchmark table through a driver, with the file-name key.
inline std::unique_ptr<rt::File> BrowseTable(const std::string& name, const std::string& driver) {
  auto f = Table(name, driver);
  f->AddKey("BEN:Name_Key", {{2, true, false}}, false);
  return f;
}

// File names that start with 8 random lower-case letters, so that a typed letter lands
// anywhere in the name order; the same names on every run.
class NameMaker {
 public:
  std::string operator()(int) {
    std::string text(8, ' ');
    for (char& c : text)
      c = static_cast<char>(letter_(rng_));
    return text + "/" + std::to_string(rng_()) + ".pdf";
  }

 private:
  std::mt19937 rng_{7};
  std::uniform_int_distribution<int> letter_{'a', 'z'};
};

class BenchManager : public FileManager {
 public:
  BenchManager(rt::File& file, ErrorManager& errors) {
    File = &file;
    Errors = &errors;
    FileManager::Init();
    FileManager::InitFile(file, errors);
    AddKey(*file.Key(1), "");
    AddKey(*file.Key(2), "");
  }
  ~BenchManager() override { Shutdown(); }
};

inline std::shared_ptr<rt::WindowDef> ListWindow() {
  auto def = std::make_shared<rt::WindowDef>("BenchBrowse", "LIST", "Browse");
  def->List("40R(2)|M~ID~C(0)@n-14@80L(2)|M~File Name~L(2)@s80@")
      .At(0, 0, 300, rt::kListHeaderHeight + kPage * rt::kListRowHeight)
      .VScroll();
  return def;
}

// One browse over the table in the order of a key (1 the number, 2 the file name), as a
// browse procedure sets it up: a thumb step on the number, a locator on the order's field.
struct Browse {
  Browse(rt::File& file, ErrorManager& errors, int key = 1)
      : manager(file, errors), view(file), queue(Layout()), window(ListWindow()) {
    relations.Init(manager, 0);
    window.BindList(kList, &queue);
    window.Open();
    controller.MyWindow = &window;
    static_cast<void>(browse.Init(kList, queue.Field(3).Address(), kPositionFieldSize, view, queue,
                                  relations, controller));
    browse.AddSortOrder(key == 1 ? &step : nullptr, file.Key(key));
    locator.Init(0, rt::AnyRef(file.Record(), file.Layout().Field(key)), false, browse);
    browse.AddLocator(&locator);
    browse.AddField(rt::AnyRef(file.Record(), file.Layout().Field(1)), queue.Field(1));
    browse.AddField(rt::AnyRef(file.Record(), file.Layout().Field(2)), queue.Field(2));
    browse.SetAlerts();
    browse.ResetSort(true);
    browse.UpdateWindow();
  }
  ~Browse() {
    browse.Kill();
    window.Close();
    relations.Kill();
    Drain();
  }
  Browse(const Browse&) = delete;
  Browse& operator=(const Browse&) = delete;
  static rt::RecordLayout Layout() {
    rt::RecordLayout layout("Page");
    layout.AddField("Q:ID", rt::FieldType::Long);
    layout.AddField("Q:FileName", rt::FieldType::String, 80);
    layout.AddField("Q:Pos", rt::FieldType::String, kPositionFieldSize);
    return layout;
  }
  // Microseconds for one scroll and the window update after it.
  double Scroll(int event) {
    const auto t0 = Clock::now();
    browse.TakeScroll(event);
    browse.UpdateWindow();
    const double us = Micro(t0, Clock::now(), 1);
    Drain();
    return us;
  }
  // Microseconds for a typed character taken by the locator, as the list's key handling
  // passes it on. (Type and Filter stay functions of their own, so that a profiler can count
  // one action's work: valgrind --tool=callgrind --toggle-collect='bench::Browse::Filter*'.)
  [[gnu::noinline]] double Type(char c) {
    window.SetKeyCode(c - 'a' + 'A');
    const auto t0 = Clock::now();
    browse.TakeKey();
    const double us = Micro(t0, Clock::now(), 1);
    Drain();
    return us;
  }
  // Microseconds for the list's thumb dragged to a position: the drag event goes through
  // the window's event loop to the browse.
  double Drag(int percent) {
    rt::EventMessage m;
    m.event = rt::event::kScrollDrag;
    m.control = kList;
    m.windowId = window.Id();
    m.screenChoice = percent;
    const auto t0 = Clock::now();
    rt::PostMessage(0, std::move(m));
    window.EventLoop([this] {
      if (window.Event() == rt::event::kScrollDrag) {
        browse.TakeEvent();
        window.LeaveEventLoop();
      }
      return 1;
    });
    const double us = Micro(t0, Clock::now(), 1);
    Drain();
    return us;
  }
  // Microseconds for a filter applied (as query by example applies one) and the first page
  // of its result shown.
  [[gnu::noinline]] double Filter(const std::string& filter) {
    const auto t0 = Clock::now();
    browse.SetNamedFilter(filter, kQueryFilterId);
    browse.ResetSort(true);
    browse.UpdateWindow();
    const double us = Micro(t0, Clock::now(), 1);
    Drain();
    return us;
  }

  BenchManager manager;
  RelationManager relations;
  rt::View view;
  rt::Queue queue;
  rt::Window window;
  WindowController controller;
  StepLong step;
  StepLocator locator;
  BrowseManager browse;
};

inline std::string RangeFilter(int from) {
  return "BEN:ID >= " + std::to_string(from);
}

// The browse keeps the highlighted row's screen line when it locates, as far as there are
// rows above the located one. The highlight first moves one line down (the locator steps to
// the next record before it compares), up to the last line. Returns the line the located row
// was shown on before the letter is typed next.
inline int NextLine(int line) {
  return std::min(line + 1, kPage);
}

// The value at a percentage of the number order, where the thumb step puts a drag.
inline std::int64_t ThumbValue(int rows, int percent) {
  return 1 + static_cast<std::int64_t>(rows - 1) * percent / 100;
}

// A filter keeps the highlighted row when it passes: the page then starts at the higher of
// the first row shown before and the filter's lower bound.
inline std::int64_t FilteredFrom(std::int64_t shownFirst, int from) {
  return std::max<std::int64_t>(shownFirst, from);
}

// The same rows as the browse's, read by direct keyset queries of a driver's storage. Each
// query reads the rows the list ends up showing and nothing else: the record id, the version
// and null flags, the BLOB's size and the two fields, the file name as text; `ids`, when given
// (never while timed), receives their ID values top to bottom. Everything read is added to
// the shared checksum, so that no read can be left out.
class DirectQueries {
 public:
  virtual ~DirectQueries() = default;
  // Connects, reads the first page and disconnects, as opening a browse does; false on failure.
  virtual bool FreshFirstPage() = 0;
  // A page of the rows whose ID is past `after`.
  virtual void Page(std::int64_t after, std::vector<long>* ids = nullptr) = 0;
  // The last page, read backwards from the end.
  virtual void End(std::vector<long>* ids = nullptr) = 0;
  // A located page in the name order: up to `above` rows before the first name from
  // `letter` on, then that name and the rows after it. Returns the line of the located row.
  virtual int Located(char letter, int above, std::vector<long>* ids = nullptr) = 0;
  // Another connection gives row `id` a new file name (not timed); false on failure.
  virtual bool Rename(int id, const std::string& name) = 0;
};

// What a benchmark over one driver supplies.
struct BrowseBench {
  std::string driver;       // the browse's table driver
  std::string directLabel;  // "direct SQLite": how the direct figures are printed
  // A direct reader of the table of that name (nullptr when it cannot connect); it adds
  // everything it reads to `sum`.
  std::function<std::unique_ptr<DirectQueries>(const std::string& name, long& sum)> direct;
  int repeats = 200;  // samples per action over all rounds
  // When set: the exchanges with the server and the connections made so far, counted per
  // browse action by the check of the rows (SameRows) and printed.
  std::function<std::uint64_t()> roundTrips;
  std::function<std::uint64_t()> connections;
};

// Microseconds per operation through the browse, `repeats` samples of each (a tenth for the
// open); `seed` picks the places. Empty on failure.
inline Samples BrowseCosts(const BrowseBench& bench, const std::string& name, int rows, int repeats,
                           ErrorManager& errors, long& sum, unsigned seed) {
  Samples cost(kOps);
  auto file = BrowseTable(name, bench.driver);
  {
    std::vector<double> open;
    for (int i = 0; i < std::max(1, repeats / 10); ++i) {
      const auto t0 = Clock::now();
      auto b = std::make_unique<Browse>(*file, errors);
      open.push_back(Micro(t0, Clock::now()));
      sum += b->queue.Records();
    }
    cost[kOpen] = std::move(open);
  }
  Browse b(*file, errors);
  // Page down from spread-out places of the table, each page fresh.
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pick(1, rows - 10 * kPage);
  std::vector<double> pageDown, end, home, refill;
  for (int i = 0; i < repeats; ++i) {
    rt::WriteInteger(file->Layout().Field(1), file->Record(), pick(rng));
    b.browse.ResetFromBuffer();
    pageDown.push_back(b.Scroll(rt::event::kPageDown));
    sum += b.queue.Records();
  }
  cost[kPageDown] = std::move(pageDown);
  for (int i = 0; i < repeats; ++i) {
    end.push_back(b.Scroll(rt::event::kScrollBottom));
    sum += b.queue.Records();
    home.push_back(b.Scroll(rt::event::kScrollTop));
    sum += b.queue.Records();
  }
  cost[kEnd] = std::move(end);
  cost[kHome] = std::move(home);
  // A record of the page changed (as the update form does), then the browse's refill.
  auto writer = BrowseTable(name, bench.driver);
  if (writer->Open(rt::kOpenReadWriteDenyNone) != 0) return {};
  for (int i = 0; i < repeats; ++i) {
    rt::WriteInteger(file->Layout().Field(1), file->Record(), pick(rng));
    b.browse.ResetFromBuffer();
    rt::WriteInteger(writer->Layout().Field(1), writer->Record(),
                     rt::ReadInteger(file->Layout().Field(1), file->Record()));
    if (writer->Get(*writer->Key(1)) != 0) return {};
    rt::WriteText(writer->Layout().Field(2), writer->Record(),
                  std::string(1, kLetters[i % 10]) + "changed/" + std::to_string(i));
    if (writer->Put() != 0) return {};
    // The form leaves the changed record current in the browse's table.
    static_cast<void>(file->Get(*file->Key(1)));
    std::uint8_t request = ChangeRecord;
    std::uint8_t response = RequestCompleted;
    const auto r0 = Clock::now();
    b.browse.ResetFromAsk(request, response);
    refill.push_back(Micro(r0, Clock::now()));
    sum += b.queue.Records();
    Drain();
  }
  cost[kRefill] = std::move(refill);
  static_cast<void>(writer->Close());
  // Thumb drags, the three positions in turn.
  for (int t = 0; t < 3; ++t) {
    std::vector<double> drag;
    for (int i = 0; i < repeats; ++i) {
      b.Scroll(rt::event::kScrollTop);
      drag.push_back(b.Drag(kThumbPercent[t]));
      sum += b.browse.CurrentChoice + b.queue.Records();
    }
    cost[kThumb10 + t] = std::move(drag);
  }
  // A filter on the number from a random place: the key's index serves it.
  std::vector<double> filtered;
  for (int i = 0; i < repeats; ++i) {
    filtered.push_back(b.Filter(RangeFilter(pick(rng))));
    sum += b.queue.Records();
  }
  cost[kFiltered] = std::move(filtered);
  {
    // Locating in the file-name order, one letter after another.
    Browse byName(*file, errors, 2);
    std::vector<double> locate;
    for (int i = 0; i < repeats; ++i) {
      locate.push_back(byName.Type(kLetters[i % 10]));
      sum += byName.browse.CurrentChoice + byName.queue.Records();
    }
    cost[kLocate] = std::move(locate);
  }
  return cost;
}

// Microseconds per operation for the same rows read by direct keyset queries, as many samples
// as BrowseCosts takes; `warm` gets samples of a page read with no write before it. Empty on
// failure.
inline Samples DirectCosts(const BrowseBench& bench, const std::string& name, int rows, int repeats,
                           long& sum, unsigned seed, std::vector<double>& warm) {
  Samples cost(kOps);
  std::vector<double> samples;
  auto timed = [&](const std::function<void()>& run) {
    samples.clear();
    for (int i = 0; i < repeats; ++i) {
      const auto t0 = Clock::now();
      run();
      samples.push_back(Micro(t0, Clock::now()));
    }
    return samples;
  };
  auto d = bench.direct(name, sum);
  if (!d) return {};
  {
    std::vector<double> open;
    for (int i = 0; i < std::max(1, repeats / 10); ++i) {
      const auto t0 = Clock::now();
      if (!d->FreshFirstPage()) return {};
      open.push_back(Micro(t0, Clock::now()));
    }
    cost[kOpen] = std::move(open);
  }
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pick(1, rows - 10 * kPage);
  cost[kPageDown] = timed([&] { d->Page(pick(rng) + kPage); });
  cost[kEnd] = timed([&] { d->End(); });
  cost[kHome] = timed([&] { d->Page(INT64_MIN); });
  const auto unchanged = timed([&] { d->Page(pick(rng)); });
  warm.insert(warm.end(), unchanged.begin(), unchanged.end());
  // As in the browse's refill, the page is read right after another connection changed a row
  // of it, so the reader finds its cached pages out of date.
  samples.clear();
  for (int i = 0; i < repeats; ++i) {
    const int id = pick(rng);
    if (!d->Rename(id, std::string(1, kLetters[i % 10]) + "direct/" + std::to_string(i))) return {};
    const auto t0 = Clock::now();
    d->Page(id - 1);
    samples.push_back(Micro(t0, Clock::now()));
  }
  cost[kRefill] = samples;
  for (int t = 0; t < 3; ++t) {
    const std::int64_t at = ThumbValue(rows, kThumbPercent[t]);
    cost[kThumb10 + t] = timed([&] { d->Page(at - 1); });
  }
  // The browse filters after the last thumb drag, whose page starts at its value.
  std::int64_t shownFirst = ThumbValue(rows, kThumbPercent[2]);
  cost[kFiltered] = timed([&] {
    shownFirst = FilteredFrom(shownFirst, pick(rng));
    d->Page(shownFirst - 1);
  });
  int typed = 0;
  int line = 1;  // a fresh browse highlights its first line
  cost[kLocate] = timed([&] { line = d->Located(kLetters[typed++ % 10], NextLine(line) - 1); });
  return cost;
}

// The ID values the browse's page shows, top to bottom.
inline std::vector<long> Shown(Browse& b) {
  std::vector<long> ids;
  for (int i = 1; i <= b.queue.Records(); ++i)
    ids.push_back(static_cast<long>(rt::ReadInteger(b.queue.Layout().Field(1), b.queue.Row(i))));
  return ids;
}

// Checks once, untimed, that each action's direct query reads the rows the browse shows.
// Prints MISMATCH for each one that does not; false when any does not.
inline bool SameRows(const BrowseBench& bench, const std::string& name, int rows,
                     ErrorManager& errors) {
  auto file = BrowseTable(name, bench.driver);
  long sum = 0;
  auto d = bench.direct(name, sum);
  if (!d) return false;
  bool same = true;
  auto check = [&](const char* action, const std::vector<long>& browse,
                   const std::vector<long>& direct) {
    if (browse == direct && !browse.empty()) return;
    same = false;
    std::printf(
        "MISMATCH %d rows, %s: the browse shows %zu rows from ID %ld, the direct query "
        "read %zu from ID %ld\n",
        rows, action, browse.size(), browse.empty() ? 0L : browse.front(), direct.size(),
        direct.empty() ? 0L : direct.front());
  };
  // Round trips and connections of each browse action (the last sample of each).
  std::vector<std::uint64_t> trips(kOps), connects(kOps);
  auto count = [&](int op, const std::function<void()>& action) {
    const std::uint64_t t0 = bench.roundTrips ? bench.roundTrips() : 0;
    const std::uint64_t c0 = bench.connections ? bench.connections() : 0;
    action();
    trips[op] = bench.roundTrips ? bench.roundTrips() - t0 : 0;
    connects[op] = bench.connections ? bench.connections() - c0 : 0;
  };
  std::vector<long> ids;
  std::unique_ptr<Browse> opened;
  count(kOpen, [&] { opened = std::make_unique<Browse>(*file, errors); });
  Browse& b = *opened;
  d->Page(INT64_MIN, &ids);
  check(kOpNames[kOpen], Shown(b), ids);
  const int from = rows / 3;
  rt::WriteInteger(file->Layout().Field(1), file->Record(), from);
  b.browse.ResetFromBuffer();
  count(kPageDown, [&] { b.Scroll(rt::event::kPageDown); });
  ids.clear();
  d->Page(from + kPage - 1, &ids);
  check(kOpNames[kPageDown], Shown(b), ids);
  count(kEnd, [&] { b.Scroll(rt::event::kScrollBottom); });
  ids.clear();
  d->End(&ids);
  check(kOpNames[kEnd], Shown(b), ids);
  count(kHome, [&] { b.Scroll(rt::event::kScrollTop); });
  ids.clear();
  d->Page(INT64_MIN, &ids);
  check(kOpNames[kHome], Shown(b), ids);
  for (int t = 0; t < 3; ++t) {
    b.Scroll(rt::event::kScrollTop);
    count(kThumb10 + t, [&] { b.Drag(kThumbPercent[t]); });
    ids.clear();
    d->Page(ThumbValue(rows, kThumbPercent[t]) - 1, &ids);
    check(kOpNames[kThumb10 + t], Shown(b), ids);
  }
  std::int64_t shownFirst = ThumbValue(rows, kThumbPercent[2]);
  for (int lowest : {rows / 2, rows - 20 * kPage, rows / 4}) {
    count(kFiltered, [&] { b.Filter(RangeFilter(lowest)); });
    shownFirst = FilteredFrom(shownFirst, lowest);
    ids.clear();
    d->Page(shownFirst - 1, &ids);
    check(kOpNames[kFiltered], Shown(b), ids);
  }
  {
    // A record of the page changed by another handle, then the browse's refill.
    b.browse.ResetSort(true);
    b.Scroll(rt::event::kScrollTop);
    auto writer = BrowseTable(name, bench.driver);
    if (writer->Open(rt::kOpenReadWriteDenyNone) == 0) {
      rt::WriteInteger(writer->Layout().Field(1), writer->Record(), 1);
      if (writer->Get(*writer->Key(1)) == 0) {
        const std::string old = rt::ReadText(writer->Layout().Field(2), writer->Record());
        rt::WriteText(writer->Layout().Field(2), writer->Record(), "checked");
        static_cast<void>(writer->Put());
        rt::WriteInteger(file->Layout().Field(1), file->Record(), 1);
        static_cast<void>(file->Get(*file->Key(1)));
        std::uint8_t request = ChangeRecord;
        std::uint8_t response = RequestCompleted;
        count(kRefill, [&] { b.browse.ResetFromAsk(request, response); });
        Drain();
        rt::WriteText(writer->Layout().Field(2), writer->Record(), old);
        static_cast<void>(writer->Put());
      }
      static_cast<void>(writer->Close());
    }
  }
  Browse byName(*file, errors, 2);
  int line = 1;
  for (int typed = 0; typed < 3 * kPage; ++typed) {
    count(kLocate, [&] { byName.Type(kLetters[typed % 10]); });
    ids.clear();
    line = d->Located(kLetters[typed % 10], NextLine(line) - 1, &ids);
    check(kOpNames[kLocate], Shown(byName), ids);
  }
  if (bench.roundTrips) {
    for (int op = 0; op < kOps; ++op) {
      std::printf("%8d rows, %-20s: %2llu round trips, %llu connections\n", rows, kOpNames[op],
                  static_cast<unsigned long long>(trips[op]),
                  static_cast<unsigned long long>(connects[op]));
    }
  }
  return same;
}

// Times every action through the browse and directly over the tables `names` (of `sizes`
// rows, already built and checked), in alternating rounds, and prints each median, the
// ratios and the resident memory `resident` measured after each size's warm-up. With two
// sizes, also the large size against the small one. False when a read failed.
inline bool TimeAndPrint(const BrowseBench& bench, const std::vector<std::string>& names,
                         const std::vector<int>& sizes, const std::vector<long>& resident,
                         ErrorManager& errors, long& sum) {
  const int repeats = std::max(1, bench.repeats / kRounds);
  // The sizes take turns round by round, as the browse and the direct queries do within a
  // round: a busy spell of the machine then falls on both sizes alike.
  std::vector<Samples> browseSamples(sizes.size(), Samples(kOps));
  std::vector<Samples> directSamples(sizes.size(), Samples(kOps));
  std::vector<std::vector<double>> warm(sizes.size());
  for (int round = 0; round < kRounds; ++round) {
    for (std::size_t s = 0; s < sizes.size(); ++s) {
      const Samples b = BrowseCosts(bench, names[s], sizes[s], repeats, errors, sum, 3 + round);
      const Samples d = DirectCosts(bench, names[s], sizes[s], repeats, sum, 3 + round, warm[s]);
      if (b.empty() || d.empty()) {
        std::fprintf(stderr, "reading %d rows failed\n", sizes[s]);
        return false;
      }
      for (int op = 0; op < kOps; ++op) {
        browseSamples[s][op].insert(browseSamples[s][op].end(), b[op].begin(), b[op].end());
        directSamples[s][op].insert(directSamples[s][op].end(), d[op].begin(), d[op].end());
      }
    }
  }
  std::vector<std::vector<double>> browse(sizes.size()), direct(sizes.size());
  for (std::size_t s = 0; s < sizes.size(); ++s) {
    for (int op = 0; op < kOps; ++op) {
      browse[s].push_back(Median(browseSamples[s][op]));
      direct[s].push_back(Median(directSamples[s][op]));
    }
    std::vector<double>& filtered = browseSamples[s][kFiltered];
    std::nth_element(filtered.begin(), filtered.begin() + filtered.size() * 9 / 10, filtered.end());
    const double filteredSlowest = filtered[filtered.size() * 9 / 10];
    for (int op = 0; op < kOps; ++op) {
      std::printf("%8d rows, %-20s: %8.1f us browse, %8.1f us %s, ratio %.2f\n", sizes[s],
                  kOpNames[op], browse[s][op], direct[s][op], bench.directLabel.c_str(),
                  browse[s][op] / direct[s][op]);
    }
    std::printf("%8d rows, filtered first page, slowest tenth from %.1f us\n", sizes[s],
                filteredSlowest);
    std::printf("%8d rows, direct page read with no write before it: %.1f us\n", sizes[s],
                Median(warm[s]));
    std::printf("%8d rows: resident memory %ld kB\n", sizes[s], resident[s]);
  }
  for (int op = 0; op < kOps && sizes.size() == 2; ++op) {
    std::printf(
        "%-20s: 1,000,000 vs 10,000 rows %.2f (goal 1.5), browse vs direct at "
        "1,000,000 rows %.2f (goal 2)\n",
        kOpNames[op], browse[1][op] / browse[0][op], browse[1][op] / direct[1][op]);
  }
  if (sizes.size() == 2)
    std::printf("resident memory 1,000,000 vs 10,000 rows: %+ld kB\n", resident[1] - resident[0]);
  return true;
}

}  // namespace bench
