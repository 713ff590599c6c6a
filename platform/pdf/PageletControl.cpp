// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PageletControl.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <map>
#include <new>
#include <optional>
#include <vector>

#include "platform/pdf/PdfEngine.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Text.h"
#include "platform/runtime/windows/Dialogs.h"
#include "platform/runtime/windows/Window.h"

namespace rt {
namespace {

// Links by id, so that a thread holding only the id's text finds the link while its control
// lives. Ids are never reused.
struct LinkRegistry {
  std::mutex mutex;
  std::map<int, std::weak_ptr<PageletControl::Link>> links;
  int lastId = 0;
};

LinkRegistry& Links() {
  static LinkRegistry registry;
  return registry;
}

// Callers pass fixed-width, blank-padded names.
std::string Unpadded(std::string_view text) {
  return std::string(TrimRight(text, std::string_view(" \0", 2)));
}

}  // namespace

// ---- Link ----

int PageletControl::Link::FindText(std::string_view text, std::uint8_t highlight,
                                   std::uint8_t findNext, std::uint8_t caseInsensitive,
                                   std::uint8_t dontGoToPage) {
  // A search may take long: it runs without the lock, so that the owner can cancel it and
  // wait for it to end. Searches through the link run one at a time.
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return !searching_ && ownerWaits_ == 0; });
  if (control_ == nullptr) return 0;
  PageletControl& control = *control_;
  searching_ = true;
  lock.unlock();
  const int found = control.FindText(text, highlight, findNext, caseInsensitive, dontGoToPage);
  lock.lock();
  searching_ = false;
  changed_.notify_all();
  return found;
}

int PageletControl::Link::PageCount() {
  std::lock_guard lock(mutex_);
  return control_ == nullptr ? 0 : control_->PageCount();
}

bool PageletControl::Link::Alive() {
  std::lock_guard lock(mutex_);
  return control_ != nullptr && control_->Initialised();
}

// ---- Construction ----

PageletControl::PageletControl() : link_(std::make_shared<Link>()) {
  std::string_view name = kEngineLibrary;
  std::copy_n(name.begin(), std::min(name.size(), sizeof engineLibrary - 1), engineLibrary);
  link_->control_ = this;
  LinkRegistry& registry = Links();
  std::lock_guard lock(registry.mutex);
  link_->id_ = ++registry.lastId;
  registry.links[link_->id_] = link_;
}

PageletControl::~PageletControl() {
  {
    LinkRegistry& registry = Links();
    std::lock_guard lock(registry.mutex);
    registry.links.erase(link_->id_);
  }
  {
    // Ends a call in progress on another thread, then cuts the link.
    std::unique_lock lock = LockLink();
    link_->control_ = nullptr;
  }
  Kill();
}

std::string PageletControl::Argument() const {
  return std::to_string(link_->id_);
}

std::shared_ptr<PageletControl::Link> PageletControl::FromArgument(std::string_view argument) {
  if (argument.empty() || argument.size() > 9) return nullptr;
  int id = 0;
  auto [end, ec] = std::from_chars(argument.data(), argument.data() + argument.size(), id);
  if (ec != std::errc() || end != argument.data() + argument.size() || id <= 0) return nullptr;
  LinkRegistry& registry = Links();
  std::lock_guard lock(registry.mutex);
  auto it = registry.links.find(id);
  return it == registry.links.end() ? nullptr : it->second.lock();
}

// ---- Slots ----

bool PageletControl::Init(Window& window, std::int16_t control, std::uint8_t border,
                          std::uint8_t scrollBars, std::uint8_t toolbar, std::uint8_t fitWidth,
                          std::string_view initialFile, std::string_view) {
  if (engine_) Kill();
  if (!window.Exists(control) || window.Type(control) != ctl::kRegion) {
    SetError(kBadNameError, "Control " + std::to_string(control) + " is not a region");
    return false;
  }
  std::shared_ptr<PdfEngine> engine = PdfEngine::Create();
  std::unique_ptr<PdfSurface> surface = MakePdfSurface();
  PdfSurface& shown = *surface;
  {
    std::unique_lock lock = LockLink();
    engine_ = engine;
    surface_ = std::move(surface);
    window_ = &window;
    windowId_ = window.Id();
    control_ = control;
    killed_ = false;
  }
  shown.SetStyle(border != 0, scrollBars != 0, toolbar != 0);
  shown.Attach(windowId_, control_, window.Position(control), engine);
  if (fitWidth) engine->Zoom(PdfViewState::kZoomFullWidth);
  const std::string file = Unpadded(initialFile);
  if (!file.empty())
    LoadFile(file, 0);
  else
    Refresh(true);
  return true;
}

