// SPDX-License-Identifier: GPL-3.0-or-later
// Full-text search: query time over 2,000 stored documents of 100 pages against the same
// FTS5 query run straight on the index, indexing a real document against pdftotext on the
// same file, and the memory a 2,000-page document costs while it is indexed.
//
//   bench_search [documents] [pages]     (2000 100 by default)
//
// The 2,000 x 100 page texts are written straight into the index tables in one transaction
// (words drawn from a skewed vocabulary, so that some words are on most pages and others on a
// few); the indexing ratio and the memory use come from the real indexer on generated PDFs.

#include <malloc.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "app/DemoData.h"
#include "app/TextIndexer.h"
#include "platform/pdf/PdfDocumentSet.h"
#include "platform/pdf/PdfEngineLock.h"
#include "platform/store/Store.h"
#include "platform/store/StoreTextIndex.h"
#include "tests/pdf/PdfTestWriter.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// A word of the vocabulary: letters only, distinct for every number.
std::string Word(int n) {
  std::string w = "w";
  do {
    w += static_cast<char>('a' + n % 26);
    n /= 26;
  } while (n > 0);
  return w;
}

// Stores documents into the calling thread's table, made anew in the working folder.
bool Store(const std::vector<std::string>& documents) {
  rt::RegisterStoreDriver();
  rt::File& table = DemoData();
  if (table.Create() != 0 || table.Open() != 0) return false;
  if (table.StartTransaction(10) != 0) return false;
  int id = 0;
  for (const std::string& bytes : documents) {
    SetDemoDataId(++id);
    SetDemoDataFileName("doc" + std::to_string(id) + ".pdf");
    if (table.SetBlobContents(kDemoDataBlob, bytes) != 0 || table.Add() != 0) return false;
  }
  return table.Commit() == 0 && table.Close() == 0;
}

bool Exec(sqlite3* db, const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK) return true;
  std::fprintf(stderr, "%s: %s\n", sql, error ? error : "?");
  sqlite3_free(error);
  return false;
}

// Writes `pages` page texts for every record straight into the index tables.
bool FillIndex(const std::string& file, int documents, int pages, int vocabulary) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return false;
  std::mt19937 random(7);
  // Skewed word frequencies: word k drawn with weight 1/(k+1).
  std::vector<double> weights(static_cast<std::size_t>(vocabulary));
  for (int k = 0; k < vocabulary; ++k)
    weights[static_cast<std::size_t>(k)] = 1.0 / (k + 1);
  std::discrete_distribution<int> pick(weights.begin(), weights.end());
  bool ok = Exec(db, "PRAGMA synchronous=OFF") && Exec(db, "BEGIN");
  sqlite3_stmt* doc = nullptr;
  sqlite3_stmt* page = nullptr;
  ok =
      ok &&
      sqlite3_prepare_v2(db, "INSERT INTO text_docs VALUES (?1, 1, 1, ?2)", -1, &doc, nullptr) ==
          SQLITE_OK &&
      sqlite3_prepare_v2(db, "INSERT INTO text_pages (rid, ver, page, body) VALUES (?1, 1, ?2, ?3)",
                         -1, &page, nullptr) == SQLITE_OK;
  std::string body;
  for (int d = 1; ok && d <= documents; ++d) {
    sqlite3_bind_int64(doc, 1, d);
    sqlite3_bind_int(doc, 2, pages);
    ok = sqlite3_step(doc) == SQLITE_DONE;
    sqlite3_reset(doc);
    for (int p = 0; ok && p < pages; ++p) {
      body.clear();
      for (int w = 0; w < 60; ++w)
        body += Word(pick(random)) + (w % 12 == 11 ? "\n" : " ");
      sqlite3_bind_int64(page, 1, d);
      sqlite3_bind_int(page, 2, p);
      sqlite3_bind_text(page, 3, body.data(), static_cast<int>(body.size()), SQLITE_STATIC);
      ok = sqlite3_step(page) == SQLITE_DONE;
      sqlite3_reset(page);
    }
  }
  sqlite3_finalize(doc);
  sqlite3_finalize(page);
  ok = ok && Exec(db, "COMMIT") && Exec(db, "INSERT INTO text_fts (text_fts) VALUES ('optimize')");
  sqlite3_close(db);
  return ok;
}

