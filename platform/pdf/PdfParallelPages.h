// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Text work on many pages of a document set at once. The PDF library is not thread-safe per
// document, so every thread taking part opens an instance of its own (a PdfTextLayout) of
// each document it touches, from the bytes the set keeps (shared, read only), and keeps it
// for all its pages of that document. Pages are handed out in the order given, one at a
// time, so the first ones are done first.

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace rt {

class PdfTextLayout;

// One document of a set: its bytes and where its pages sit among the set's pages.
struct PdfSource {
  std::shared_ptr<const std::vector<char>> bytes;
  int firstPage = 0;
  int pageCount = 0;
};

class PdfParallelPages {
 public:
  // Fewer pages than this are not worth opening more instances for.
  static constexpr int kMinPagesPerThread = 8;

  explicit PdfParallelPages(std::vector<PdfSource> sources) : sources_(std::move(sources)) {}

  // The threads to use for `pages` pages: one per core, fewer for few pages, at least one.
  static int Threads(int pages);

  // Calls work(document, page, slot) for each slot of `pages` (set pages) on `threads`
  // threads, the calling thread one of them, with the thread's instance of the document
  // holding the set page and the page's index in it; `document` is null when the document
  // cannot be opened. Stops handing out pages once `stop` is set. Returns when every thread
  // is done.
  using Work = std::function<void(PdfTextLayout* document, int page, std::size_t slot)>;
  void Run(const std::vector<int>& pages, int threads, const Work& work,
           const std::atomic<bool>& stop) const;

 private:
  std::vector<PdfSource> sources_;
};

}  // namespace rt