void PageletControl::Kill() {
  std::unique_ptr<PdfSurface> surface;
  std::shared_ptr<PdfEngine> engine;
  {
    std::unique_lock lock = LockLink();
    if (killed_) return;
    killed_ = true;
    surface = std::move(surface_);
    engine = std::move(engine_);
    window_ = nullptr;
  }
  if (surface) surface->Detach();
  // The surface goes here (closing its viewer windows), the engine with its last holder.
}

bool PageletControl::LoadFile(std::string_view fileName, std::uint8_t keepFolder) {
  return Load(fileName, keepFolder, appendOnLoad != 0);
}

bool PageletControl::AppendFile(std::string_view fileName, std::uint8_t keepFolder) {
  if (!allowAppend) return false;
  return Load(fileName, keepFolder, true);
}

bool PageletControl::Load(std::string_view fileName, std::uint8_t keepFolder, bool append) {
  if (!engine_) return false;
  std::string file = Unpadded(fileName);
  bool asked = false;
  if (file.empty()) {
    const int flags = kFileLongName | (keepFolder ? kFileKeepFolder : 0);
    if (!FileDialog(append ? "Append PDF File" : "Open PDF File", file, kFileMask, flags))
      return false;  // cancelled: the view stays as it was
    file = Unpadded(file);
    if (file.empty()) return false;
    asked = true;
  }
  PdfError error;
  {
    WaitCursor wait;
    error = append ? engine_->AppendFile(file) : engine_->LoadFile(file);
  }
  Refresh(true);
  return Finish(error.text, asked || reportErrors != 0, "PDF Document");
}

bool PageletControl::Finish(const std::string& errorText, bool report, std::string_view caption) {
  if (errorText.empty()) return true;
  const int code = ErrorCode();
  if (report) {
    Message(errorText, caption, MessageIcon::Exclamation);
    // The caller reads the failure, not what the message box left behind.
    SetError(code == 0 ? kBadNameError : code, errorText);
  }
  return false;
}

bool PageletControl::LoadBlob(File& table, std::int16_t blob) {
  if (!engine_) return false;
  // Reading and opening a large document takes a moment.
  std::optional<WaitCursor> wait(std::in_place);
  sourceTable = &table;
  ClearError();
  const std::int64_t size = table.BlobSize(blob);
  std::string error;
  if (ErrorCode() != kNoError)
    error = ErrorText().empty() ? "The BLOB cannot be read" : ErrorText();
  if (error.empty() && size == 0) {
    // A record without stored bytes shows an empty view.
    if (!appendOnLoad) engine_->Clear();
    Refresh(true);
    return true;
  }
  std::vector<char> bytes;
  if (error.empty() && static_cast<std::uint64_t>(size) > PdfDocumentSet::kMaxDocumentBytes) {
    error = "The stored document is too large (" + std::to_string(size) + " bytes)";
    SetError(kFileSystemError, error);
  }
  if (error.empty()) {
    try {
      bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
      error = "Not enough memory for the stored document";
      SetError(kFileSystemError, error);
    }
  }
  std::size_t offset = 0;
  while (error.empty() && offset < bytes.size()) {
    std::size_t got = 0;
    if (table.ReadBlob(blob, static_cast<std::int64_t>(offset), bytes.data() + offset,
                       bytes.size() - offset, got) != kNoError) {
      error = ErrorText().empty() ? "The BLOB cannot be read" : ErrorText();
    } else if (got == 0) {
      bytes.resize(offset);  // shorter than announced: the engine judges what is there
    }
    offset += got;
  }
  if (!error.empty()) {
    wait.reset();
    if (!appendOnLoad) engine_->Clear();
    Refresh(true);
    const int code = ErrorCode();
    SetError(code == kNoError ? kFileSystemError : code, error);
    return Finish(error, reportErrors != 0, "PDF Document");
  }
  const std::string label = table.BlobLabel(blob);
  PdfError loaded = appendOnLoad ? engine_->AppendBytes(std::move(bytes), label)
                                 : engine_->LoadBytes(std::move(bytes), label);
  wait.reset();
  Refresh(true);
  return Finish(loaded.text, reportErrors != 0, "PDF Document");
}

