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
  QString error;                // why nothing is shown ("" when a document is shown)
  std::map<int, QImage> pages;  // rendered pages by index, at view.PixelsPerPoint()
  std::uint64_t revision = 0;
  bool followEngine = false;  // the engine moved the view: scroll to its position
};

}  // namespace gui
