// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a page view draws: a snapshot of the engine's view, its search marks, its error text
// and the pages rendered for it, made off the GUI thread and handed over whole.

#include <QImage>
#include <QString>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/pdf/PdfMatch.h"
#include "platform/pdf/PdfViewState.h"

namespace gui {

struct QtPdfFrame {
  rt::PdfViewState view;
  std::vector<rt::PdfMatch> matches;
  int currentMatch = -1;
  bool highlight = true;
  QString error;  // why nothing is shown ("" when a document is shown)
  // Rendered pages by index, at view.PixelsPerPoint() (at the previous scale when
  // `stretched`: the view scales them to the new layout until the sharp frame comes).
  std::map<int, QImage> pages;
  std::uint64_t revision = 0;
  std::uint64_t documentsVersion = 0;  // the engine's documents the view shows
  bool searching = false;              // matches are still being collected in the background
  bool followEngine = false;           // the engine moved the view: scroll to its position
  // The view's scroll requests the renderer had taken when the snapshot was made: a frame
  // that follows the engine does not undo a scroll the user made after it.
  std::uint64_t scrolls = 0;
  bool stretched = false;
  bool ahead = false;  // the previous frame with pages rendered ahead added
};

}  // namespace gui
