// A browse of 20 rows driven headless over a table of 10,000 rows and one of 1,000,000 rows:
// opening it and filling its first page, page down, end, home, the refill after a record was
// changed, locating by a typed character (the locator of an order on a text key), dragging
// the scroll-bar thumb to 10%, 50% and 90% (the thumb step of the number key, through the
// list's drag event), and the first page after a filter an index serves was applied. Each
// is compared with the same rows read by a direct SQLite keyset query in the same run, and
// with itself at the other size. Also prints the resident memory after each size and the
// CPU a browse thread uses while it waits in its event loop. Times are the benchmark
// thread's CPU time, the browse and the direct queries, and the two sizes, measured in
// alternating rounds, each figure the median of its samples. Figures are printed, never checked:
// the limits in the summary are the goals (1,000,000 vs 10,000 rows at most 1.5, browse vs direct
// query at most 2).
//
// Arguments: [rows [repeats]]. With rows, only a table of that many rows is read; repeats
// (default 200) sets how often each action is timed, for profiling.

#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
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
#include "platform/runtime/files/FileTransaction.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/values/Queue.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"
#include "platform/store/StoreDriver.h"

namespace {

using bench::kPage;
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
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return time_point(duration(static_cast<rep>(ts.tv_sec) * 1000000000 + ts.tv_nsec));
  }
};
static_assert(Clock::is_steady, "sample durations are differences of now()");

constexpr int kList = 1;
int gRepeats = 200;
// Each action's samples, by action.
using Samples = std::vector<std::vector<double>>;
// The browse and the direct queries are timed in turns, so that both see the same load.
constexpr int kRounds = 5;

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
const char* const kOpNames[kOps] = {
    "open + first page", "page down",    "end",          "home",         "refill after update",
    "locate typed char", "thumb to 10%", "thumb to 50%", "thumb to 90%", "filtered first page"};
constexpr int kThumbPercent[] = {10, 50, 90};
constexpr char kLetters[] = "qmbxfkatsz";

// The benchmark table with a second key, on the file name, for the locator's order.
std::unique_ptr<rt::File> Table(const std::string& name) {
  auto f = bench::Table(name);
  f->AddKey("BEN:Name_Key", {{2, true, false}}, false);
  return f;
}

// File names that start with random lower-case letters, so that a typed letter lands
// anywhere in the name order.
bool Build(const std::string& name, int rows) {
  auto f = Table(name);
  if (f->Create() != 0 || f->Open(rt::kOpenReadWriteDenyNone) != 0 ||
      f->SetTransactionMember(true) != 0)
    return false;
  if (rt::StartTransaction(10) != 0) return false;
  const auto& l = f->Layout();
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> letter('a', 'z');
  for (int i = 1; i <= rows; ++i) {
    std::string text(8, ' ');
    for (char& c : text)
      c = static_cast<char>(letter(rng));
    rt::WriteInteger(l.Field(1), f->Record(), i);
    rt::WriteText(l.Field(2), f->Record(), text + "/" + std::to_string(rng()) + ".pdf");
    if (f->Add() != 0) return false;
  }
  return rt::CommitTransaction() == 0;
}

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Micro(Clock::time_point t0, Clock::time_point t1, int count = 1) {
  return std::chrono::duration<double, std::micro>(t1 - t0).count() / count;
}

