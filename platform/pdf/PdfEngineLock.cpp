// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfEngineLock.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace rt {
namespace {

std::atomic<long> silencedMessages{0};

void SwallowDiagnostic(const std::string&, void*) {
  ++silencedMessages;
}

// A one-page document with a line of text in a standard font, with exact offsets.
std::vector<char> WarmUpDocument() {
  const std::string content = "BT /F1 12 Tf 10 20 Td (Warm) Tj ET 0 0 1 rg 2 2 6 6 re f\n";
  const std::vector<std::string> objects = {
      "<< /Type /Catalog /Pages 2 0 R >>",
      "<< /Type /Pages /Count 1 /Kids [3 0 R] >>",
      // NOLINTNEXTLINE(bugprone-suspicious-missing-comma): one object, wrapped
      "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 60 40] /Resources << /Font << /F1 4 0 R "
      ">> >> /Contents 5 0 R >>",
      "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
      "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
  };
  std::string out = "%PDF-1.4\n";
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const std::size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  for (std::size_t offset : offsets) {
    std::string number = std::to_string(offset);
    out += std::string(10 - number.size(), '0') + number + " 00000 n \n";
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
         " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return std::vector<char>(out.begin(), out.end());
}

// Kept open for the process's lifetime: while one document is open the library keeps its
// global parameters instead of rebuilding them for the next document.
std::unique_ptr<poppler::document>& WarmUpHolder() {
  static std::unique_ptr<poppler::document> holder;
  return holder;
}

void WarmUp() {
  poppler::set_debug_error_function(&SwallowDiagnostic, nullptr);
  try {
    std::vector<char> bytes = WarmUpDocument();
    std::unique_ptr<poppler::document> document(poppler::document::load_from_data(&bytes));
    if (!document) return;
    std::unique_ptr<poppler::page> page(document->create_page(0));
    if (page) {
      poppler::page_renderer renderer;
      renderer.set_image_format(poppler::image::format_argb32);
      renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
      renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
      (void)renderer.render_page(page.get(), 72, 72);
      (void)page->text();
    }
    WarmUpHolder() = std::move(document);
  } catch (...) {
    // A failed warm-up only loses the head start; documents still load and render.
  }
}

}  // namespace

std::mutex& PdfEngineLock::Mutex() {
  static std::mutex mutex;
  return mutex;
}

void PdfEngineLock::Prepare() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::lock_guard<std::mutex> lock(Mutex());
    WarmUp();
  });
}

long PdfEngineLock::SilencedMessages() {
  return silencedMessages.load();
}

}  // namespace rt
