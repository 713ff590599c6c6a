// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The PDF engine behind a view control: a document set, its view state, search and print
// options, with every operation serialised by the engine's own mutex so that a window's
// thread and a find dialog's thread may call it at once.
//
// Engines are shared objects: the owning control holds the std::shared_ptr from Create(),
// other threads reach the engine by its Id() through PdfEngineRegistry (or keep a weak_ptr
// from Handle()). Once the owner lets go, lookups answer null, so a late call from another
// thread becomes a harmless no-op instead of a call on a dead object.
//
// Text selectors (scope, which) for TextLength, GetText and Text:
//   (1, n) and (2, n): page n of the set (1-based); n = 0 is the first page;
//   (0, 1):            the whole set, page texts separated by a form feed ('\f');
//   (0, 0):            the view's current page.
// Other pairs, and pages that do not exist, select no text. Lengths are in UTF-8 bytes, the
// encoding GetText writes.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/pdf/PdfDocumentSet.h"
#include "platform/pdf/PdfError.h"
#include "platform/pdf/PdfImage.h"
#include "platform/pdf/PdfMatch.h"
#include "platform/pdf/PdfPrintJob.h"
#include "platform/pdf/PdfPrintOptions.h"
#include "platform/pdf/PdfProperty.h"
#include "platform/pdf/PdfSearch.h"
#include "platform/pdf/PdfViewState.h"

namespace rt {

class PdfEngine : public std::enable_shared_from_this<PdfEngine> {
  struct Token {};

 public:
  // A new engine, registered under a fresh id.
  static std::shared_ptr<PdfEngine> Create();
  explicit PdfEngine(Token);
  ~PdfEngine();
  PdfEngine(const PdfEngine&) = delete;
  PdfEngine& operator=(const PdfEngine&) = delete;

  int Id() const { return id_; }
  std::weak_ptr<PdfEngine> Handle() { return weak_from_this(); }

  // Documents. A failed load leaves the view empty; a failed append keeps what was shown.
  // Errors are also recorded as LastError() and as the calling thread's runtime error.
  PdfError LoadFile(const std::string& fileName);
  PdfError AppendFile(const std::string& fileName);
  PdfError LoadBytes(std::vector<char> bytes, const std::string& name = {});
  PdfError AppendBytes(std::vector<char> bytes, const std::string& name = {});
  void Clear();
  int PageCount() const;
  std::vector<std::string> DocumentNames() const;
  PdfError LastError() const;

  // Text (see the selectors above).
  std::size_t TextLength(int scope, int which);
  // Copies at most `capacity` bytes of the selected text into `buffer`, whole characters
  // only, with a terminating zero when room is left; returns the bytes copied. For a
  // terminated string pass TextLength() + 1 bytes.
  std::size_t GetText(std::size_t capacity, char* buffer, int scope, int which);
  std::string Text(int scope, int which);

  // Searches the set (see PdfSearch) from the view's current page on. Returns once the first
  // match is known (and the first few pages are searched), while the rest of the matches are
  // collected in the background; unless `dontGoToPage`, the view moves to the current match.
  // Find-next with the same text moves on, waiting only until the next match is known.
  // Returns the number of matches known (0 when nothing was found, or when the search was
  // cancelled or the documents changed while it ran).
  int FindText(std::string_view text, bool highlight, bool findNext, bool caseInsensitive,
               bool dontGoToPage);
  // Ends the search running now (from any thread): callers waiting for it return 0.
  void CancelSearch();
  // Waits until the search's matches are all known, or, once it was cancelled, until it has
  // stopped working.
  void WaitForSearch();
  // True while matches are still being collected.
  bool Searching() const;
  std::vector<PdfMatch> Matches() const;  // known so far, in the order searched
  int CurrentMatch() const;               // index into Matches(), -1 when none
  bool Highlight() const;

  // View.
  bool Zoom(int command);
  void SetViewport(int width, int height);
  void SetScreenDpi(double dpi);
  void FitToControl();
  void GoToPage(int page);
  void ScrollTo(int x, int y);
  PdfViewState View() const;  // a snapshot

  // Printing.
  bool SetPrintOption(int command);
  PdfPrintOptions PrintOptions() const;
  // Describes printing pages [firstPage, lastPage] (0-based; -1 for lastPage: to the end).
  PdfError MakePrintJob(int firstPage, int lastPage, PdfPrintJob& job) const;

  std::vector<PdfProperty> Properties() const;
  static std::string AboutText();

  // Renders a page at a scale (pixels per point); RenderViewPage uses the view's zoom.
  PdfError RenderPage(int page, double pixelsPerPoint, PdfImage& image);
  PdfError RenderViewPage(int page, PdfImage& image);
  // The documents' bytes, for rendering on an instance of the caller's own
  // (PdfEngineInstance) without waiting for the engine; `version` is DocumentsVersion() of
  // the documents returned.
  std::vector<PdfSource> Sources(std::uint64_t& version) const;
  // Grows by one whenever the documents change (a load, an append, a clear).
  std::uint64_t DocumentsVersion() const;

  // Grows by one with every change a surface must redraw for.
  std::uint64_t Revision() const;

 private:
  PdfError Record(PdfError error);
  void DocumentsChanged(bool keepPosition);
  std::string SelectedText(int scope, int which);
  std::size_t SelectedLength(int scope, int which);
  int SelectedPage(int scope, int which) const;  // -1: none, -2: whole document
  // The view, laid out first when the documents changed since: a load reads every page's
  // size only once the view is asked for, so that drawing a page need not wait for them.
  PdfViewState& Laid() const;
  // The engine's lock for one call (a search waits for its matches without it).
  std::unique_lock<std::mutex> Lock() const;

  mutable std::mutex mutex_;
  int id_ = 0;
  PdfDocumentSet documents_;
  mutable PdfViewState view_;  // see Laid()
  mutable bool layoutPending_ = false;
  PdfSearch search_;
  PdfPrintOptions printOptions_;
  PdfError lastError_;
  std::uint64_t revision_ = 0;
  std::uint64_t documentsVersion_ = 0;
};

}  // namespace rt
