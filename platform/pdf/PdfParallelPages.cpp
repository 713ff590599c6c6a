// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfParallelPages.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <mutex>
#include <thread>

#include "platform/pdf/PdfEngineLock.h"

namespace rt {

int PdfParallelPages::Threads(int pages) {
  const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  return std::clamp(pages / kMinPagesPerThread, 1, cores);
}

void PdfParallelPages::Run(const std::vector<int>& pages, int threads,
                           const std::function<void(poppler::page*, std::size_t)>& work,
                           const std::atomic<bool>& stop) const {
  PdfEngineLock::Prepare();
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    std::vector<std::unique_ptr<poppler::document>> instances(sources_.size());
    std::vector<bool> tried(sources_.size(), false);
    for (std::size_t slot = next++; slot < pages.size() && !stop.load(); slot = next++) {
      const int page = pages[slot];
      std::size_t source = 0;
      while (source < sources_.size() &&
             page >= sources_[source].firstPage + sources_[source].pageCount)
        ++source;
      std::unique_ptr<poppler::page> opened;
      if (source < sources_.size() && page >= sources_[source].firstPage) {
        if (!tried[source]) {
          tried[source] = true;
          const std::vector<char>& bytes = *sources_[source].bytes;
          try {
            std::lock_guard<std::mutex> lock(PdfEngineLock::Mutex());
            if (stop.load()) break;  // ended while this thread waited to load
            instances[source].reset(poppler::document::load_from_raw_data(
                bytes.data(), static_cast<int>(bytes.size())));
          } catch (...) {
            instances[source].reset();
          }
        }
        try {
          if (instances[source])
            opened.reset(instances[source]->create_page(page - sources_[source].firstPage));
        } catch (...) {
          opened.reset();
        }
      }
      try {
        work(opened.get(), slot);
      } catch (...) {
        // Out of memory for this page's result: the others still get theirs.
      }
    }
  };
  std::vector<std::thread> helpers;
  for (int t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(worker);
    } catch (...) {
      break;  // no more threads: the ones running share the pages
    }
  }
  worker();
  for (std::thread& helper : helpers)
    helper.join();
}

}  // namespace rt
