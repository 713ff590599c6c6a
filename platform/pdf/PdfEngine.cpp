#include "platform/pdf/PdfEngine.h"

#include <thread>

#include <poppler/cpp/poppler-version.h>

#include "platform/pdf/PdfEngineRegistry.h"
#include "platform/pdf/PdfText.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {
namespace {

constexpr int kWholeDocument = -2;
constexpr int kNoPage = -1;

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

void PdfEngine::DocumentsChanged(bool keepPosition) {
  ++documentsEpoch_;
  search_.Reset();
  view_.SetPages(documents_.PageSizes());
  if (!keepPosition) view_.GoToPage(0);
  ++revision_;
}

PdfError PdfEngine::LoadFile(const std::string& fileName) {
  const auto lock = Lock();
  PdfError error = documents_.LoadFile(fileName);
  DocumentsChanged(false);
  return Record(std::move(error));
}

PdfError PdfEngine::AppendFile(const std::string& fileName) {
  const auto lock = Lock();
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
  if (scope == 0 && which == 0) page = view_.CurrentPage();
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
  const std::string needle = PdfSearch::Needle(text);
  std::uint64_t documents = 0;
  int pages = 0;
  const std::uint64_t cancel = cancelEpoch_.load();
  {
    const auto lock = Lock();
    search_.highlight = highlight;
    int current = -1;
    if (findNext && search_.Continue(needle, caseInsensitive, current)) {
      if (current >= 0 && !dontGoToPage) {
        const PdfMatch& match = search_.Matches()[current];
        view_.ShowBox(match.page, match.box);
      }
      ++revision_;
      return static_cast<int>(search_.Matches().size());
    }
    search_.Reset();
    ++revision_;
    documents = documentsEpoch_;
    pages = documents_.PageCount();
  }
  std::vector<PdfMatch> found;
  for (int page = 0; page < pages && !needle.empty(); ++page) {
    if (cancelEpoch_.load() != cancel) return 0;
    // Other calls go first: a lock is not fair, and taking it straight back would keep them
    // waiting until the whole document was searched.
    while (waiting_.load() > 0)
      std::this_thread::yield();
    std::lock_guard<std::mutex> pageLock(mutex_);
    if (documentsEpoch_ != documents) return 0;
    for (const PdfRect& box : documents_.Search(page, needle, caseInsensitive))
      found.push_back(PdfMatch{page, box});
  }
  const auto lock = Lock();
  if (documentsEpoch_ != documents || cancelEpoch_.load() != cancel) return 0;
  const int current = search_.Take(needle, caseInsensitive, std::move(found));
  if (current >= 0 && !dontGoToPage) {
    const PdfMatch& match = search_.Matches()[current];
    view_.ShowBox(match.page, match.box);
  }
  ++revision_;
  return static_cast<int>(search_.Matches().size());
}

std::unique_lock<std::mutex> PdfEngine::Lock() const {
  ++waiting_;
  std::unique_lock<std::mutex> lock(mutex_);
  --waiting_;
  return lock;
}

void PdfEngine::CancelSearch() {
  ++cancelEpoch_;
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
  if (!view_.Zoom(command)) return false;
  ++revision_;
  return true;
}

void PdfEngine::SetViewport(int width, int height) {
  const auto lock = Lock();
  view_.SetViewport(width, height);
  ++revision_;
}

void PdfEngine::SetScreenDpi(double dpi) {
  const auto lock = Lock();
  view_.SetScreenDpi(dpi);
  ++revision_;
}

void PdfEngine::FitToControl() {
  const auto lock = Lock();
  view_.FitToViewport();
  ++revision_;
}

void PdfEngine::GoToPage(int page) {
  const auto lock = Lock();
  view_.GoToPage(page);
  ++revision_;
}

void PdfEngine::ScrollTo(int x, int y) {
  const auto lock = Lock();
  view_.ScrollTo(x, y);
  ++revision_;
}

PdfViewState PdfEngine::View() const {
  const auto lock = Lock();
  return view_;
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
  return documents_.RenderPage(page, view_.PixelsPerPoint(), image);
}

std::uint64_t PdfEngine::Revision() const {
  const auto lock = Lock();
  return revision_;
}

}  // namespace rt
