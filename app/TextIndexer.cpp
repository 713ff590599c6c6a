// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TextIndexer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "app/DemoData.h"
#include "platform/pdf/PdfDocumentSet.h"
#include "platform/pgstore/PgStore.h"
#include "platform/pgstore/PgTextIndex.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/ThreadPriority.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"
#include "platform/store/Store.h"
#include "platform/store/StoreTextAnalyzer.h"
#include "platform/store/StoreTextIndex.h"

namespace {

constexpr auto kIdleWait = std::chrono::milliseconds(500);
constexpr auto kRetryWait = std::chrono::seconds(2);
constexpr std::size_t kBatch = 16;
constexpr std::size_t kPagesPerCommit = 8;
constexpr std::size_t kBytesPerCommit = 128 * 1024;

std::mutex gMutex;
int gThread = 0;
std::vector<int> gSubscribers;

void NotifySubscribers() {
  std::vector<int> threads;
  {
    std::lock_guard lock(gMutex);
    threads = gSubscribers;
  }
  for (int thread : threads)
    rt::Post(TextIndexer::kProgressEvent, 0, thread);
}

// Indexes one document from its next page on. 89 or 33 when the record changed meanwhile
// (or another instance indexes it): the next pass takes it up again.
int IndexDocument(rt::TextIndex& index, const rt::TextWork& work,
                  const std::function<bool()>& stop) {
  std::vector<char> bytes;
  const int read = index.ReadDocument(work.record, work.version, bytes);
  if (read == rt::kNoRecordError) return read;
  int next = 0;
  if (int e = index.BeginDocument(work.record, work.version, next)) return e;
  if (next < 0) return rt::kNoError;  // finished meanwhile
  if (read == rt::kBadFileError)
    return index.FinishDocument(work.record, work.version, rt::TextState::Damaged);
  if (read != rt::kNoError) return read;
  if (bytes.empty()) return index.FinishDocument(work.record, work.version, rt::TextState::NoText);
  rt::PdfDocumentSet document;
  const rt::PdfError loaded = document.LoadBytes(std::move(bytes), {});
  if (!loaded.Ok()) {
    const rt::TextState state =
        loaded.code == rt::kAccessDenied ? rt::TextState::Encrypted : rt::TextState::Damaged;
    return index.FinishDocument(work.record, work.version, state);
  }
  // A few pages per transaction: each commit costs the index more than a page's text, and a
  // batch still commits within milliseconds and holds little text.
  std::vector<std::string> texts;
  std::size_t bytesHeld = 0;
  int first = next;
  for (int page = next; page < document.PageCount(); ++page) {
    if (stop()) return rt::kNoError;  // the pages not committed are read again next time
    texts.push_back(document.ExtractPageText(page));
    bytesHeld += texts.back().size();
    if (texts.size() < kPagesPerCommit && bytesHeld < kBytesPerCommit &&
        page + 1 < document.PageCount())
      continue;
    if (int e = index.AddPages(work.record, work.version, first, texts)) return e;
    first = page + 1;
    texts.clear();
    bytesHeld = 0;
  }
  return index.FinishDocument(work.record, work.version, rt::TextState::Indexed);
}

bool Stopping() {
  return rt::MyEvents().CloseDownRequested();
}

// Waits on the thread's queue, so that the thread counts as idle meanwhile and a close-down
// ends the wait at once.
void Wait(std::chrono::milliseconds time) {
  const auto until = std::chrono::steady_clock::now() + time;
  while (!Stopping()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return;
    static_cast<void>(rt::MyEvents().Wait(left));
  }
}

void Run() {
  static_cast<void>(rt::SetLowestPriority());
  std::unique_ptr<rt::TextIndex> index;
  bool upToDate = false;
  while (!Stopping()) {
    if (!index && TextIndexer::OpenIndex(index) != rt::kNoError) {
      if (rt::ErrorCode() == rt::kNoDriverError) return;  // this table keeps no index
      Wait(kRetryWait);                                   // the table is made when first used
      continue;
    }
    // Another connection's commit (a document stored, changed or deleted) shows as a change.
    if (upToDate && !index->Changed()) {
      Wait(kIdleWait);
      continue;
    }
    if (!upToDate) static_cast<void>(index->Changed());
    const int e = TextIndexer::IndexPending(*index, Stopping, NotifySubscribers);
    upToDate = e == rt::kNoError;
    NotifySubscribers();
    if (!upToDate) Wait(kRetryWait);
  }
}

}  // namespace

int TextIndexer::OpenIndex(std::unique_ptr<rt::TextIndex>& index) {
  index.reset();
  rt::File& table = DemoData();
  if (table.DriverName() == rt::kStoreDriverName)
    return rt::StoreTextIndex::Open(table.PhysicalName(), kDemoDataBlob, index);
  if (table.DriverName() == rt::kPgDriverName) {
    // The server's index finds and folds words by the local index's rules, so a search
    // answers alike on either driver.
    std::unique_ptr<rt::TextAnalyzer> analyzer;
    if (int e = rt::StoreTextAnalyzer::Make(analyzer)) return e;
    return rt::PgTextIndex::Open(table.PhysicalName(), kDemoDataBlob, std::move(analyzer), index);
  }
  rt::SetError(rt::kNoDriverError);
  return rt::kNoDriverError;
}

int TextIndexer::IndexPending(rt::TextIndex& index, const std::function<bool()>& stop,
                              const std::function<void()>& changed) {
  for (;;) {
    if (stop()) return rt::kNoError;
    int removed = 0;
    if (int e = index.RemoveStale(kBatch, removed)) return e;
    if (removed > 0) {
      if (changed) changed();
      continue;
    }
    std::vector<rt::TextWork> work;
    if (int e = index.Pending(kBatch, work)) return e;
    if (work.empty()) return rt::kNoError;
    bool progressed = false;
    for (const rt::TextWork& item : work) {
      if (stop()) return rt::kNoError;
      const int e = IndexDocument(index, item, stop);
      if (e == rt::kNoRecordError || e == rt::kRecordChangedError) continue;
      if (e != rt::kNoError) return e;
      progressed = true;
      if (changed) changed();
    }
    // Every document of the batch changed under the indexer: let the table settle.
    if (!progressed) return rt::kRecordChangedError;
  }
}

void TextIndexer::Start() {
  std::lock_guard lock(gMutex);
  if (gThread != 0) return;
  gThread = rt::Start([](const std::vector<std::string>&) {
    Run();
    std::lock_guard ended(gMutex);
    gThread = 0;
  });
}

void TextIndexer::Stop() {
  std::lock_guard lock(gMutex);
  if (gThread != 0) rt::PostCloseDown(gThread);
}

int TextIndexer::Thread() {
  std::lock_guard lock(gMutex);
  return gThread;
}

void TextIndexer::Subscribe(int thread) {
  std::lock_guard lock(gMutex);
  if (std::find(gSubscribers.begin(), gSubscribers.end(), thread) == gSubscribers.end())
    gSubscribers.push_back(thread);
}

void TextIndexer::Unsubscribe(int thread) {
  std::lock_guard lock(gMutex);
  std::erase(gSubscribers, thread);
}
