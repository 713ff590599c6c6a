// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One search of a document set, collecting its matches page by page, from a start page to
// the end and then from the first page back to the start page (the "walk"), so that the
// matches near the view come first. Run() does the work, on parallel instances of the
// documents; Start() runs it on a runtime thread of its own while callers take the matches
// found so far and wait only for as many as they need.
//
// The job owns what it reads (shared document bytes, a snapshot of the kept page texts), so
// it outlives the engine that started it safely; Cancel() ends it at its next page.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/pdf/PdfMatch.h"
#include "platform/pdf/PdfParallelPages.h"

namespace rt {

class EventQueue;

class PdfSearchJob {
 public:
  struct Params {
    std::vector<PdfSource> sources;
    int pageCount = 0;
    int startPage = 0;
    std::u32string needle;  // as PdfPageText::Needle gives it
    bool caseInsensitive = true;
    // Kept texts by page (null where none is kept): pages whose text cannot hold the needle
    // are not laid out.
    std::vector<std::shared_ptr<const std::string>> texts;
  };

  explicit PdfSearchJob(Params params);
  PdfSearchJob(const PdfSearchJob&) = delete;
  PdfSearchJob& operator=(const PdfSearchJob&) = delete;

  // Runs the job on a new runtime thread, which ends early when the program closes down;
  // false when no thread could be started.
  static bool Start(const std::shared_ptr<PdfSearchJob>& job);
  // Searches the first `count` pages of the walk on the calling thread with `search` (the
  // caller's own instance of the documents, whose pages are warm already). With
  // `untilMatch`, stops once a match is known and the page after it is searched too.
  void SearchFirst(int count, bool untilMatch,
                   const std::function<std::vector<PdfRect>(int page)>& search);
  // Searches the pages not searched yet (on the calling thread and, for long documents,
  // helper threads).
  void Run();
  void Cancel();

  // Waits until at least `matches` matches are known and `pages` pages of the walk have been
  // searched, or the job has ended (done or cancelled).
  void WaitUntil(std::size_t matches, int pages);

  // Waits until the job does no more work: every page searched and, when Run() took part,
  // its threads done with their document instances (also once cancelled).
  void WaitEnded();

  bool Done() const;
  bool Cancelled() const { return stop_.load(); }
  std::size_t Count() const;
  PdfMatch At(std::size_t index) const;
  // The matches known so far, in walk order.
  std::vector<PdfMatch> Matches() const;
  int StartPage() const { return params_.startPage; }

  // Called before each page the job searches, with the set page (tests hold a search at a
  // page with it). Null: none.
  static void SetPageHook(std::function<void(int page)> hook);

 private:
  void Publish(std::size_t position, std::vector<PdfRect> boxes);
  // False when the page's kept text shows the needle is not on it.
  bool MayMatch(int page) const;

  Params params_;
  std::vector<int> walk_;  // set pages in the order searched
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::unique_ptr<std::vector<PdfRect>>> pending_;  // by walk position
  std::size_t searched_ = 0;  // walk positions published, in order
  bool running_ = false;      // Run() was started: WaitEnded() waits for its end
  bool ended_ = false;
  std::vector<PdfMatch> found_;
  // The runtime thread's queue when the job has one: the program closing down ends the job.
  std::shared_ptr<EventQueue> events_;
};

}  // namespace rt
