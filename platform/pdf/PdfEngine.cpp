// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfEngine.h"

#include <climits>
#include <cstdint>

#include <poppler/cpp/poppler-version.h>

#include "platform/pdf/PdfEngineRegistry.h"
#include "platform/pdf/PdfPageText.h"
#include "platform/pdf/PdfSearchJob.h"
#include "platform/pdf/PdfText.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {
namespace {

constexpr int kWholeDocument = -2;
constexpr int kNoPage = -1;
// A set of this many pages or fewer is searched whole before Find returns; a longer one up
// to its first match and the page after it (the view shows them), at most this many pages
// before the rest goes to the background.
constexpr int kForegroundPages = 8;

}  // namespace

std::shared_ptr<PdfEngine> PdfEngine::Create() {
  auto engine = std::make_shared<PdfEngine>(Token{});
  engine->id_ = PdfEngineRegistry::Add(engine);
  return engine;
}

PdfEngine::PdfEngine(Token) {}

PdfEngine::~PdfEngine() {
  if (id_ != 0) PdfEngineRegistry::Remove(id_);
}

PdfError PdfEngine::Record(PdfError error) {
  lastError_ = error;
  if (!error.Ok()) {
    SetError(error.code, error.text);
  } else {
    ClearError();  // a failure of an earlier load must not outlive this success
  }
  return error;
}

PdfViewState& PdfEngine::Laid() const {
  if (layoutPending_) {
    layoutPending_ = false;
    view_.SetPages(documents_.PageSizes());
    view_.GoToPage(0);
  }
  return view_;
}

void PdfEngine::DocumentsChanged(bool keepPosition) {
  search_.Reset();
  if (keepPosition) {
    view_.SetPages(documents_.PageSizes());
  } else {
    layoutPending_ = true;  // laid out at the next call that needs the view
  }
  ++revision_;
  ++documentsVersion_;
}

PdfError PdfEngine::LoadFile(const std::string& fileName) {
  const auto lock = Lock();
  PdfError error = documents_.LoadFile(fileName);
  DocumentsChanged(false);
  return Record(std::move(error));
}

PdfError PdfEngine::AppendFile(const std::string& fileName) {
  const auto lock = Lock();
  Laid();  // the view of the pages shown so far, whose position the append keeps
  PdfError error = documents_.AppendFile(fileName);
  if (error.Ok()) DocumentsChanged(true);
  return Record(std::move(error));
}

PdfError PdfEngine::LoadBytes(std::vector<char> bytes, const std::string& name) {
  const auto lock = Lock();
  PdfError error = documents_.LoadBytes(std::move(bytes), name);
  DocumentsChanged(false);
  return Record(std::move(error));
}

PdfError PdfEngine::AppendBytes(std::vector<char> bytes, const std::string& name) {
  const auto lock = Lock();
  Laid();  // the view of the pages shown so far, whose position the append keeps
  PdfError error = documents_.AppendBytes(std::move(bytes), name);
  if (error.Ok()) DocumentsChanged(true);
  return Record(std::move(error));
}

void PdfEngine::Clear() {
  const auto lock = Lock();
  documents_.Clear();
  lastError_ = PdfError{};
  DocumentsChanged(false);
}

int PdfEngine::PageCount() const {
  const auto lock = Lock();
  return documents_.PageCount();
}

std::vector<std::string> PdfEngine::DocumentNames() const {
  const auto lock = Lock();
  return documents_.DocumentNames();
}

PdfError PdfEngine::LastError() const {
  const auto lock = Lock();
  return lastError_;
}

int PdfEngine::SelectedPage(int scope, int which) const {
  if (scope == 0 && which == 1) return kWholeDocument;
  int page = kNoPage;
  if (scope == 0 && which == 0) page = Laid().CurrentPage();
  if ((scope == 1 || scope == 2) && which >= 0) page = which == 0 ? 0 : which - 1;
  return page >= 0 && page < documents_.PageCount() ? page : kNoPage;
}

std::size_t PdfEngine::SelectedLength(int scope, int which) {
  const int page = SelectedPage(scope, which);
  if (page == kWholeDocument) return documents_.DocumentTextLength();
  return page == kNoPage ? 0 : documents_.PageText(page).size();
}

