// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfSearchJob.h"

#include <algorithm>

#include "platform/pdf/PdfPageText.h"
#include "platform/pdf/PdfTextLayout.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"

namespace rt {
namespace {

constexpr std::size_t kSearchStack = std::size_t{1} << 20;

std::mutex& HookMutex() {
  static std::mutex mutex;
  return mutex;
}

std::function<void(int)>& Hook() {
  static std::function<void(int)> hook;
  return hook;
}

}  // namespace

PdfSearchJob::PdfSearchJob(Params params) : params_(std::move(params)) {
  const int count = params_.pageCount;
  const int start = count > 0 ? std::clamp(params_.startPage, 0, count - 1) : 0;
  params_.startPage = start;
  walk_.reserve(count);
  for (int page = start; page < count; ++page)
    walk_.push_back(page);
  for (int page = 0; page < start; ++page)
    walk_.push_back(page);
  pending_.resize(walk_.size());
}

void PdfSearchJob::SetPageHook(std::function<void(int)> hook) {
  std::lock_guard<std::mutex> lock(HookMutex());
  Hook() = std::move(hook);
}

bool PdfSearchJob::Start(const std::shared_ptr<PdfSearchJob>& job) {
  {
    std::lock_guard<std::mutex> lock(job->mutex_);
    job->running_ = true;
  }
  const bool started = rt::Start(
                           [job](const std::vector<std::string>&) {
                             job->events_ = ThreadEvents(ThreadNumber());
                             job->Run();
                           },
                           kSearchStack) != 0;
  if (!started) {
    std::lock_guard<std::mutex> lock(job->mutex_);
    job->running_ = false;
  }
  return started;
}

bool PdfSearchJob::MayMatch(int page) const {
  if (static_cast<std::size_t>(page) >= params_.texts.size() || !params_.texts[page]) return true;
  return PdfPageText::MayContain(*params_.texts[page], params_.needle, params_.caseInsensitive);
}

void PdfSearchJob::SearchFirst(int count, bool untilMatch,
                               const std::function<std::vector<PdfRect>(int page)>& search) {
  bool matched = false;
  for (std::size_t position = 0;
       position < walk_.size() && position < static_cast<std::size_t>(count) && !stop_.load();
       ++position) {
    const int page = walk_[position];
    std::vector<PdfRect> boxes = MayMatch(page) ? search(page) : std::vector<PdfRect>{};
    const bool last = untilMatch && matched;
    matched = matched || !boxes.empty();
    Publish(position, std::move(boxes));
    if (last) break;
  }
}

void PdfSearchJob::Run() {
  std::size_t first = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = true;
    first = searched_;
  }
  // Pages whose kept text rules the needle out are searched at once, as pages without
  // matches; the others are laid out, the first ones of the walk first.
  std::vector<int> pages;
  std::vector<std::size_t> positions;
  for (std::size_t position = first; position < walk_.size(); ++position) {
    const int page = walk_[position];
    if (!MayMatch(page)) {
      Publish(position, {});
      continue;
    }
    pages.push_back(page);
    positions.push_back(position);
  }
  PdfParallelPages(params_.sources)
      .Run(
          pages, PdfParallelPages::Threads(static_cast<int>(pages.size())),
          [&](PdfTextLayout* document, int page, std::size_t slot) {
            {
              std::function<void(int)> hook;
              {
                std::lock_guard<std::mutex> lock(HookMutex());
                hook = Hook();
              }
              if (hook) hook(pages[slot]);
            }
            if (events_ && events_->CloseDownRequested()) stop_ = true;
            if (stop_.load()) return;
            Publish(positions[slot],
                    document ? document->Search(page, params_.needle, params_.caseInsensitive)
                             : std::vector<PdfRect>{});
          },
          stop_);
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  changed_.notify_all();
}

void PdfSearchJob::Publish(std::size_t position, std::vector<PdfRect> boxes) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_[position] = std::make_unique<std::vector<PdfRect>>(std::move(boxes));
  // Matches become known in walk order: a page's matches wait for the pages before it.
  while (searched_ < walk_.size() && pending_[searched_]) {
    for (const PdfRect& box : *pending_[searched_])
      found_.push_back(PdfMatch{walk_[searched_], box});
    pending_[searched_].reset();
    ++searched_;
  }
  changed_.notify_all();
}

void PdfSearchJob::Cancel() {
  stop_ = true;
  std::lock_guard<std::mutex> lock(mutex_);
  changed_.notify_all();
}

void PdfSearchJob::WaitUntil(std::size_t matches, int pages) {
  std::unique_lock<std::mutex> lock(mutex_);
  const std::size_t wantPages =
      std::min(static_cast<std::size_t>(std::max(pages, 0)), walk_.size());
  changed_.wait(lock, [&] {
    return ended_ || stop_.load() || searched_ == walk_.size() ||
           (found_.size() >= matches && searched_ >= wantPages);
  });
}

void PdfSearchJob::WaitEnded() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return ended_ || (!running_ && searched_ == walk_.size()); });
}

bool PdfSearchJob::Done() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return searched_ == walk_.size() && !stop_.load();
}

std::size_t PdfSearchJob::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return found_.size();
}

PdfMatch PdfSearchJob::At(std::size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < found_.size() ? found_[index] : PdfMatch{};
}

std::vector<PdfMatch> PdfSearchJob::Matches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return found_;
}

}  // namespace rt
