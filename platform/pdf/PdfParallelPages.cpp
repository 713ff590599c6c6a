// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfParallelPages.h"

#include <algorithm>
#include <thread>

#include "platform/pdf/PdfTextLayout.h"

namespace rt {

int PdfParallelPages::Threads(int pages) {
  const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  return std::clamp(pages / kMinPagesPerThread, 1, cores);
}

void PdfParallelPages::Run(const std::vector<int>& pages, int threads, const Work& work,
                           const std::atomic<bool>& stop) const {
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    std::vector<std::unique_ptr<PdfTextLayout>> instances(sources_.size());
    for (std::size_t slot = next++; slot < pages.size() && !stop.load(); slot = next++) {
      const int page = pages[slot];
      std::size_t source = 0;
      while (source < sources_.size() &&
             page >= sources_[source].firstPage + sources_[source].pageCount)
        ++source;
      PdfTextLayout* document = nullptr;
      int index = 0;
      if (source < sources_.size() && page >= sources_[source].firstPage) {
        index = page - sources_[source].firstPage;
        try {
          if (!instances[source])
            instances[source] = std::make_unique<PdfTextLayout>(sources_[source].bytes);
          if (instances[source]->Ok()) document = instances[source].get();
        } catch (...) {
          document = nullptr;
        }
      }
      try {
        work(document, index, slot);
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
