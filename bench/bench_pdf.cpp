// PDF engine benchmark: whole-document text of a generated 500-page document and rendering
// its first page, each timed against the command-line tools of the same PDF library on the
// same file in the same run (pdftotext, pdftoppm). Prints the median times and the ratio
// engine / tool; a ratio below 1 means the engine was faster (the tools also pay for
// starting a process and writing their output file).

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
constexpr int kLinesPerPage = 40;
constexpr int kRuns = 5;
constexpr int kRenderDpi = 150;

double MedianSeconds(const std::function<bool()>& work) {
  std::vector<double> times;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    if (!work()) return -1;
    times.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void Report(const char* what, double engine, double tool) {
  if (engine < 0 || tool < 0) {
    std::printf("%-28s failed (engine %s, tool %s)\n", what, engine < 0 ? "failed" : "ok",
                tool < 0 ? "failed" : "ok");
    return;
  }
  std::printf("%-28s engine %8.2f ms   tool %8.2f ms   ratio %.2f\n", what, engine * 1000,
              tool * 1000, engine / tool);
}

bool Run(const std::string& command) {
  return std::system(command.c_str()) == 0;
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("bench_pdf_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string pdf = (dir / "pages500.pdf").string();
  {
    std::ofstream out(pdf, std::ios::binary);
    out << pdftest::PdfTestWriter::Numbered(kPages, kLinesPerPage);
  }
  std::printf("document: %d pages, %ju bytes, median of %d runs\n", kPages,
              static_cast<std::uintmax_t>(fs::file_size(pdf)), kRuns);

  std::size_t textBytes = 0;
  const double engineText = MedianSeconds([&] {
    auto engine = rt::PdfEngine::Create();  // a fresh engine: nothing cached
    if (!engine->LoadFile(pdf).Ok()) return false;
    textBytes = engine->Text(0, 1).size();
    return textBytes > 0;
  });
  const std::string textOut = (dir / "out.txt").string();
  const double toolText = MedianSeconds(
      [&] { return Run("pdftotext -enc UTF-8 '" + pdf + "' '" + textOut + "' 2>/dev/null"); });
  Report("whole-document text", engineText, toolText);
  std::error_code ec;
  std::printf("  text bytes: engine %zu, tool %ju\n", textBytes,
              static_cast<std::uintmax_t>(fs::file_size(textOut, ec)));

  const double engineRender = MedianSeconds([&] {
    auto engine = rt::PdfEngine::Create();
    if (!engine->LoadFile(pdf).Ok()) return false;
    rt::PdfImage image;
    return engine->RenderPage(0, kRenderDpi / 72.0, image).Ok() && !image.Empty();
  });
  const std::string imagePrefix = (dir / "page").string();
  const double toolRender = MedianSeconds([&] {
    return Run("pdftoppm -f 1 -l 1 -r " + std::to_string(kRenderDpi) + " '" + pdf + "' '" +
               imagePrefix + "' 2>/dev/null");
  });
  Report("first page render 150 dpi", engineRender, toolRender);

  fs::remove_all(dir, ec);
  return 0;
}