void PageletControl::Clear() {
  if (!engine_) return;
  engine_->Clear();
  Refresh(true);
}

void PageletControl::About() {
  if (!engine_) return;
  Message(PdfEngine::AboutText(), "About", MessageIcon::Information);
}

void PageletControl::ShowProperties() {
  if (!engine_) return;
  std::string text;
  for (const PdfProperty& p : engine_->Properties()) {
    if (!text.empty()) text += '\n';
    text += p.label + ": " + p.value;
  }
  if (text.empty()) text = "No document is loaded.";
  Message(text, "Document Properties", MessageIcon::Information);
}

bool PageletControl::Zoom(int command) {
  if (!engine_ || !allowZoom) return false;
  if (!engine_->Zoom(command)) return false;
  Refresh(false);
  return true;
}

bool PageletControl::SetPrintOption(int command) {
  if (!engine_) return false;
  return engine_->SetPrintOption(command);
}

void PageletControl::FitToControl(std::int16_t control) {
  if (!engine_ || window_ == nullptr) return;
  const int region = window_->Exists(control) ? control : control_;
  surface_->Resize(window_->Position(region));
  engine_->FitToControl();
  Refresh(false);
}

int PageletControl::FindText(std::string_view text, std::uint8_t highlight, std::uint8_t findNext,
                             std::uint8_t caseInsensitive, std::uint8_t dontGoToPage) {
  if (!engine_ || !allowSearch) return 0;
  const int count = engine_->FindText(text.substr(0, kMaxFindText), highlight != 0, findNext != 0,
                                      caseInsensitive != 0, dontGoToPage != 0);
  Refresh(false);
  return count;
}

bool PageletControl::Print(int fromPage, int toPage, int copies, std::uint8_t report,
                           std::uint8_t) {
  if (!engine_ || !allowPrint) return false;
  PdfPrintJob job;
  PdfError error =
      engine_->MakePrintJob(fromPage >= 1 ? fromPage - 1 : 0, toPage >= 1 ? toPage - 1 : -1, job);
  if (!error.Ok()) {
    lastPrint_ = {PdfPrintOutcome::Failed, error.text};
    SetError(error.code, error.text);
    return Finish(error.text, report != 0, "Print");
  }
  job.copies = std::max(1, copies);
  return SendToPrinter(*surface_, job, engine_, report != 0);
}

bool PageletControl::SendToPrinter(PdfSurface& surface, PdfPrintJob& job,
                                   std::shared_ptr<PdfEngine> engine, bool report) {
  lastPrint_ = surface.Print(job, std::move(engine));
  switch (lastPrint_.outcome) {
    case PdfPrintOutcome::Printed:
      return true;
    case PdfPrintOutcome::Cancelled:
      SetError(kNoError, "Printing was cancelled");
      return false;
    case PdfPrintOutcome::Failed:
    default: {
      if (lastPrint_.text.empty()) lastPrint_.text = "The document could not be printed";
      SetError(kFileSystemError, lastPrint_.text);
      return Finish(lastPrint_.text, report, "Print");
    }
  }
}

bool PageletControl::ShowFile(std::string_view fileName, int zoom, std::string_view caption) {
  if (killed_) return false;
  std::shared_ptr<PdfEngine> engine = LoadPrivate(fileName);
  if (!engine) return false;
  engine->Zoom(zoom);
  const std::string title = caption.empty() ? Unpadded(fileName) : Unpadded(caption);
  EnsureSurface().ShowFile(std::move(engine), title);
  return true;
}