void QuerySpeed(int documents, int pages) {
  std::vector<std::string> stored(static_cast<std::size_t>(documents),
                                  pdftest::PdfTestWriter::Simple({"placeholder"}));
  auto start = Clock::now();
  if (!Store(stored)) {
    std::fprintf(stderr, "cannot store the documents\n");
    return;
  }
  const std::string file = DemoData().PhysicalName();
  std::unique_ptr<rt::TextIndex> opened;
  if (TextIndexer::OpenIndex(opened) != 0) return;
  opened.reset();
  constexpr int kVocabulary = 20000;
  if (!FillIndex(file, documents, pages, kVocabulary)) return;
  std::printf("%d documents of %d pages stored and their text indexed in %.1f s (%.0f MB)\n",
              documents, pages, Ms(Clock::now() - start) / 1000,
              static_cast<double>(fs::file_size(file)) / 1e6);
  std::unique_ptr<rt::TextIndex> index;
  if (TextIndexer::OpenIndex(index) != 0) return;
  auto& store = static_cast<rt::StoreTextIndex&>(*index);

  struct Case {
    const char* what;
    std::vector<rt::TextTerm> query;
  };
  const std::vector<Case> cases = {
      {"rare word", {{{Word(15000)}, false}}},
      {"middling word", {{{Word(400)}, false}}},
      {"common word", {{{Word(3)}, false}}},
      {"two words", {{{Word(40)}, false}, {{Word(90)}, false}}},
      {"phrase", {{{Word(1), Word(2)}, false}}},
      {"prefix", {{{Word(700).substr(0, 4)}, true}}},
  };
  constexpr int kSamples = 15;
  constexpr std::size_t kLimit = 50;
  std::printf("\n%-14s %8s %12s %12s %7s\n", "query", "matches", "search ms", "FTS5 ms", "ratio");
  std::vector<double> allOurs, allDirect;
  for (const Case& c : cases) {
    std::vector<double> ours, direct;
    std::vector<rt::TextHit> hits;
    for (int s = 0; s < kSamples; ++s) {
      auto t = Clock::now();
      store.SearchIndexOnly(c.query, kLimit, hits);
      direct.push_back(Ms(Clock::now() - t));
      t = Clock::now();
      store.Search(c.query, kLimit, hits);
      ours.push_back(Ms(Clock::now() - t));
    }
    const double o = Median(ours), d = Median(direct);
    allOurs.push_back(o);
    allDirect.push_back(d);
    std::printf("%-14s %8zu %12.2f %12.2f %7.2f\n", c.what, hits.size(), o, d, d > 0 ? o / d : 0);
  }
  std::printf("median over the queries: search %.2f ms, FTS5 %.2f ms, ratio %.2f\n",
              Median(allOurs), Median(allDirect), Median(allOurs) / Median(allDirect));
}

