// SPDX-License-Identifier: GPL-3.0-or-later
// Full-text search on a server table against the same search on a local table: the same page
// texts (words drawn from a skewed vocabulary, so that some are on most pages and others on a
// few) are indexed through each driver's index, and each query is run on both, each figure
// the median of its runs. Prints the times and their ratios (server / local), and whether
// both answered alike; never checks them. A private server is started for the run (initdb
// into a temporary folder, Unix socket only), as the tests do.
//
//   bench_search_pg [documents] [pages] [runs]     (1000 20 15 by default)

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/DemoData.h"
#include "app/TextIndexer.h"
#include "platform/pgstore/PgStore.h"
#include "platform/runtime/files/TextIndex.h"
#include "platform/store/Store.h"
#include "support/PgServer.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point from) {
  return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

// A word of the vocabulary: letters only, distinct for every number.
std::string Word(int k) {
  std::string s;
  do {
    s += static_cast<char>('a' + k % 26);
    k /= 26;
  } while (k > 0);
  return s + "q";
}

// Stores `documents` records and indexes `texts` (one list of pages per record) through the
// index of `driver`; the indexing time in seconds, or a negative number on failure.
double Load(const std::string& driver, const std::vector<std::vector<std::string>>& texts,
            std::unique_ptr<rt::TextIndex>& index) {
  ChooseDemoDataDriver(driver);
  rt::File& table = DemoData();
  if (table.Create() != 0 || table.Open() != 0) return -1;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    SetDemoDataId(static_cast<std::int32_t>(i + 1));
    SetDemoDataFileName("doc" + std::to_string(i + 1) + ".pdf");
    if (table.SetBlobContents(kDemoDataBlob, "x") != 0 || table.Add() != 0) return -1;
  }
  if (table.Close() != 0 || TextIndexer::OpenIndex(index) != 0) return -1;
  const auto start = Clock::now();
  std::vector<rt::TextWork> work;
  if (index->Pending(texts.size(), work) != 0) return -1;
  for (const rt::TextWork& item : work) {
    const auto& pages = texts[static_cast<std::size_t>(item.record - 1)];
    int next = 0;
    if (index->BeginDocument(item.record, item.version, next) != 0) return -1;
    // A few pages per transaction, as the indexer commits them.
    for (std::size_t p = 0; p < pages.size(); p += 8) {
      const auto end = pages.begin() + static_cast<std::ptrdiff_t>(std::min(pages.size(), p + 8));
      if (index->AddPages(item.record, item.version, static_cast<int>(p),
                          {pages.begin() + static_cast<std::ptrdiff_t>(p), end}) != 0)
        return -1;
    }
    if (index->FinishDocument(item.record, item.version, rt::TextState::Indexed) != 0) return -1;
  }
  return Ms(start) / 1000;
}

bool Same(const std::vector<rt::TextHit>& a, const std::vector<rt::TextHit>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].record != b[i].record || a[i].page != b[i].page || a[i].snippet != b[i].snippet)
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int documents = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
  const int pages = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 15;
  std::string why;
  const testing_support::PgServer* server = testing_support::PgServer::Shared(&why);
  if (!server) {
    std::fprintf(stderr, "no server: %s\n", why.c_str());
    return 1;
  }
  rt::RegisterPgDriver(server->Conninfo());
  char folder[] = "/tmp/bench_search_pg-XXXXXX";
  if (!::mkdtemp(folder)) return 1;
  std::filesystem::current_path(folder);

  std::mt19937 random(7);
  std::vector<double> weights;
  for (int k = 0; k < 20000; ++k)
    weights.push_back(1.0 / (k + 1));
  std::discrete_distribution<int> pick(weights.begin(), weights.end());
  std::vector<std::vector<std::string>> texts(static_cast<std::size_t>(documents));
  for (auto& document : texts) {
    for (int p = 0; p < pages; ++p) {
      std::string text;
      for (int w = 0; w < 300; ++w)
        text += Word(pick(random)) + (w % 12 == 11 ? ". " : " ");
      document.push_back(std::move(text));
    }
  }
  std::printf("%d documents of %d pages, 300 words a page\n", documents, pages);

  const std::string drivers[2] = {rt::kStoreDriverName, rt::kPgDriverName};
  std::unique_ptr<rt::TextIndex> indexes[2];
  double loads[2] = {0, 0};
  for (int d = 0; d < 2; ++d) {
    loads[d] = Load(drivers[d], texts, indexes[d]);
    if (loads[d] < 0) {
      std::fprintf(stderr, "indexing on %s failed\n", drivers[d].c_str());
      return 1;
    }
    DestroyDemoData();
  }
  std::printf("indexing: local %.1f s, server %.1f s, ratio %.2f\n\n", loads[0], loads[1],
              loads[1] / loads[0]);

  struct Query {
    const char* label;
    std::vector<rt::TextTerm> terms;
  };
  const std::vector<Query> queries = {
      {"most common word", {{{Word(0)}, false}}},
      {"common word", {{{Word(5)}, false}}},
      {"word of 1 page in 50", {{{Word(500)}, false}}},
      {"rare word", {{{Word(8000)}, false}}},
      {"prefix of 1 letter", {{{"b"}, true}}},
      {"phrase of 2 common words", {{{Word(1), Word(2)}, false}}},
      {"2 words", {{{Word(3)}, false}, {{Word(40)}, false}}},
  };
  std::printf("%-26s %12s %12s %7s %6s %5s\n", "query (best 200 pages)", "local ms", "server ms",
              "ratio", "hits", "same");
  for (const Query& query : queries) {
    double medians[2] = {0, 0};
    std::vector<rt::TextHit> answers[2];
    for (int d = 0; d < 2; ++d) {
      std::vector<double> times;
      for (int run = 0; run < runs; ++run) {
        const auto start = Clock::now();
        if (indexes[d]->Search(query.terms, 200, answers[d]) != 0) {
          std::fprintf(stderr, "search on %s failed\n", drivers[d].c_str());
          return 1;
        }
        times.push_back(Ms(start));
      }
      std::sort(times.begin(), times.end());
      medians[d] = times[times.size() / 2];
    }
    std::printf("%-26s %12.1f %12.1f %7.2f %6zu %5s\n", query.label, medians[0], medians[1],
                medians[1] / medians[0], answers[0].size(),
                Same(answers[0], answers[1]) ? "yes" : "NO");
  }
  indexes[0].reset();
  indexes[1].reset();
  std::filesystem::current_path("/");
  std::filesystem::remove_all(folder);
  return 0;
}