std::string PdfEngine::SelectedText(int scope, int which) {
  const int page = SelectedPage(scope, which);
  if (page == kWholeDocument) return documents_.DocumentText();
  return page == kNoPage ? std::string() : documents_.PageText(page);
}

std::size_t PdfEngine::TextLength(int scope, int which) {
  const auto lock = Lock();
  return SelectedLength(scope, which);
}

std::size_t PdfEngine::GetText(std::size_t capacity, char* buffer, int scope, int which) {
  const auto lock = Lock();
  if (buffer == nullptr || capacity == 0) return 0;
  const int page = SelectedPage(scope, which);
  if (page >= 0) return PdfText::CopyTo(documents_.PageText(page), buffer, capacity);
  if (page == kWholeDocument) return PdfText::CopyTo(documents_.DocumentText(), buffer, capacity);
  buffer[0] = '\0';
  return 0;
}

std::string PdfEngine::Text(int scope, int which) {
  const auto lock = Lock();
  return SelectedText(scope, which);
}

int PdfEngine::FindText(std::string_view text, bool highlight, bool findNext, bool caseInsensitive,
                        bool dontGoToPage) {
  std::string needle = PdfSearch::Needle(text);
  std::shared_ptr<PdfSearchJob> job;
  bool fresh = false;
  int pages = 0;
  std::size_t wantMatches = 1;
  {
    const auto lock = Lock();
    search_.highlight = highlight;
    ++revision_;
    // A search cancelled while nobody waited for it is begun anew.
    if (findNext && search_.Continues(needle, caseInsensitive) &&
        !(search_.Job() && search_.Job()->Cancelled())) {
      job = search_.Job();
      if (!job) return 0;
      const int wanted = search_.CurrentIndex() + 2;  // this match and the next
      wantMatches = static_cast<std::size_t>(wanted);
    } else {
      pages = documents_.PageCount();
      const std::u32string searched = PdfPageText::Needle(needle, caseInsensitive);
      if (!searched.empty() && pages > 0) {
        PdfSearchJob::Params params;
        params.sources = documents_.Sources();
        params.pageCount = pages;
        params.startPage = Laid().CurrentPage();
        params.needle = searched;
        params.caseInsensitive = caseInsensitive;
        params.texts = documents_.KeptTextsForSearch();
        job = std::make_shared<PdfSearchJob>(std::move(params));
      }
      search_.Begin(needle, caseInsensitive, job);
      if (!job) return 0;
      fresh = true;
      // A short set at once, and the first pages of a long one up to its first match, on the
      // set's own instance, warm from drawing them.
      job->SearchFirst(kForegroundPages, pages > kForegroundPages,
                       [&](int page) { return documents_.Search(page, needle, caseInsensitive); });
    }
  }
  // The rest of a long set in the background; this call waits only until the first match
  // is known, when none is on the first pages.
  if (fresh && !job->Done() && !PdfSearchJob::Start(job)) job->Run();
  job->WaitUntil(wantMatches, 0);
  const auto lock = Lock();
  if (search_.Job() != job) return 0;  // the documents changed, or another search began
  if (job->Cancelled()) {
    search_.Reset();
    ++revision_;
    return 0;
  }
  const int count = static_cast<int>(job->Count());
  int current = -1;
  if (count > 0) {
    current = fresh ? 0 : search_.CurrentIndex() + 1;
    if (current >= count) current = 0;  // past the last match of a finished search: wrap
  }
  search_.SetCurrent(current);
  if (current >= 0 && !dontGoToPage) {
    const PdfMatch match = job->At(static_cast<std::size_t>(current));
    Laid().ShowBox(match.page, match.box);
  }
  ++revision_;
  return count;
}

std::unique_lock<std::mutex> PdfEngine::Lock() const {
  return std::unique_lock<std::mutex>(mutex_);
}

void PdfEngine::CancelSearch() {
  std::shared_ptr<PdfSearchJob> job;
  {
    const auto lock = Lock();
    job = search_.Job();
  }
  if (job) job->Cancel();
}

void PdfEngine::WaitForSearch() {
  std::shared_ptr<PdfSearchJob> job;
  {
    const auto lock = Lock();
    job = search_.Job();
  }
  if (job) job->WaitEnded();
}

