// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The document view control: shows PDF documents in a region of a runtime window, and
// zooms, searches, prints and extracts their text. Each control owns one engine (made at
// Init) and one surface (made by the current surface factory); the window that owns the
// control calls it on its own thread.
//
// Another thread (the find dialog) reaches the control through a Link: Argument() gives the
// link's id as decimal text, FromArgument() finds the link again. A link's calls are
// serialised with Init and Kill, and after Kill or destruction they do nothing and answer 0,
// so a dialog that outlives its viewer is harmless.
//
// Every operation is safe before Init and after Kill: it does nothing and answers 0/false.
// ShowFile and PrintFile are the exception before Init: they do not use the shown document,
// so a control without a window (never initialised) can show and print files.
//
// Arguments the callers pass:
//   Init(window, region, 1, 1, 0, 1, "", "")
//       border, scrollBars, toolbar: 1 frames the view, gives it scroll bars, shows a
//       toolbar with the zoom and page commands; fitWidth: 1 starts in full-width zoom;
//       initialFile: loaded at once when not empty; the last string is reserved ("").
//   LoadFile/AppendFile(name, keepFolder): an empty name asks the user ("PDF Files|*.pdf");
//       keepFolder 1 restores the working folder after the dialog. Failures are reported
//       in a message box when the user chose the file here or reportErrors is set; the view
//       shows the error text either way.
//   Print(fromPage, toPage, copies, reportErrors, reserved): pages counted from 1, toPage 0
//       means the last page. Returns once the print is done: true when it was printed;
//       LastPrint() tells a cancelled print from a failed one. reportErrors 1 shows a failure
//       (switched off, nothing loaded, the printer failed) in a message box.
//   ShowFile(name, zoom, caption): zoom is a Zoom command for the new viewer (default 46,
//       full page); an empty caption titles the viewer with the file's name.
//   PrintFile(name, fromPage, toPage, copies): as Print, with the control's print options,
//       without disturbing the shown document. Failures are always reported.
//   Selector pairs of TextLength/GetText: (2, 0) and (1, 0) the first page, (2, n)/(1, n)
//       page n, (0, 1) the whole document (pages separated by a form feed), (0, 0) the
//       current page. Lengths are bytes of UTF-8.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/pdf/PdfSurface.h"

namespace rt {

class File;
class PdfEngine;
class Window;

class PageletControl {
 public:
  static constexpr std::int16_t kModeWindowless = 3;
  static constexpr std::int16_t kModeWindow = 4;
  static constexpr int kMaxFindText = 128;
  static constexpr int kShowFileZoom = 46;
  static constexpr const char* kEngineLibrary = "PageletDemo02.dll";
  static constexpr const char* kFileMask = "PDF Files|*.pdf";

  // What another thread holds to reach the control.
  class Link {
   public:
    // The control's FindText, or 0 once the control is gone.
    int FindText(std::string_view text, std::uint8_t highlight, std::uint8_t findNext,
                 std::uint8_t caseInsensitive, std::uint8_t dontGoToPage);
    int PageCount();
    // False once the control has been killed or destroyed.
    bool Alive();

   private:
    friend class PageletControl;
    // Guards control_ and the state below, and the control's engine, surface and window
    // fields. A search runs without it, marked by `searching_`.
    std::mutex mutex_;
    std::condition_variable changed_;  // a search ended, or the owner is done with the link
    PageletControl* control_ = nullptr;
    bool searching_ = false;
    int ownerWaits_ = 0;  // the owner is waiting for a search to end: no new one starts
    int id_ = 0;
  };

  PageletControl();
  virtual ~PageletControl();
  PageletControl(const PageletControl&) = delete;
  PageletControl& operator=(const PageletControl&) = delete;

  // ---- Fields, in their fixed order ----
  File* sourceTable = nullptr;    // the table whose BLOB is shown; callers clear it before loads
  std::int32_t reportErrors = 0;  // 1: failed loads are also reported in a message box
  char engineLibrary[64] = {};    // the engine library's name
  std::uint8_t allowZoom = 1;     // Zoom commands are carried out
  std::uint8_t allowPrint = 1;    // Print and PrintFile are carried out
  std::uint8_t allowSearch = 1;   // FindText searches
  std::uint8_t allowText = 1;     // TextLength and GetText answer
  std::uint8_t allowAppend = 1;   // AppendFile appends
  std::int16_t mode = kModeWindowless;  // kModeWindow once a window owns the control
  std::uint8_t appendOnLoad = 0;        // 1: LoadFile and LoadBlob append instead of replacing

