// SPDX-License-Identifier: GPL-3.0-or-later
// Saved queries in the INI file: saving one, deleting one and closing the INI manager with
// 10 and with 10,000 saved queries, and starting up (the INI manager's Init, which reads the
// catalogue) with 10 and with 100,000. Each change of the file is one rewrite made durable
// on disk, so save and delete cost about the same at either size; the start-up reads and
// parses the file once. The sizes take turns sample by sample, so that a busy spell of the
// machine falls on both. Prints the median of each and the ratios; nothing is asserted.
//
//   bench_ini [samples] [changes|start]   (default 15 per action and size, both parts; run
//                                          in a Release build)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "framework/browse/QueryManager.h"
#include "framework/error/ErrorManager.h"
#include "framework/util/IniManager.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Name(const char* prefix, int n) {
  char text[32];
  std::snprintf(text, sizeof text, "%s%07d", prefix, n);
  return text;
}

// A settings file holding `count` saved queries of two columns each, as the query manager
// writes them (the catalogue sorted, one section per query).
void WriteQueries(const fs::path& path, int count) {
  std::string text = "[__Dont_Touch_Me__]\nSectors=" + std::to_string(count) + "\n";
  for (int n = 1; n <= count; ++n)
    text += "Sectors_" + std::to_string(n) + "=Docs," + Name("q", n) + ",Query\n";
  for (int n = 1; n <= count; ++n) {
    text += "\n[Docs$" + Name("q", n) + "$$Query]\nQuery=2\nQuery_1=DOC:ID,<" + std::to_string(n) +
            ",,\nQuery_2=DOC:Name,doc*,,\n";
  }
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Gives the file a new time, so that the next read parses it again as after a restart.
void Touch(const fs::path& path) {
  static long tick = 0;
  const struct timespec times[2] = {{1000000 + ++tick, 0}, {1000000 + tick, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

double ThreadCpuMicros() {
  struct timespec t {};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Wall-clock microseconds of the action (what a user waits, the file's flush to disk
// included); its CPU microseconds go to `cpu`.
double Micros(const std::function<void()>& action, std::vector<double>& cpu) {
  const double cpuStart = ThreadCpuMicros();
  const auto start = Clock::now();
  action();
  const double wall = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  cpu.push_back(ThreadCpuMicros() - cpuStart);
  return wall;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One folder per size, each with its settings file.
struct Store {
  Store(int c, fs::path f) : count(c), folder(std::move(f)) {}
  int count;
  fs::path folder;
  fs::path file() const { return folder / "PageletDemo.INI"; }
  std::vector<double> save, remove, close, start;
  std::vector<double> saveCpu, removeCpu, closeCpu, startCpu;
};

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;
  const std::string part = argc > 2 ? argv[2] : "";
  const fs::path root = fs::temp_directory_path() / ("bench-ini-" + std::to_string(::getpid()));
  fs::create_directories(root);
  std::vector<Store> changes = {{10, root / "10"}, {10000, root / "10000"}};
  std::vector<Store> starts = {{10, root / "s10"}, {100000, root / "s100000"}};
  for (auto* group : {&changes, &starts}) {
    for (Store& s : *group) {
      fs::create_directories(s.folder);
      WriteQueries(s.file(), s.count);
    }
  }
  ErrorManager errors;
  bool failed = false;
  for (int round = 0; round < samples; ++round) {
    for (Store& s : changes) {
      if (part == "start") break;
      IniManager ini;
      ini.Init(s.file().string());
      QueryManager query;
      query.Init(errors, &ini, "Docs");
      query.AddItem("DOC:ID", "ID", "n-7");
      query.AddItem("DOC:Name", "Name", "s20");
      query.Fields[0].Middle = ">=" + std::to_string(round);
      query.Fields[1].Middle = "doc*";
      // A name that sorts first: the whole catalogue after it moves up by one.
      const std::string name = Name("a", round);
      s.save.push_back(Micros([&] { failed |= query.SaveQuery(name) != 0; }, s.saveCpu));
      s.remove.push_back(Micros([&] { failed |= query.DeleteQuery(name) != 0; }, s.removeCpu));
      // The session's last save, then the shutdown's Close.
      failed |= query.SaveQuery(kQueryMru) != 0;
      s.close.push_back(Micros([&] { failed |= ini.Close() != 0; }, s.closeCpu));
    }
    for (Store& s : starts) {
      if (part == "changes") break;
      Touch(s.file());
      IniManager ini;
      s.start.push_back(Micros([&] { failed |= ini.Init(s.file().string()) != 0; }, s.startCpu));
      if (ini.Sectors->Records() != s.count) failed = true;
      ini.Close();
    }
  }
  for (const Store& s : changes) {
    std::printf(
        "%6d saved queries: save %7.0f us (CPU %6.0f), delete %7.0f us (CPU %6.0f), "
        "close %5.0f us (CPU %5.0f)\n",
        s.count, Median(s.save), Median(s.saveCpu), Median(s.remove), Median(s.removeCpu),
        Median(s.close), Median(s.closeCpu));
  }
  for (const Store& s : starts) {
    std::printf("%6d saved queries: start-up %8.0f us (CPU %8.0f)\n", s.count, Median(s.start),
                Median(s.startCpu));
  }
  const Store& small = changes[0];
  const Store& large = changes[1];
  const auto ratio = [](const std::vector<double>& a, const std::vector<double>& b) {
    return Median(a) / std::max(Median(b), 1.0);
  };
  std::printf("10,000 vs 10 saved queries: save %.2f, delete %.2f, close %.2f (goal: at most 2)\n",
              ratio(large.save, small.save), ratio(large.remove, small.remove),
              ratio(large.close, small.close));
  std::printf("  in CPU time: save %.2f, delete %.2f, close %.2f\n",
              ratio(large.saveCpu, small.saveCpu), ratio(large.removeCpu, small.removeCpu),
              ratio(large.closeCpu, small.closeCpu));
  std::printf("start-up with 100,000 saved queries: %.3f s, CPU %.3f s (goal: under 0.5 s)\n",
              Median(starts[1].start) / 1e6, Median(starts[1].startCpu) / 1e6);
  std::error_code ec;
  fs::remove_all(root, ec);
  if (failed) std::fprintf(stderr, "FAILED: an operation returned an error\n");
  return failed ? 1 : 0;
}
