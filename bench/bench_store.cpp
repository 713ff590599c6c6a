// SPDX-License-Identifier: GPL-3.0-or-later
// Reading one page of 20 rows in key order from points spread over a table, through the
// STORE driver and through a direct SQLite keyset query of the same rows, for a table of
// 10,000 rows and one of 1,000,000 rows. Prints the cost per page and the ratios: a page
// should cost the same at any size, and not much more than the direct query.

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchTable.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/files/FileTransaction.h"
#include "platform/store/Store.h"

namespace {

using bench::kPage;
using bench::kPages;
using bench::Table;

bool Build(const std::string& name, int rows) {
  return bench::BuildTable(
      name, rows, [](int id) { return "/home/user/documents/file" + std::to_string(id) + ".pdf"; });
}

std::vector<int> Starts(int rows) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> pick(1, rows - kPage);
  std::vector<int> starts(kPages);
  for (int& s : starts)
    s = pick(rng);
  return starts;
}

// Nanoseconds per page through the File API; `sum` keeps the reads from being dropped.
double FilePages(const std::string& name, const std::vector<int>& starts, long& sum) {
  auto f = Table(name);
  if (f->Open(rt::kOpenReadOnlyDenyNone) != 0) return -1;
  static_cast<void>(f->SetPrefetch(kPage));
  const rt::FileKey& key = *f->Key(1);
  const auto& l = f->Layout();
  const auto t0 = std::chrono::steady_clock::now();
  for (int start : starts) {
    rt::WriteInteger(l.Field(1), f->Record(), start);
    static_cast<void>(f->SetFromValues(key));
    for (int i = 0; i < kPage && f->Next() == 0; ++i)
      sum += rt::ReadInteger(l.Field(1), f->Record());
  }
  const auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::nano>(t1 - t0).count() / starts.size();
}

double DirectPages(const std::string& name, const std::vector<int>& starts, long& sum) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2((name + rt::kStoreExtension).c_str(), &db, SQLITE_OPEN_READONLY, nullptr)) {
    return -1;
  }
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT _rid, _ver, _nulls, _bsize1, \"ID\", \"FileName\" FROM records WHERE "
                     "(\"ID\", _rid) >= (?, ?) ORDER BY \"ID\", _rid LIMIT ?",
                     -1, &s, nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  for (int start : starts) {
    sqlite3_bind_int64(s, 1, start);
    sqlite3_bind_int64(s, 2, INT64_MIN);
    sqlite3_bind_int(s, 3, kPage);
    while (sqlite3_step(s) == SQLITE_ROW) {
      sum += sqlite3_column_int(s, 4);
      sum += sqlite3_column_bytes(s, 5);
    }
    sqlite3_reset(s);
  }
  const auto t1 = std::chrono::steady_clock::now();
  sqlite3_finalize(s);
  sqlite3_close(db);
  return std::chrono::duration<double, std::nano>(t1 - t0).count() / starts.size();
}

}  // namespace

int main() {
  rt::RegisterStoreDriver();
  const bench::ScratchDir dir("bench_store");
  if (!dir.Ok()) return 1;
  struct Size {
    int rows;
    double file = 0, direct = 0;
  };
  std::vector<Size> sizes{{10000}, {1000000}};
  long sum = 0;
  for (Size& size : sizes) {
    const std::string name = dir.File("T" + std::to_string(size.rows));
    const auto b0 = std::chrono::steady_clock::now();
    if (!Build(name, size.rows)) {
      std::fprintf(stderr, "building %d rows failed\n", size.rows);
      return 1;
    }
    const auto b1 = std::chrono::steady_clock::now();
    std::printf("built %8d rows in %.1f s\n", size.rows,
                std::chrono::duration<double>(b1 - b0).count());
    const auto starts = Starts(size.rows);
    FilePages(name, starts, sum);  // warm the cache
    size.file = FilePages(name, starts, sum);
    size.direct = DirectPages(name, starts, sum);
    std::printf("%8d rows: %.1f us per page via File, %.1f us direct\n", size.rows,
                size.file / 1000, size.direct / 1000);
  }
  std::printf("page cost 1,000,000 vs 10,000 rows: %.2f (File), %.2f (direct)\n",
              sizes[1].file / sizes[0].file, sizes[1].direct / sizes[0].direct);
  std::printf("File vs direct SQLite at 1,000,000 rows: %.2f\n", sizes[1].file / sizes[1].direct);
  std::printf("(checksum %ld)\n", sum);
  return 0;
}