  // ---- Operations ----
  // Declared in the order of the control's published interface, which callers and derived
  // classes are written against: new operations go at the end and none is moved.
  virtual bool Init(Window& window, std::int16_t control, std::uint8_t border = 1,
                    std::uint8_t scrollBars = 1, std::uint8_t toolbar = 0,
                    std::uint8_t fitWidth = 1, std::string_view initialFile = {},
                    std::string_view reserved = {});
  virtual void Kill();
  virtual bool LoadFile(std::string_view fileName, std::uint8_t keepFolder);
  virtual bool LoadBlob(File& table, std::int16_t blob);
  virtual bool AppendFile(std::string_view fileName, std::uint8_t keepFolder);
  virtual void Clear();
  virtual void About();
  virtual void ShowProperties();
  virtual bool Zoom(int command);
  virtual bool SetPrintOption(int command);
  virtual void FitToControl(std::int16_t control);
  virtual int FindText(std::string_view text, std::uint8_t highlight, std::uint8_t findNext,
                       std::uint8_t caseInsensitive, std::uint8_t dontGoToPage);
  virtual bool Print(int fromPage, int toPage, int copies, std::uint8_t reportErrors,
                     std::uint8_t reserved);
  virtual void Unused13() {}
  virtual bool ShowFile(std::string_view fileName, int zoom = kShowFileZoom,
                        std::string_view caption = {});
  virtual void Unused15() {}
  virtual int PageCount();
  virtual std::int32_t TextLength(int scope, int which);
  virtual std::int32_t GetText(std::int32_t length, char* buffer, int scope, int which);
  virtual void Unused19() {}
  virtual void Unused20() {}
  virtual bool PrintFile(std::string_view fileName, int fromPage = 1, int toPage = 0,
                         int copies = 1);

  // ---- Reaching the control ----
  std::shared_ptr<Link> GetLink() const { return link_; }
  // The link's id as decimal text, for a thread's start argument.
  std::string Argument() const;
  // The link named by such a text; nullptr for anything else (including the link of a
  // control that has been destroyed).
  static std::shared_ptr<Link> FromArgument(std::string_view argument);

  // What became of the last Print or PrintFile.
  PdfPrintResult LastPrint() const { return lastPrint_; }

  bool Initialised() const { return engine_ != nullptr; }
  bool Killed() const { return killed_; }
  // The engine and the surface, for surfaces and tests; null before Init and after Kill.
  std::shared_ptr<PdfEngine> Engine() const { return engine_; }
  PdfSurface* Surface() const { return surface_.get(); }
  // The window and region the control is placed in (0 before Init).
  int WindowId() const { return windowId_; }
  int Region() const { return control_; }

 private:
  bool Load(std::string_view fileName, std::uint8_t keepFolder, bool append);
  bool Finish(const std::string& errorText, bool report, std::string_view caption);
  PdfSurface& EnsureSurface();
  // A fresh engine with this control's print options, holding the file; null (reported)
  // when it cannot be loaded.
  std::shared_ptr<PdfEngine> LoadPrivate(std::string_view fileName);
  void Refresh(bool documentsChanged);
  // Takes the link's lock once no search runs through the link, cancelling a running one
  // when `cancelSearch`.
  std::unique_lock<std::mutex> LockLink(bool cancelSearch = true);
  // Prints a job on `surface` and reports a failure; true when the pages were printed.
  bool SendToPrinter(PdfSurface& surface, PdfPrintJob& job, std::shared_ptr<PdfEngine> engine,
                     bool report);

  std::shared_ptr<Link> link_;
  std::shared_ptr<PdfEngine> engine_;
  std::unique_ptr<PdfSurface> surface_;
  Window* window_ = nullptr;
  int windowId_ = 0;
  int control_ = 0;
  bool killed_ = false;
  PdfPrintResult lastPrint_;
};

}  // namespace rt
