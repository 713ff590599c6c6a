// SPDX-License-Identifier: GPL-3.0-or-later
// Storing a 100 MB document: through the STORE driver (read in 32768-byte pieces into the
// BLOB, then added, as the document form does) and with the sqlite3 command-line tool
// (readfile() into a BLOB column, same journal mode and sync level), interleaved runs. Prints
// each median and the ratio; checksumming every chunk should keep the ratio under 1.3.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchDocument.h"
#include "bench/BenchTable.h"
#include "platform/runtime/files/File.h"
#include "platform/store/Store.h"

namespace {

constexpr int kRuns = 5;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void RemoveTable(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"})
    std::filesystem::remove(path + suffix);
}

// Seconds to store the document through the driver, or a negative value on failure.
double ThroughDriver(const std::string& dir, const std::string& document) {
  const std::string name = dir + "/driver";
  RemoveTable(name + rt::kStoreExtension);
  auto f = bench::Table(name);
  if (f->Create() != 0 || f->Open(rt::kOpenReadWriteDenyNone) != 0) return -1;
  const auto start = Clock::now();
  if (!bench::StoreDocument(*f, document)) return -1;
  static_cast<void>(f->Close());
  return Seconds(start);
}

// Seconds the command-line tool takes to store the document, or a negative value on failure.
double ThroughTool(const std::string& dir, const std::string& document) {
  const std::string db = dir + "/tool.sqlite";
  RemoveTable(db);
  const std::string setup = "sqlite3 '" + db +
                            "' 'PRAGMA journal_mode=WAL; CREATE TABLE t(id INTEGER PRIMARY KEY, "
                            "b BLOB)' > /dev/null";
  if (std::system(setup.c_str()) != 0) return -1;
  const std::string store = "sqlite3 '" + db +
                            "' 'PRAGMA synchronous=FULL; INSERT INTO t(b) VALUES (readfile(\"" +
                            document + "\"))'";
  const auto start = Clock::now();
  if (std::system(store.c_str()) != 0) return -1;
  return Seconds(start);
}

}  // namespace

int main() {
  rt::RegisterStoreDriver();
  std::string templ = (std::filesystem::temp_directory_path() / "bench-import-XXXXXX").string();
  if (!::mkdtemp(templ.data())) return 1;
  const std::string dir = templ;
  const std::string document = dir + "/document.bin";
  if (!bench::WriteDocument(document)) {
    std::filesystem::remove_all(dir);
    return 1;
  }
  std::vector<double> driver, tool;
  for (int run = 0; run < kRuns; ++run) {
    const double t = ThroughTool(dir, document);
    const double d = ThroughDriver(dir, document);
    if (t < 0 || d < 0) {
      std::fprintf(stderr, "run %d failed (sqlite3 %.3f, driver %.3f)\n", run, t, d);
      std::filesystem::remove_all(dir);
      return 1;
    }
    tool.push_back(t);
    driver.push_back(d);
    std::printf("run %d: sqlite3 %.3f s, driver %.3f s\n", run + 1, t, d);
  }
  const double t = Median(tool), d = Median(driver);
  std::printf("median: sqlite3 %.3f s, driver %.3f s, ratio %.2f\n", t, d, d / t);
  std::filesystem::remove_all(dir);
  return 0;
}
