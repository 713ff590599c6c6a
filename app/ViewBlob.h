// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The document viewer: a window that shows a record's stored document in a view control
// and drives the control from its menu (open, append, clear, print, zoom, print options,
// page and text information, text search in a dialog of its own, document properties).
// It runs modally on its caller's thread; nothing it does is written back to the table.

#include <cstdint>
#include <string>

namespace rt {
class File;
}

// Registers the viewer's window definition ("PageletDemo$PageletDemo001", "P1$WINDOW").
// Idempotent; ViewBlob registers it on first use.
void RegisterViewBlobWindow();

// Shows the current record's BLOB `blob` of `table` (the form passes DemoData and 1) until
// the window closes; sets GlobalResponse to the controller's result.
void ViewBlob(rt::File& table, std::int16_t blob);

// Where the viewer opens: on a page (0-based) with a text found there and highlighted, as
// Find Text would find and highlight it (the search window opens the viewer this way).
struct ViewBlobStart {
  int page = 0;
  std::string text;
};
void ViewBlob(rt::File& table, std::int16_t blob, const ViewBlobStart& start);

// Controls of the viewer's window.
inline constexpr int kViewBlobRegion = 1;
inline constexpr int kViewBlobClose = 2;

// Menu item numbers (from -1 downward in definition order).
inline constexpr int kViewBlobOpen = -3;
inline constexpr int kViewBlobAppend = -4;
inline constexpr int kViewBlobClear = -5;
inline constexpr int kViewBlobPrint = -6;
inline constexpr int kViewBlobZoom100 = -9;
inline constexpr int kViewBlobZoomIn = -10;
inline constexpr int kViewBlobZoomOut = -11;
inline constexpr int kViewBlobFullWidth = -12;
inline constexpr int kViewBlobFullPage = -13;
inline constexpr int kViewBlobTwoPages = -14;
inline constexpr int kViewBlobDisablePrint = -16;
inline constexpr int kViewBlobHighQuality = -17;
inline constexpr int kViewBlobSelectPrinter = -18;
inline constexpr int kViewBlobDcPrint = -19;
inline constexpr int kViewBlobExit = -21;
inline constexpr int kViewBlobPageCount = -23;
inline constexpr int kViewBlobPageTextLength = -24;
inline constexpr int kViewBlobPageText = -25;
inline constexpr int kViewBlobDocumentTextLength = -26;
inline constexpr int kViewBlobDocumentText = -27;
inline constexpr int kViewBlobFindText = -28;
inline constexpr int kViewBlobProperties = -30;
inline constexpr int kViewBlobAbout = -31;
