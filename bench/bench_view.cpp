// SPDX-License-Identifier: GPL-3.0-or-later
// Reading one page of 20 rows through a view from positions spread over the view, for a
// table of 10,000 rows and one of 1,000,000 rows, in three orders: a key's order, the same
// order reversed, and an order on an expression (UPPER of the file name, served by an index
// the view makes on demand), plus the key order under a range filter. Prints the cost per
// page and the ratio between the two sizes: a page should cost the same at either size.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/BenchTable.h"
#include "platform/runtime/expressions/View.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/files/FileTransaction.h"
#include "platform/store/Store.h"

namespace {

using bench::kPage;
using bench::kPages;
using bench::Table;

bool Build(const std::string& name, int rows) {
  std::mt19937 rng(7);
  return bench::BuildTable(name, rows, [&rng](int) {
    // Names in an order unrelated to the IDs, in mixed case.
    const unsigned code = static_cast<unsigned>(rng());
    return std::string(code & 1 ? "/Home/" : "/home/") + std::to_string(code) + ".pdf";
  });
}

struct Measure {
  const char* order;
  const char* filter;
};

// Positions of records spread over the view: the record at or after random IDs (key orders)
// or names (the name order).
std::vector<std::string> Positions(rt::View& view, rt::File& f, int rows) {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> pick(1, rows);
  std::vector<std::string> positions;
  const auto& l = f.Layout();
  while (positions.size() < kPages) {
    const int id = pick(rng);
    rt::WriteInteger(l.Field(1), f.Record(), id);
    rt::WriteText(l.Field(2), f.Record(), "/HOME/" + std::to_string(rng()));
    if (view.Set(1) != 0) return {};
    if (view.Next() == 0) positions.push_back(view.Position());
  }
  return positions;
}

// Nanoseconds per page read from a position; -1 on failure.
double Pages(const std::string& name, int rows, const Measure& m, long& sum, double& setup) {
  auto f = Table(name);
  if (f->Open(rt::kOpenReadWriteDenyNone) != 0) return -1;
  rt::View view(*f);
  const auto s0 = std::chrono::steady_clock::now();
  if (view.SetOrder(m.order) != 0 || view.SetFilter(m.filter) != 0 || view.Open() != 0) return -1;
  setup = std::chrono::duration<double>(std::chrono::steady_clock::now() - s0).count();
  view.SetBuffer(kPage, 2, 0, 60);
  const auto positions = Positions(view, *f, rows);
  if (positions.empty()) return -1;
  const auto& l = f->Layout();
  double best = 0;
  for (int round = 0; round < 2; ++round) {  // the first round warms the cache
    const auto t0 = std::chrono::steady_clock::now();
    for (const std::string& p : positions) {
      if (view.Reset(p) != 0) return -1;
      for (int i = 0; i < kPage && view.Next() == 0; ++i)
        sum += rt::ReadInteger(l.Field(1), f->Record());
    }
    const auto t1 = std::chrono::steady_clock::now();
    best = std::chrono::duration<double, std::nano>(t1 - t0).count() / positions.size();
  }
  return best;
}

}  // namespace

int main() {
  rt::RegisterStoreDriver();
  const bench::ScratchDir dir("bench_view");
  if (!dir.Ok()) return 1;
  const std::vector<Measure> measures = {
      {"BEN:ID", ""},
      {"-BEN:ID", ""},
      {"UPPER(BEN:FileName)", ""},
      {"BEN:ID", "BEN:ID >= 5 AND BEN:ID <= 2000000000"},
  };
  const std::vector<int> sizes = {10000, 1000000};
  std::vector<std::vector<double>> cost(sizes.size(), std::vector<double>(measures.size()));
  long sum = 0;
  for (std::size_t s = 0; s < sizes.size(); ++s) {
    const std::string name = dir.File("T" + std::to_string(sizes[s]));
    const auto b0 = std::chrono::steady_clock::now();
    if (!Build(name, sizes[s])) {
      std::fprintf(stderr, "building %d rows failed\n", sizes[s]);
      return 1;
    }
    std::printf("built %8d rows in %.1f s\n", sizes[s],
                std::chrono::duration<double>(std::chrono::steady_clock::now() - b0).count());
    for (std::size_t m = 0; m < measures.size(); ++m) {
      double setup = 0;
      cost[s][m] = Pages(name, sizes[s], measures[m], sum, setup);
      if (cost[s][m] < 0) {
        std::fprintf(stderr, "reading %s failed\n", measures[m].order);
        return 1;
      }
      std::printf("%8d rows, order %-20s filter %-12s: %7.1f us per page (open %.2f s)\n", sizes[s],
                  measures[m].order, *measures[m].filter ? "range" : "none", cost[s][m] / 1000,
                  setup);
    }
  }
  for (std::size_t m = 0; m < measures.size(); ++m) {
    std::printf("page cost 1,000,000 vs 10,000 rows, order %-20s filter %-5s: %.2f\n",
                measures[m].order, *measures[m].filter ? "range" : "none", cost[1][m] / cost[0][m]);
  }
  std::printf("(checksum %ld)\n", sum);
  return 0;
}