// The median of timings: a mean would mostly measure the occasional slow sample.
double Median(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

// Drops the selection events a browse posted: nobody runs this thread's event loop here.
void Drain() {
  while (!rt::MyEvents().Empty())
    rt::MyEvents().Wait(std::chrono::milliseconds(0));
}

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

std::shared_ptr<rt::WindowDef> ListWindow() {
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
  // passes it on.
  double Type(char c) {
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
  double Filter(const std::string& filter) {
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

std::string RangeFilter(int from) {
  return "BEN:ID >= " + std::to_string(from);
}

// Microseconds per operation through the browse, `gRepeats` samples of each (a tenth for the
// open); `seed` picks the places.
Samples BrowseCosts(const std::string& name, int rows, ErrorManager& errors, long& sum,
                    unsigned seed) {
  Samples cost(kOps);
  auto file = Table(name);
  {
    std::vector<double> open;
    for (int i = 0; i < std::max(1, gRepeats / 10); ++i) {
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
  for (int i = 0; i < gRepeats; ++i) {
    rt::WriteInteger(file->Layout().Field(1), file->Record(), pick(rng));
    b.browse.ResetFromBuffer();
    pageDown.push_back(b.Scroll(rt::event::kPageDown));
    sum += b.queue.Records();
  }
  cost[kPageDown] = std::move(pageDown);
  for (int i = 0; i < gRepeats; ++i) {
    end.push_back(b.Scroll(rt::event::kScrollBottom));
    sum += b.queue.Records();
    home.push_back(b.Scroll(rt::event::kScrollTop));
    sum += b.queue.Records();
  }
  cost[kEnd] = std::move(end);
  cost[kHome] = std::move(home);
  // A record of the page changed (as the update form does), then the browse's refill.
  auto writer = Table(name);
  static_cast<void>(writer->Open(rt::kOpenReadWriteDenyNone));
  for (int i = 0; i < gRepeats; ++i) {
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
    for (int i = 0; i < gRepeats; ++i) {
      b.Scroll(rt::event::kScrollTop);
      drag.push_back(b.Drag(kThumbPercent[t]));
      sum += b.browse.CurrentChoice + b.queue.Records();
    }
    cost[kThumb10 + t] = std::move(drag);
  }
  // A filter on the number from a random place: the key's index serves it.
  std::vector<double> filtered;
  for (int i = 0; i < gRepeats; ++i) {
    filtered.push_back(b.Filter(RangeFilter(pick(rng))));
    sum += b.queue.Records();
  }
  cost[kFiltered] = std::move(filtered);
  {
    // Locating in the file-name order, one letter after another.
    Browse byName(*file, errors, 2);
    std::vector<double> locate;
    for (int i = 0; i < gRepeats; ++i) {
      locate.push_back(byName.Type(kLetters[i % 10]));
      sum += byName.browse.CurrentChoice + byName.queue.Records();
    }
    cost[kLocate] = std::move(locate);
  }
  return cost;
}

// What a list needs of a row read directly: its record id (the row's position) and the
// values it shows, the file name as text.
long Take(sqlite3_stmt* s) {
  const unsigned char* name = sqlite3_column_text(s, 5);
  return static_cast<long>(sqlite3_column_int64(s, 0)) + sqlite3_column_int(s, 4) +
         sqlite3_column_bytes(s, 5) + (name ? name[0] : 0);
}

// The direct keyset queries, one per kind of page the browse shows. Each reads the rows the
// list ends up showing and nothing else; `ids`, when given (never while timed), receives
// their ID values top to bottom.
class Direct {
 public:
  Direct(long& sum) : sum_(sum) {}
  ~Direct() {
    for (sqlite3_stmt* s : {forward_, last_, byName_, beforeName_})
      sqlite3_finalize(s);
    sqlite3_close(db_);
  }
  bool Open(const std::string& path) {
    const std::string columns =
        "SELECT _rid, _ver, _nulls, _bsize1, \"ID\", \"FileName\" FROM records ";
    return sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
           Prepare(columns + "WHERE (\"ID\", _rid) > (?, ?) ORDER BY \"ID\", _rid LIMIT ?",
                   forward_) &&
           Prepare(columns + "ORDER BY \"ID\" DESC, _rid DESC LIMIT ?", last_) &&
           Prepare(columns + "WHERE \"FileName\" >= ? ORDER BY \"FileName\", _rid LIMIT ?",
                   byName_) &&
           Prepare(columns + "WHERE \"FileName\" < ? ORDER BY \"FileName\" DESC, _rid DESC LIMIT ?",
                   beforeName_);
  }
  // A page of the rows whose ID is past `after`.
  void Page(std::int64_t after, std::vector<long>* ids = nullptr) {
    sqlite3_bind_int64(forward_, 1, after);
    sqlite3_bind_int64(forward_, 2, INT64_MAX);
    sqlite3_bind_int(forward_, 3, kPage);
    Read(forward_, ids);
  }
  // The last page, read backwards from the end.
  void End(std::vector<long>* ids = nullptr) {
    sqlite3_bind_int(last_, 1, kPage);
    Read(last_, ids, true);
  }
  // A located page in the name order: up to `above` rows before the first name from
  // `letter` on, then that name and the rows after it. Returns the line of the located row.
  int Located(char letter, int above, std::vector<long>* ids = nullptr) {
    const char text[2] = {letter, 0};
    int got = 0;
    if (above > 0) {
      sqlite3_bind_text(beforeName_, 1, text, 1, SQLITE_STATIC);
      sqlite3_bind_int(beforeName_, 2, above);
      got = Read(beforeName_, ids, true);
    }
    sqlite3_bind_text(byName_, 1, text, 1, SQLITE_STATIC);
    sqlite3_bind_int(byName_, 2, kPage - got);
    Read(byName_, ids);
    return got + 1;
  }

 private:
  bool Prepare(const std::string& sql, sqlite3_stmt*& s) {
    return sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr) == SQLITE_OK;
  }
  // Rows read backwards go on top of those already taken, as in the list.
  // Returns the number of rows read.
  int Read(sqlite3_stmt* s, std::vector<long>* ids, bool backward = false) {
    const std::size_t at = ids ? ids->size() : 0;
    int n = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
      ++n;
      sum_ += Take(s);
      if (ids) ids->insert(backward ? ids->begin() + at : ids->end(), sqlite3_column_int(s, 4));
    }
    sqlite3_reset(s);
    return n;
  }

  long& sum_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* forward_ = nullptr;
  sqlite3_stmt* last_ = nullptr;
  sqlite3_stmt* byName_ = nullptr;
  sqlite3_stmt* beforeName_ = nullptr;
};

// The browse keeps the highlighted row's screen line when it locates, as far as there are
// rows above the located one. The highlight first moves one line down (the locator steps to
// the next record before it compares), up to the last line. Returns the line the located row
// was shown on before the letter is typed next.
int NextLine(int line) {
  return std::min(line + 1, kPage);
}

// The value at a percentage of the number order, where the thumb step puts a drag.
std::int64_t ThumbValue(int rows, int percent) {
  return 1 + static_cast<std::int64_t>(rows - 1) * percent / 100;
}

// A filter keeps the highlighted row when it passes: the page then starts at the higher of
// the first row shown before and the filter's lower bound.
std::int64_t FilteredFrom(std::int64_t shownFirst, int from) {
  return std::max<std::int64_t>(shownFirst, from);
}

// Microseconds per operation for the same rows read by direct keyset queries, as many samples
// as BrowseCosts takes; `warm` gets samples of a page read with no write before it.
Samples DirectCosts(const std::string& name, int rows, long& sum, unsigned seed,
                    std::vector<double>& warm) {
  Samples cost(kOps);
  const std::string path = name + rt::kStoreExtension;
  std::vector<double> samples;
  auto timed = [&](const std::function<void()>& run) {
    samples.clear();
    for (int i = 0; i < gRepeats; ++i) {
      const auto t0 = Clock::now();
      run();
      samples.push_back(Micro(t0, Clock::now()));
    }
    return samples;
  };
  {
    std::vector<double> open;
    for (int i = 0; i < std::max(1, gRepeats / 10); ++i) {
      const auto t0 = Clock::now();
      sqlite3* db = nullptr;
      if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr)) return {};
      sqlite3_stmt* s = nullptr;
      sqlite3_prepare_v2(db,
                         "SELECT _rid, _ver, _nulls, _bsize1, \"ID\", \"FileName\" FROM records "
                         "WHERE (\"ID\", _rid) > (?, ?) ORDER BY \"ID\", _rid LIMIT ?",
                         -1, &s, nullptr);
      sqlite3_bind_int64(s, 1, INT64_MIN);
      sqlite3_bind_int64(s, 2, INT64_MAX);
      sqlite3_bind_int(s, 3, kPage);
      while (sqlite3_step(s) == SQLITE_ROW)
        sum += Take(s);
      sqlite3_finalize(s);
      sqlite3_close(db);
      open.push_back(Micro(t0, Clock::now()));
    }
    cost[kOpen] = std::move(open);
  }
  Direct d(sum);
  if (!d.Open(path)) return {};
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pick(1, rows - 10 * kPage);
  cost[kPageDown] = timed([&] { d.Page(pick(rng) + kPage); });
  cost[kEnd] = timed([&] { d.End(); });
  cost[kHome] = timed([&] { d.Page(INT64_MIN); });
  const auto unchanged = timed([&] { d.Page(pick(rng)); });
  warm.insert(warm.end(), unchanged.begin(), unchanged.end());
  {
    // As in the browse's refill, the page is read right after another connection changed a
    // row of it, so the reader finds its cached pages out of date.
    sqlite3* other = nullptr;
    sqlite3_stmt* change = nullptr;
    if (sqlite3_open_v2(path.c_str(), &other, SQLITE_OPEN_READWRITE, nullptr) ||
        sqlite3_prepare_v2(other, "UPDATE records SET \"FileName\" = ? WHERE \"ID\" = ?", -1,
                           &change, nullptr)) {
      sqlite3_close(other);
      return {};
    }
    samples.clear();
    for (int i = 0; i < gRepeats; ++i) {
      const int id = pick(rng);
      const std::string value = std::string(1, kLetters[i % 10]) + "direct/" + std::to_string(i);
      sqlite3_bind_text(change, 1, value.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(change, 2, id);
      sqlite3_step(change);
      sqlite3_reset(change);
      const auto t0 = Clock::now();
      d.Page(id - 1);
      samples.push_back(Micro(t0, Clock::now()));
    }
    cost[kRefill] = samples;
    sqlite3_finalize(change);
    sqlite3_close(other);
  }
  for (int t = 0; t < 3; ++t) {
    const std::int64_t at = ThumbValue(rows, kThumbPercent[t]);
    cost[kThumb10 + t] = timed([&] { d.Page(at - 1); });
  }
  // The browse filters after the last thumb drag, whose page starts at its value.
  std::int64_t shownFirst = ThumbValue(rows, kThumbPercent[2]);
  cost[kFiltered] = timed([&] {
    shownFirst = FilteredFrom(shownFirst, pick(rng));
    d.Page(shownFirst - 1);
  });
  int typed = 0;
  int line = 1;  // a fresh browse highlights its first line
  cost[kLocate] = timed([&] { line = d.Located(kLetters[typed++ % 10], NextLine(line) - 1); });
  return cost;
}

// The ID values the browse's page shows, top to bottom.
std::vector<long> Shown(Browse& b) {
  std::vector<long> ids;
  for (int i = 1; i <= b.queue.Records(); ++i)
    ids.push_back(static_cast<long>(rt::ReadInteger(b.queue.Layout().Field(1), b.queue.Row(i))));
  return ids;
}

// Checks once, untimed, that each action's direct query reads the rows the browse shows.
// Prints MISMATCH for each one that does not; false when any does not.
bool SameRows(const std::string& name, int rows, ErrorManager& errors) {
  auto file = Table(name);
  long sum = 0;
  Direct d(sum);
  if (!d.Open(name + rt::kStoreExtension)) return false;
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
  std::vector<long> ids;
  Browse b(*file, errors);
  d.Page(INT64_MIN, &ids);
  check(kOpNames[kOpen], Shown(b), ids);
  const int from = rows / 3;
  rt::WriteInteger(file->Layout().Field(1), file->Record(), from);
  b.browse.ResetFromBuffer();
  b.Scroll(rt::event::kPageDown);
  ids.clear();
  d.Page(from + kPage - 1, &ids);
  check(kOpNames[kPageDown], Shown(b), ids);
  b.Scroll(rt::event::kScrollBottom);
  ids.clear();
  d.End(&ids);
  check(kOpNames[kEnd], Shown(b), ids);
  b.Scroll(rt::event::kScrollTop);
  ids.clear();
  d.Page(INT64_MIN, &ids);
  check(kOpNames[kHome], Shown(b), ids);
  for (int t = 0; t < 3; ++t) {
    b.Scroll(rt::event::kScrollTop);
    b.Drag(kThumbPercent[t]);
    ids.clear();
    d.Page(ThumbValue(rows, kThumbPercent[t]) - 1, &ids);
    check(kOpNames[kThumb10 + t], Shown(b), ids);
  }
  std::int64_t shownFirst = ThumbValue(rows, kThumbPercent[2]);
  for (int lowest : {rows / 2, rows - 20 * kPage, rows / 4}) {
    b.Filter(RangeFilter(lowest));
    shownFirst = FilteredFrom(shownFirst, lowest);
    ids.clear();
    d.Page(shownFirst - 1, &ids);
    check(kOpNames[kFiltered], Shown(b), ids);
  }
  Browse byName(*file, errors, 2);
  int line = 1;
  for (int typed = 0; typed < 3 * kPage; ++typed) {
    byName.Type(kLetters[typed % 10]);
    ids.clear();
    line = d.Located(kLetters[typed % 10], NextLine(line) - 1, &ids);
    check(kOpNames[kLocate], Shown(byName), ids);
  }
  return same;
}

// CPU used by the process while a browse thread waits in its event loop for a second.
double IdleCpuMs(const std::string& name, ErrorManager& errors) {
  std::atomic<bool> waiting{false};
  const int thread = rt::Start([&](const std::vector<std::string>&) {
    rt::ThreadLocal<ErrorStatus> status;
    ErrorManager threadErrors;
    threadErrors.Start(status);
    {
      auto file = Table(name);
      Browse b(*file, threadErrors);
      waiting = true;
      b.window.EventLoop([] { return 0; });
    }
    threadErrors.Kill();
    status.Destroy();
  });
  (void)errors;
  while (!waiting)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double c0 = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double used = (CpuSeconds() - c0) * 1000;
  rt::PostCloseDown(thread);
  return used;
}

int Run(std::vector<int> sizes) {
  rt::RegisterStoreDriver();
  char templ[] = "/tmp/bench_browse-XXXXXX";
  if (!::mkdtemp(templ)) return 1;
  const std::string dir = templ;
  rt::ThreadLocal<ErrorStatus> status;
  ErrorManager errors;
  errors.Start(status);
  std::vector<std::vector<double>> browse(sizes.size()), direct(sizes.size());
  std::vector<long> resident(sizes.size());
  std::vector<std::string> names;
  long sum = 0;
  for (int rows : sizes) {
    names.push_back(dir + "/T" + std::to_string(rows));
    const auto b0 = std::chrono::steady_clock::now();
    if (!Build(names.back(), rows)) {
      std::fprintf(stderr, "building %d rows failed\n", rows);
      return 1;
    }
    std::printf("built %8d rows in %.1f s\n", rows,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - b0).count());
    if (SameRows(names.back(), rows, errors))
      std::printf("%8d rows: each direct query reads the rows the browse shows\n", rows);
    // A first round warms the caches; the memory is read after it, before the next table.
    BrowseCosts(names.back(), rows, errors, sum, 1);
    resident[names.size() - 1] = ResidentKb();
  }
  // The sizes take turns round by round, as the browse and the direct queries do within a
  // round: a busy spell of the machine then falls on both sizes alike.
  std::vector<Samples> browseSamples(sizes.size(), Samples(kOps));
  std::vector<Samples> directSamples(sizes.size(), Samples(kOps));
  std::vector<std::vector<double>> warm(sizes.size());
  for (int round = 0; round < kRounds; ++round) {
    for (std::size_t s = 0; s < sizes.size(); ++s) {
      const Samples b = BrowseCosts(names[s], sizes[s], errors, sum, 3 + round);
      const Samples d = DirectCosts(names[s], sizes[s], sum, 3 + round, warm[s]);
      if (b.empty() || d.empty()) {
        std::fprintf(stderr, "reading %d rows failed\n", sizes[s]);
        return 1;
      }
      for (int op = 0; op < kOps; ++op) {
        browseSamples[s][op].insert(browseSamples[s][op].end(), b[op].begin(), b[op].end());
        directSamples[s][op].insert(directSamples[s][op].end(), d[op].begin(), d[op].end());
      }
    }
  }
  for (std::size_t s = 0; s < sizes.size(); ++s) {
    for (int op = 0; op < kOps; ++op) {
      browse[s].push_back(Median(browseSamples[s][op]));
      direct[s].push_back(Median(directSamples[s][op]));
    }
    std::vector<double>& filtered = browseSamples[s][kFiltered];
    std::nth_element(filtered.begin(), filtered.begin() + filtered.size() * 9 / 10, filtered.end());
    const double filteredSlowest = filtered[filtered.size() * 9 / 10];
    for (int op = 0; op < kOps; ++op) {
      std::printf("%8d rows, %-20s: %8.1f us browse, %8.1f us direct SQLite, ratio %.2f\n",
                  sizes[s], kOpNames[op], browse[s][op], direct[s][op],
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
  std::printf("CPU of a browse thread waiting in its event loop for 1 s: %.1f ms\n",
              IdleCpuMs(dir + "/T" + std::to_string(sizes[0]), errors));
  std::printf("(checksum %ld)\n", sum);
  errors.Kill();
  status.Destroy();
  rt::JoinAllThreads();
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::vector<int> sizes = {10000, 1000000};
  if (argc > 1) sizes = {std::max(1000, std::atoi(argv[1]))};
  if (argc > 2) gRepeats = std::max(1, std::atoi(argv[2]));
  gRepeats = std::max(1, gRepeats / kRounds);
  rt::InstallHeadlessBackend();
  int result = 0;
  rt::RunProgram([&] { result = Run(sizes); });
  return result;
}