// Indexing one stored document through the indexer, against pdftotext on the same file.
void IndexingSpeed() {
  const std::string pdf = pdftest::PdfTestWriter::Numbered(300, 40);
  std::ofstream("numbered.pdf", std::ios::binary) << pdf;
  std::vector<double> ours, tool, extract;
  for (int round = 0; round < 3; ++round) {
    auto t0 = Clock::now();
    {
      rt::PdfDocumentSet document;
      if (!document.LoadBytes({pdf.begin(), pdf.end()}, {}).Ok()) return;
      for (int page = 0; page < document.PageCount(); ++page)
        static_cast<void>(document.ExtractPageText(page));
    }
    extract.push_back(Ms(Clock::now() - t0));
    fs::remove(DemoData().PhysicalName());
    DestroyDemoData();
    if (!Store({pdf})) return;
    std::unique_ptr<rt::TextIndex> index;
    if (TextIndexer::OpenIndex(index) != 0) return;
    auto t = Clock::now();
    TextIndexer::IndexPending(*index, [] { return false; });
    ours.push_back(Ms(Clock::now() - t));
    t = Clock::now();
    if (std::system("pdftotext numbered.pdf numbered.txt") != 0) return;
    tool.push_back(Ms(Clock::now() - t));
  }
  std::printf(
      "\nindexing a 300-page document: %.0f ms, pdftotext %.0f ms, ratio %.2f (the "
      "PDF engine's text of every page alone: %.0f ms, ratio %.2f)\n",
      Median(ours), Median(tool), Median(ours) / Median(tool), Median(extract),
      Median(extract) / Median(tool));
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return 0;
}

// Starts a new peak from the memory in use now; the growth of the peak since, in MB.
long ResetPeak() {
  malloc_trim(0);
  std::ofstream("/proc/self/clear_refs") << "5";
  return StatusKb("VmRSS:");
}
double PeakGrowthMb(long base) {
  return static_cast<double>(StatusKb("VmHWM:") - base) / 1024;
}

// In a child process of its own: the growth of the peak while the indexer works through a
// 2,000-page document, against the same document read as the viewer reads it (every page's
// text kept) and against the size of the document's text.
void IndexingMemory() {
  const pid_t child = fork();
  if (child != 0) {
    waitpid(child, nullptr, 0);
    return;
  }
  fs::remove(DemoData().PhysicalName());
  DestroyDemoData();
  std::size_t pdfSize = 0;
  {
    const std::string pdf = pdftest::PdfTestWriter::Numbered(2000, 40);
    pdfSize = pdf.size();
    if (!Store({pdf})) _exit(1);
    std::ofstream("big.pdf", std::ios::binary) << pdf;
  }
  DestroyDemoData();
  std::unique_ptr<rt::TextIndex> index;
  if (TextIndexer::OpenIndex(index) != 0) _exit(1);
  // The PDF library's process-wide state is made once, before either measurement.
  rt::PdfEngineLock::Prepare();
  long base = ResetPeak();
  TextIndexer::IndexPending(*index, [] { return false; });
  const double indexing = PeakGrowthMb(base);
  rt::TextProgress progress;
  index->Progress(progress);
  index.reset();
  double kept = 0;
  std::size_t textBytes = 0;
  {
    base = ResetPeak();
    rt::PdfDocumentSet document;
    if (!document.LoadFile("big.pdf").Ok()) _exit(1);
    for (int page = 0; page < document.PageCount(); ++page)
      textBytes += document.PageText(page).size();
    kept = PeakGrowthMb(base);
  }
  std::printf(
      "a 2,000-page document (%.1f MB PDF, %.1f MB of text): indexing it grew the peak "
      "by %.1f MB; reading it with every page's text kept, by %.1f MB; ratio %.2f "
      "[%lld of %lld indexed]\n",
      static_cast<double>(pdfSize) / 1e6, static_cast<double>(textBytes) / 1e6, indexing, kept,
      kept > 0 ? indexing / kept : 0, static_cast<long long>(progress.done),
      static_cast<long long>(progress.documents));
  std::fflush(stdout);
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  const int documents = argc > 1 ? std::atoi(argv[1]) : 2000;
  const int pages = argc > 2 ? std::atoi(argv[2]) : 100;
  char folder[] = "/tmp/bench_search_XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  fs::current_path(folder);
  IndexingMemory();
  IndexingSpeed();
  fs::remove(DemoData().PhysicalName());
  DestroyDemoData();
  QuerySpeed(documents, pages);
  DestroyDemoData();
  fs::current_path("/");
  fs::remove_all(folder);
  return 0;
}