int PageletControl::PageCount() {
  return engine_ ? engine_->PageCount() : 0;
}

std::int32_t PageletControl::TextLength(int scope, int which) {
  if (!engine_ || !allowText) return 0;
  const std::size_t length = engine_->TextLength(scope, which);
  return static_cast<std::int32_t>(std::min<std::size_t>(length, INT32_MAX));
}

std::int32_t PageletControl::GetText(std::int32_t length, char* buffer, int scope, int which) {
  if (!engine_ || !allowText || buffer == nullptr || length <= 0) return 0;
  return static_cast<std::int32_t>(
      engine_->GetText(static_cast<std::size_t>(length), buffer, scope, which));
}

bool PageletControl::PrintFile(std::string_view fileName, int fromPage, int toPage, int copies) {
  if (killed_ || !allowPrint) return false;
  std::shared_ptr<PdfEngine> engine = LoadPrivate(fileName);
  if (!engine) return false;
  PdfPrintJob job;
  PdfError error =
      engine->MakePrintJob(fromPage >= 1 ? fromPage - 1 : 0, toPage >= 1 ? toPage - 1 : -1, job);
  if (!error.Ok()) {
    lastPrint_ = {PdfPrintOutcome::Failed, error.text};
    SetError(error.code, error.text);
    return Finish(error.text, true, "Print");
  }
  job.copies = std::max(1, copies);
  return SendToPrinter(EnsureSurface(), job, std::move(engine), true);
}

// ---- Helpers ----

std::unique_lock<std::mutex> PageletControl::LockLink(bool cancelSearch) {
  std::unique_lock lock(link_->mutex_);
  if (!link_->searching_) return lock;
  // No new search starts while the owner waits. When cancelling, so that closing the window
  // does not wait for the search: a search that began just before the cancel may not have
  // seen it, hence the cancel again on each wake-up that finds it still running.
  ++link_->ownerWaits_;
  while (link_->searching_) {
    if (!cancelSearch || !engine_) {
      link_->changed_.wait(lock);
      continue;
    }
    engine_->CancelSearch();
    link_->changed_.wait_for(lock, std::chrono::milliseconds(50));
  }
  --link_->ownerWaits_;
  if (link_->ownerWaits_ == 0) link_->changed_.notify_all();
  return lock;
}

PdfSurface& PageletControl::EnsureSurface() {
  std::unique_lock lock = LockLink(false);
  if (!surface_) surface_ = MakePdfSurface();
  return *surface_;
}

std::shared_ptr<PdfEngine> PageletControl::LoadPrivate(std::string_view fileName) {
  const std::string file = Unpadded(fileName);
  if (file.empty()) {
    SetError(kBadNameError, "No file name was given");
    Finish(ErrorText(), true, "PDF Document");
    return nullptr;
  }
  std::shared_ptr<PdfEngine> engine = PdfEngine::Create();
  // The private document prints with this control's options.
  const PdfPrintOptions want = engine_ ? engine_->PrintOptions() : PdfPrintOptions{};
  const PdfPrintOptions have = engine->PrintOptions();
  if (want.printingDisabled != have.printingDisabled)
    engine->SetPrintOption(PdfPrintOptions::kDisablePrint);
  if (want.highQuality != have.highQuality) engine->SetPrintOption(PdfPrintOptions::kHighQuality);
  if (want.selectPrinter != have.selectPrinter)
    engine->SetPrintOption(PdfPrintOptions::kSelectPrinter);
  if (want.deviceContext != have.deviceContext)
    engine->SetPrintOption(PdfPrintOptions::kDeviceContext);
  PdfError error = engine->LoadFile(file);
  if (!error.Ok()) {
    Finish(error.text, true, "PDF Document");
    return nullptr;
  }
  return engine;
}

void PageletControl::Refresh(bool documentsChanged) {
  if (surface_) surface_->Refresh(documentsChanged);
}

}  // namespace rt