bool PdfEngine::Searching() const {
  const auto lock = Lock();
  const std::shared_ptr<PdfSearchJob>& job = search_.Job();
  return job && !job->Done() && !job->Cancelled();
}

std::vector<PdfMatch> PdfEngine::Matches() const {
  const auto lock = Lock();
  return search_.Matches();
}

int PdfEngine::CurrentMatch() const {
  const auto lock = Lock();
  return search_.CurrentIndex();
}

bool PdfEngine::Highlight() const {
  const auto lock = Lock();
  return search_.highlight;
}

bool PdfEngine::Zoom(int command) {
  const auto lock = Lock();
  if (!Laid().Zoom(command)) return false;
  ++revision_;
  return true;
}

void PdfEngine::SetViewport(int width, int height) {
  const auto lock = Lock();
  Laid().SetViewport(width, height);
  ++revision_;
}

void PdfEngine::SetScreenDpi(double dpi) {
  const auto lock = Lock();
  Laid().SetScreenDpi(dpi);
  ++revision_;
}

void PdfEngine::FitToControl() {
  const auto lock = Lock();
  Laid().FitToViewport();
  ++revision_;
}

void PdfEngine::GoToPage(int page) {
  const auto lock = Lock();
  Laid().GoToPage(page);
  ++revision_;
}

void PdfEngine::ScrollTo(int x, int y) {
  const auto lock = Lock();
  Laid().ScrollTo(x, y);
  ++revision_;
}

PdfViewState PdfEngine::View() const {
  const auto lock = Lock();
  return Laid();
}

bool PdfEngine::SetPrintOption(int command) {
  const auto lock = Lock();
  return printOptions_.Apply(command);
}

PdfPrintOptions PdfEngine::PrintOptions() const {
  const auto lock = Lock();
  return printOptions_;
}

PdfError PdfEngine::MakePrintJob(int firstPage, int lastPage, PdfPrintJob& job) const {
  const auto lock = Lock();
  job = PdfPrintJob{};
  if (printOptions_.printingDisabled) return {kAccessDenied, "Printing is switched off"};
  const int count = documents_.PageCount();
  if (count == 0) return {kNoRecordError, "There is no document to print"};
  if (lastPage == -1) lastPage = count - 1;
  if (firstPage < 0 || lastPage < firstPage || lastPage >= count) {
    return {kBadNameError, "Invalid page range: " + std::to_string(firstPage + 1) + " to " +
                               std::to_string(lastPage + 1) + " of " + std::to_string(count)};
  }
  job.documents = documents_.DocumentNames();
  job.firstPage = firstPage;
  job.lastPage = lastPage;
  job.options = printOptions_;
  return {};
}

std::vector<PdfProperty> PdfEngine::Properties() const {
  const auto lock = Lock();
  return documents_.Properties();
}

std::string PdfEngine::AboutText() {
  return "Pagelet PDF view\nShows, searches and prints PDF documents.\nPDF engine: Poppler " +
         poppler::version_string() +
         "\n\nPart of Pagelet Demo, free software under the GNU General Public License, "
         "version 3 or (at your option) any later version (GPL-3.0-or-later); it comes with "
         "no warranty.\n\nThird-party libraries and their licenses:\n"
         "Qt 6: LGPL-3.0\nPoppler: GPL-2.0-or-later\nSQLite: public domain\n"
         "libpq (PostgreSQL): PostgreSQL License";
}

PdfError PdfEngine::RenderPage(int page, double pixelsPerPoint, PdfImage& image) {
  const auto lock = Lock();
  return documents_.RenderPage(page, pixelsPerPoint, image);
}

PdfError PdfEngine::RenderViewPage(int page, PdfImage& image) {
  const auto lock = Lock();
  return documents_.RenderPage(page, Laid().PixelsPerPoint(), image);
}

std::vector<PdfSource> PdfEngine::Sources(std::uint64_t& version) const {
  const auto lock = Lock();
  version = documentsVersion_;
  return documents_.Sources();
}

std::uint64_t PdfEngine::DocumentsVersion() const {
  const auto lock = Lock();
  return documentsVersion_;
}

std::uint64_t PdfEngine::Revision() const {
  const auto lock = Lock();
  return revision_;
}

}  // namespace rt
