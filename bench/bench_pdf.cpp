// SPDX-License-Identifier: GPL-3.0-or-later
// PDF engine benchmark, each case timed against the command-line tools of the same PDF
// library on the same file in the same run; the two sides run alternately and the median of
// each is compared (engine / tool; below 1 means the engine was faster, though the tools also
// pay for starting a process and writing their output). Per document:
//   - open it and render its first page at 150 dpi (pdftoppm -f 1 -l 1 -r 150);
//   - its whole text, on a fresh engine (pdftotext);
//   - every match of "the", on a fresh engine, until the last is known (pdftotext);
//   - the first match of "the" from the first page (the engine holds the document with its
//     first page drawn, as a viewer does; pdftotext -l 1, the tool's text of that page).
// An argument runs only the cases whose name holds it (e.g. bench_pdf "first page").
// Documents: a generated one of 1,000 pages, and the manuals that Debian's valgrind and
// gnucobol3 packages install (decompressed into a temporary folder; skipped when missing).

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/pdf/PdfEngine.h"
#include "platform/runtime/threads/Threads.h"
#include "tests/pdf/PdfTestWriter.h"

namespace {

constexpr int kGeneratedPages = 1000;
constexpr int kLinesPerPage = 40;
constexpr int kRuns = 5;
constexpr int kRenderDpi = 150;

// Cases whose name holds this text run (all of them by default).
std::string onlyCase;

double Seconds(const std::function<bool()>& work) {
  const auto start = std::chrono::steady_clock::now();
  if (!work()) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> times) {
  if (times.empty() || *std::min_element(times.begin(), times.end()) < 0) return -1;
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// Processor time of this process (all its threads) or of its ended child processes.
double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs both sides kRuns times each, alternating, and prints the medians of the wall-clock
// times with their ratio, and the ratio of the medians of the processor times (what the
// wall-clock ratio would be on one otherwise idle core).
// `engine` returns its own time (seconds; negative: failed), for cases timing part of a run.
void Compare(const char* what, const std::function<double()>& engine,
             const std::function<bool()>& tool) {
  if (std::string(what).find(onlyCase) == std::string::npos) return;
  std::vector<double> engineTimes;
  std::vector<double> toolTimes;
  std::vector<double> engineCpu;
  std::vector<double> toolCpu;
  for (int run = 0; run < kRuns; ++run) {
    double cpu = CpuSeconds(RUSAGE_SELF);
    engineTimes.push_back(engine());
    engineCpu.push_back(CpuSeconds(RUSAGE_SELF) - cpu);
    cpu = CpuSeconds(RUSAGE_CHILDREN);
    toolTimes.push_back(Seconds(tool));
    toolCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
  }
  const double e = Median(engineTimes);
  const double t = Median(toolTimes);
  if (e < 0 || t < 0) {
    std::printf("  %-22s failed (engine %s, tool %s)\n", what, e < 0 ? "failed" : "ok",
                t < 0 ? "failed" : "ok");
    return;
  }
  const double ec = Median(engineCpu);
  const double tc = Median(toolCpu);
  std::printf("  %-22s engine %8.1f ms   tool %8.1f ms   ratio %.2f   (cpu %.2f)\n", what, e * 1000,
              t * 1000, e / t, tc > 0 ? ec / tc : 0.0);
  std::fflush(stdout);
}

// The machine's load average over the last minute: the ratios depend on whether the
// engine's threads find free cores.
void PrintLoad(const char* when) {
  double load[1] = {0};
  if (getloadavg(load, 1) == 1) std::printf("load average %s: %.2f\n", when, load[0]);
}

bool Run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

std::string Quote(const std::string& path) {
  return "'" + path + "'";
}

void Bench(const std::string& label, const std::string& pdf, const std::filesystem::path& dir) {
  std::error_code ec;
  std::printf("%s (%ju bytes), median of %d runs\n", label.c_str(),
              static_cast<std::uintmax_t>(std::filesystem::file_size(pdf, ec)), kRuns);
  const std::string imagePrefix = Quote((dir / "page").string());
  const std::string textOut = Quote((dir / "out.txt").string());

  Compare(
      "open + first page at 150 dpi",
      [&] {
        return Seconds([&] {
          auto engine = rt::PdfEngine::Create();
          if (!engine->LoadFile(pdf).Ok()) return false;
          rt::PdfImage image;
          return engine->RenderPage(0, kRenderDpi / 72.0, image).Ok() && !image.Empty();
        });
      },
      [&] {
        return Run("pdftoppm -f 1 -l 1 -r " + std::to_string(kRenderDpi) + " " + Quote(pdf) + " " +
                   imagePrefix + " 2>/dev/null");
      });

  std::size_t textBytes = 0;
  Compare(
      "whole text",
      [&] {
        return Seconds([&] {
          auto engine = rt::PdfEngine::Create();  // a fresh engine: nothing kept
          if (!engine->LoadFile(pdf).Ok()) return false;
          textBytes = engine->Text(0, 1).size();
          return textBytes > 0;
        });
      },
      [&] { return Run("pdftotext -enc UTF-8 " + Quote(pdf) + " " + textOut + " 2>/dev/null"); });

  std::size_t matches = 0;
  Compare(
      "every \"the\"",
      [&] {
        return Seconds([&] {
          auto engine = rt::PdfEngine::Create();
          if (!engine->LoadFile(pdf).Ok()) return false;
          if (engine->FindText("the", true, false, true, true) <= 0) return false;
          engine->WaitForSearch();
          matches = engine->Matches().size();
          return matches > 0;
        });
      },
      [&] { return Run("pdftotext -enc UTF-8 " + Quote(pdf) + " " + textOut + " 2>/dev/null"); });

  int firstPage = -1;
  Compare(
      "first \"the\"",
      [&] {
        auto engine = rt::PdfEngine::Create();
        rt::PdfImage image;
        if (!engine->LoadFile(pdf).Ok() || !engine->RenderPage(0, 1, image).Ok()) return -1.0;
        (void)engine->View();  // a viewer lays its pages out to draw the first one
        const double time = Seconds([&] {
          if (engine->FindText("the", true, false, true, false) <= 0) return false;
          firstPage = engine->Matches()[engine->CurrentMatch()].page;
          return true;
        });
        engine->CancelSearch();
        engine->WaitForSearch();  // the next case does not share the processor with it
        return time;
      },
      [&] {
        return Run("pdftotext -l 1 -enc UTF-8 " + Quote(pdf) + " " + textOut + " 2>/dev/null");
      });
  if (textBytes > 0 || matches > 0 || firstPage >= 0) {
    std::printf("  text: %zu bytes; \"the\": %zu matches, the first on page %d\n", textBytes,
                matches, firstPage + 1);
  }
}

// The manual of an installed package, decompressed into `dir`; empty when it is missing.
std::string Manual(const std::string& gz, const std::filesystem::path& dir,
                   const std::string& name) {
  if (!std::filesystem::exists(gz)) {
    std::printf("%s: missing (scripts/install-deps installs it); skipped\n", gz.c_str());
    return {};
  }
  const std::string out = (dir / name).string();
  if (!Run("gzip -dc " + Quote(gz) + " > " + Quote(out))) return {};
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  if (argc > 1) onlyCase = argv[1];  // e.g. "first page"
  PrintLoad("at the start");
  const fs::path dir = fs::temp_directory_path() / ("bench_pdf_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string generated = (dir / "pages1000.pdf").string();
  {
    std::ofstream out(generated, std::ios::binary);
    out << pdftest::PdfTestWriter::Numbered(kGeneratedPages, kLinesPerPage);
  }
  Bench("generated, " + std::to_string(kGeneratedPages) + " pages (expect " +
            std::to_string(kGeneratedPages * kLinesPerPage * 2) + " matches)",
        generated, dir);
  const std::string valgrind =
      Manual("/usr/share/doc/valgrind/valgrind_manual.pdf.gz", dir, "valgrind_manual.pdf");
  if (!valgrind.empty()) Bench("valgrind manual, 397 pages", valgrind, dir);
  const std::string gnucobol =
      Manual("/usr/share/doc/gnucobol3/gnucobol.pdf.gz", dir, "gnucobol.pdf");
  if (!gnucobol.empty()) Bench("GnuCOBOL manual", gnucobol, dir);

  rt::JoinAllThreads();  // background searches end before the process does
  PrintLoad("at the end");
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
