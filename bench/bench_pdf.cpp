// PDF engine benchmark, each case timed against the command-line tools of the same PDF
// library on the same file in the same run; the two sides run alternately and the median of
// each is compared (engine / tool; below 1 means the engine was faster, though the tools also
// pay for starting a process and writing their output).
//   - opening a 500-page document and rendering its first page (pdftoppm -f 1 -l 1);
//   - the whole text of the 500-page document (pdftotext);
//   - every match of a common word in a 1,000-page document (pdftotext of that document).

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
#include "tests/pdf/PdfTestWriter.h"

namespace {

constexpr int kPages = 500;
constexpr int kSearchPages = 1000;
constexpr int kLinesPerPage = 40;
constexpr int kRuns = 5;
constexpr int kRenderDpi = 150;

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

// Runs both sides kRuns times each, alternating, and prints the medians and their ratio.
void Compare(const char* what, const std::function<bool()>& engine,
             const std::function<bool()>& tool) {
  std::vector<double> engineTimes;
  std::vector<double> toolTimes;
  for (int run = 0; run < kRuns; ++run) {
    engineTimes.push_back(Seconds(engine));
    toolTimes.push_back(Seconds(tool));
  }
  const double e = Median(engineTimes);
  const double t = Median(toolTimes);
  if (e < 0 || t < 0) {
    std::printf("%-34s failed (engine %s, tool %s)\n", what, e < 0 ? "failed" : "ok",
                t < 0 ? "failed" : "ok");
    return;
  }
  std::printf("%-34s engine %9.2f ms   tool %9.2f ms   ratio %.2f\n", what, e * 1000, t * 1000,
              e / t);
}

bool Run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

std::string Write(const std::filesystem::path& path, int pages) {
  std::ofstream out(path, std::ios::binary);
  out << pdftest::PdfTestWriter::Numbered(pages, kLinesPerPage);
  return path.string();
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("bench_pdf_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string pdf = Write(dir / "pages500.pdf", kPages);
  const std::string big = Write(dir / "pages1000.pdf", kSearchPages);
  std::printf("documents: %d pages (%ju bytes), %d pages (%ju bytes); median of %d runs\n", kPages,
              static_cast<std::uintmax_t>(fs::file_size(pdf)), kSearchPages,
              static_cast<std::uintmax_t>(fs::file_size(big)), kRuns);

  const std::string imagePrefix = (dir / "page").string();
  Compare(
      "open + first page at 150 dpi",
      [&] {
        auto engine = rt::PdfEngine::Create();
        if (!engine->LoadFile(pdf).Ok()) return false;
        rt::PdfImage image;
        return engine->RenderPage(0, kRenderDpi / 72.0, image).Ok() && !image.Empty();
      },
      [&] {
        return Run("pdftoppm -f 1 -l 1 -r " + std::to_string(kRenderDpi) + " '" + pdf + "' '" +
                   imagePrefix + "' 2>/dev/null");
      });

  const std::string textOut = (dir / "out.txt").string();
  std::size_t textBytes = 0;
  Compare(
      "whole-document text (500 pages)",
      [&] {
        auto engine = rt::PdfEngine::Create();  // a fresh engine: nothing cached
        if (!engine->LoadFile(pdf).Ok()) return false;
        textBytes = engine->Text(0, 1).size();
        return textBytes > 0;
      },
      [&] { return Run("pdftotext -enc UTF-8 '" + pdf + "' '" + textOut + "' 2>/dev/null"); });

  int matches = 0;
  Compare(
      "every \"the\" (1,000 pages)",
      [&] {
        auto engine = rt::PdfEngine::Create();
        if (!engine->LoadFile(big).Ok()) return false;
        matches = engine->FindText("the", true, false, true, true);
        return matches > 0;
      },
      [&] { return Run("pdftotext -enc UTF-8 '" + big + "' '" + textOut + "' 2>/dev/null"); });
  std::printf("  matches found: %d (expected %d)\n", matches, kSearchPages * kLinesPerPage * 2);

  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
