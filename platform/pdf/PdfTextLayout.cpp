// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfTextLayout.h"

#include <poppler/PDFDoc.h>
#include <poppler/TextOutputDev.h>

#include "platform/pdf/PdfCoreDocument.h"
#include "platform/pdf/PdfPageText.h"

namespace rt {
namespace {

void AppendText(void* stream, const char* text, int length) {
  if (length > 0) static_cast<std::string*>(stream)->append(text, static_cast<std::size_t>(length));
}

// A box from corners, computed as the C++ interface of the library does (corner plus
// extent), so that boxes come out bit for bit as they did through it.
PdfRect Box(double xMin, double yMin, double xMax, double yMax) {
  const double width = xMax - xMin;
  const double height = yMax - yMin;
  return PdfRect{xMin, yMin, (xMin + width) - xMin, (yMin + height) - yMin};
}

}  // namespace

struct PdfTextLayout::State {
  // The document holds the library's process-wide parameters while it lives; declared
  // before the device, so it goes after it.
  PdfCoreDocument document;
  std::string dumped;  // the text device writes each page's text here
  std::unique_ptr<TextOutputDev> device;
  int laidOut = -1;  // the page whose layout the device holds

  explicit State(std::shared_ptr<const std::vector<char>> bytes) : document(std::move(bytes)) {}
};

PdfTextLayout::PdfTextLayout(std::shared_ptr<const std::vector<char>> bytes)
    : state_(std::make_unique<State>(std::move(bytes))) {
  if (state_->document.Core() == nullptr) return;
  try {
    // The settings of the library's page text: the page's text in its physical layout.
    state_->device =
        std::make_unique<TextOutputDev>(&AppendText, &state_->dumped, true, 0.0, false, false);
    if (!state_->device->isOk()) state_->device.reset();
  } catch (...) {
    state_->device.reset();
  }
}

PdfTextLayout::~PdfTextLayout() = default;

bool PdfTextLayout::Ok() const {
  return state_->document.Core() != nullptr && state_->device != nullptr;
}

int PdfTextLayout::PageCount() const {
  return Ok() ? state_->document.PageCount() : 0;
}

bool PdfTextLayout::LayOut(int page) {
  if (!Ok() || page < 0 || page >= PageCount()) return false;
  if (state_->laidOut == page) return true;
  state_->laidOut = -1;
  state_->dumped.clear();
  PDFDoc* document = state_->document.Core();
  if (document->getPage(page + 1) == nullptr) return false;
  document->displayPage(state_->device.get(), page + 1, 72, 72, 0, false, true, false);
  state_->laidOut = page;
  return true;
}

std::string PdfTextLayout::Text(int page) {
  try {
    if (!LayOut(page)) return {};
    std::string text = state_->dumped;
    // The device ends a page's text with a page break; the set adds its own between pages.
    if (!text.empty() && text.back() == '\f') text.pop_back();
    return text;
  } catch (...) {
    state_->laidOut = -1;
    return {};
  }
}

std::vector<PdfRect> PdfTextLayout::Search(int page, const std::u32string& needle,
                                           bool caseInsensitive) {
  if (needle.empty()) return {};
  try {
    if (!LayOut(page)) return {};
    // The page's words in reading order, flow by flow, block by block, line by line (the
    // layout does not depend on the physical layout its text was written in), with a box
    // per character; the matches are found in the words' text, joined with a blank where the
    // page has a gap or a new line.
    std::vector<const TextWord*> words;
    for (const TextFlow* flow = state_->device->getFlows(); flow; flow = flow->getNext())
      for (const TextBlock* block = flow->getBlocks(); block; block = block->getNext())
        for (const TextLine* line = block->getLines(); line; line = line->getNext())
          for (const TextWord* word = line->getWords(); word; word = word->getNext())
            words.push_back(word);
    std::u32string haystack;
    std::vector<PdfRect> charBoxes;  // one per haystack character; separators are empty
    for (std::size_t w = 0; w < words.size(); ++w) {
      const TextWord* word = words[w];
      double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
      word->getBBox(&xMin, &yMin, &xMax, &yMax);
      const PdfRect wordBox = Box(xMin, yMin, xMax, yMax);
      for (int k = 0; k < word->getLength(); ++k) {
        word->getCharBBox(k, &xMin, &yMin, &xMax, &yMax);
        PdfRect box = Box(xMin, yMin, xMax, yMax);
        if (box.width <= 0 && box.height <= 0) box = wordBox;
        const char32_t c = *word->getChar(k);
        haystack.push_back(caseInsensitive ? PdfPageText::Fold(c) : c);
        charBoxes.push_back(box);
      }
      if (w + 1 < words.size()) {
        words[w + 1]->getBBox(&xMin, &yMin, &xMax, &yMax);
        const PdfRect next = Box(xMin, yMin, xMax, yMax);
        const bool newLine = next.y >= wordBox.y + wordBox.height / 2 ||
                             next.y + next.height <= wordBox.y + wordBox.height / 2 ||
                             next.x < wordBox.x;
        if (word->hasSpaceAfter() || newLine) {
          haystack.push_back(' ');
          charBoxes.push_back(PdfRect{});
        }
      }
    }
    return PdfPageText::Matches(haystack, charBoxes, needle);
  } catch (...) {
    return {};  // a page the library cannot search has no matches
  }
}

}  // namespace rt
