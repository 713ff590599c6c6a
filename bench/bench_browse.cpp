// SPDX-License-Identifier: GPL-3.0-or-later
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

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchBrowse.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/HeadlessBackend.h"
#include "platform/store/StoreDriver.h"

namespace {

using bench::kPage;
int gRepeats = 200;

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// What a list needs of a row read directly: its record id (the row's position) and the
// values it shows, the file name as text.
long Take(sqlite3_stmt* s) {
  const unsigned char* name = sqlite3_column_text(s, 5);
  return static_cast<long>(sqlite3_column_int64(s, 0)) + sqlite3_column_int(s, 4) +
         sqlite3_column_bytes(s, 5) + (name ? name[0] : 0);
}

// The direct keyset queries on the STORE table's SQLite file.
class Direct : public bench::DirectQueries {
 public:
  Direct(std::string path, long& sum) : path_(std::move(path)), sum_(sum) {}
  ~Direct() override {
    for (sqlite3_stmt* s : {forward_, last_, byName_, beforeName_, change_})
      sqlite3_finalize(s);
    sqlite3_close(db_);
    sqlite3_close(other_);
  }
  Direct(const Direct&) = delete;
  Direct& operator=(const Direct&) = delete;
  bool Open() {
    const std::string columns =
        "SELECT _rid, _ver, _nulls, _bsize1, \"ID\", \"FileName\" FROM records ";
    return sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
           Prepare(db_, columns + "WHERE (\"ID\", _rid) > (?, ?) ORDER BY \"ID\", _rid LIMIT ?",
                   forward_) &&
           Prepare(db_, columns + "ORDER BY \"ID\" DESC, _rid DESC LIMIT ?", last_) &&
           Prepare(db_, columns + "WHERE \"FileName\" >= ? ORDER BY \"FileName\", _rid LIMIT ?",
                   byName_) &&
           Prepare(db_,
                   columns + "WHERE \"FileName\" < ? ORDER BY \"FileName\" DESC, _rid DESC LIMIT ?",
                   beforeName_);
  }
  bool FreshFirstPage() override {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr)) {
      sqlite3_close(db);
      return false;
    }
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT _rid, _ver, _nulls, _bsize1, \"ID\", \"FileName\" FROM records "
                       "WHERE (\"ID\", _rid) > (?, ?) ORDER BY \"ID\", _rid LIMIT ?",
                       -1, &s, nullptr);
    sqlite3_bind_int64(s, 1, INT64_MIN);
    sqlite3_bind_int64(s, 2, INT64_MAX);
    sqlite3_bind_int(s, 3, kPage);
    while (sqlite3_step(s) == SQLITE_ROW)
      sum_ += Take(s);
    sqlite3_finalize(s);
    sqlite3_close(db);
    return true;
  }
  void Page(std::int64_t after, std::vector<long>* ids = nullptr) override {
    sqlite3_bind_int64(forward_, 1, after);
    sqlite3_bind_int64(forward_, 2, INT64_MAX);
    sqlite3_bind_int(forward_, 3, kPage);
    Read(forward_, ids);
  }
  void End(std::vector<long>* ids = nullptr) override {
    sqlite3_bind_int(last_, 1, kPage);
    Read(last_, ids, true);
  }
  int Located(char letter, int above, std::vector<long>* ids = nullptr) override {
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
  bool Rename(int id, const std::string& name) override {
    if (!other_ &&
        (sqlite3_open_v2(path_.c_str(), &other_, SQLITE_OPEN_READWRITE, nullptr) ||
         !Prepare(other_, "UPDATE records SET \"FileName\" = ? WHERE \"ID\" = ?", change_)))
      return false;
    sqlite3_bind_text(change_, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(change_, 2, id);
    const bool done = sqlite3_step(change_) == SQLITE_DONE;
    sqlite3_reset(change_);
    return done;
  }

 private:
  static bool Prepare(sqlite3* db, const std::string& sql, sqlite3_stmt*& s) {
    return sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK;
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

  std::string path_;
  long& sum_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* forward_ = nullptr;
  sqlite3_stmt* last_ = nullptr;
  sqlite3_stmt* byName_ = nullptr;
  sqlite3_stmt* beforeName_ = nullptr;
  sqlite3* other_ = nullptr;  // the other connection that changes rows
  sqlite3_stmt* change_ = nullptr;
};

// CPU used by the process while a browse thread waits in its event loop for a second.
double IdleCpuMs(const std::string& name) {
  std::atomic<bool> waiting{false};
  const int thread = rt::Start([&](const std::vector<std::string>&) {
    rt::ThreadLocal<ErrorStatus> status;
    ErrorManager threadErrors;
    threadErrors.Start(status);
    {
      auto file = bench::BrowseTable(name, rt::kStoreDriverName);
      bench::Browse b(*file, threadErrors);
      waiting = true;
      b.window.EventLoop([] { return 0; });
    }
    threadErrors.Kill();
    status.Destroy();
  });
  while (!waiting)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double c0 = CpuSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const double used = (CpuSeconds() - c0) * 1000;
  rt::PostCloseDown(thread);
  return used;
}

int Run(const std::vector<int>& sizes) {
  rt::RegisterStoreDriver();
  char templ[] = "/tmp/bench_browse-XXXXXX";
  if (!::mkdtemp(templ)) return 1;
  const std::string dir = templ;
  rt::ThreadLocal<ErrorStatus> status;
  ErrorManager errors;
  errors.Start(status);
  bench::BrowseBench setup;
  setup.driver = rt::kStoreDriverName;
  setup.directLabel = "direct SQLite";
  setup.repeats = gRepeats;
  setup.direct = [](const std::string& name, long& sum) -> std::unique_ptr<bench::DirectQueries> {
    auto d = std::make_unique<Direct>(name + rt::kStoreExtension, sum);
    if (!d->Open()) return nullptr;
    return d;
  };
  std::vector<long> resident(sizes.size());
  std::vector<std::string> names;
  long sum = 0;
  for (int rows : sizes) {
    names.push_back(dir + "/T" + std::to_string(rows));
    const auto b0 = std::chrono::steady_clock::now();
    if (!bench::FillTable(*bench::BrowseTable(names.back(), setup.driver), rows,
                          bench::NameMaker())) {
      std::fprintf(stderr, "building %d rows failed\n", rows);
      return 1;
    }
    std::printf("built %8d rows in %.1f s\n", rows,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - b0).count());
    if (bench::SameRows(setup, names.back(), rows, errors))
      std::printf("%8d rows: each direct query reads the rows the browse shows\n", rows);
    // A first round warms the caches; the memory is read after it, before the next table.
    bench::BrowseCosts(setup, names.back(), rows, std::max(1, gRepeats / bench::kRounds), errors,
                       sum, 1);
    resident[names.size() - 1] = bench::ResidentKb();
  }
  if (!bench::TimeAndPrint(setup, names, sizes, resident, errors, sum)) return 1;
  std::printf("CPU of a browse thread waiting in its event loop for 1 s: %.1f ms\n",
              IdleCpuMs(names.front()));
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
  rt::InstallHeadlessBackend();
  int result = 0;
  rt::RunProgram([&] { result = Run(sizes); });
  return result;
}
