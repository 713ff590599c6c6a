// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfPageText.h"

#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <locale>

namespace rt {
namespace {

// Unicode case folding for the search, through the C library's UTF-8 locale (plain ASCII
// folding where that locale is missing).
char32_t Fold(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  static const std::ctype<wchar_t>* const kFacet = []() -> const std::ctype<wchar_t>* {
    try {
      static const std::locale locale("C.UTF-8");
      return &std::use_facet<std::ctype<wchar_t>>(locale);
    } catch (...) {
      return nullptr;
    }
  }();
  return kFacet ? static_cast<char32_t>(kFacet->tolower(static_cast<wchar_t>(c))) : c;
}

// UTF-16 code units to code points (unpaired surrogates become U+FFFD).
std::u32string ToUtf32(const poppler::ustring& text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      out.push_back(0xFFFD);
    } else {
      out.push_back(unit);
    }
  }
  return out;
}

// Decodes one UTF-8 character at `i` and moves past it (broken sequences give U+FFFD).
char32_t NextChar(std::string_view text, std::size_t& i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  const int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
  char32_t c = extra < 0 ? 0xFFFD : extra == 0 ? lead : lead & (0x7F >> (extra + 1));
  ++i;
  for (int k = 0; k < extra; ++k, ++i) {
    if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 0xFFFD;
    c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
  }
  return c;
}

bool BlankOrHyphen(char32_t c) {
  switch (c) {
    case ' ':
    case '\t':
    case '\n':
    case '\r':
    case '\f':
    case '\v':
    case 0xA0:
    case '-':
    case 0xAD:
    case 0x2010:
    case 0x2011:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string PdfPageText::Extract(poppler::page* page) {
  if (page == nullptr) return {};
  try {
    poppler::byte_array bytes = page->text().to_utf8();
    std::string text(bytes.begin(), bytes.end());
    // The library ends a page's text with a page break; the set adds its own between pages.
    if (!text.empty() && text.back() == '\f') text.pop_back();
    return text;
  } catch (...) {
    return {};
  }
}

std::u32string PdfPageText::Needle(std::string_view text, bool caseInsensitive) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = NextChar(text, i);
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out.push_back(caseInsensitive ? Fold(c) : c);
  }
  while (!out.empty() && out.back() == ' ')
    out.pop_back();
  return out;
}

std::vector<PdfRect> PdfPageText::Search(poppler::page* page, const std::u32string& needle,
                                         bool caseInsensitive) {
  std::vector<PdfRect> boxes;
  if (page == nullptr || needle.empty()) return boxes;
  try {
    // One layout of the page gives its words with a box per character; the matches are
    // found in the words' text, joined with a blank where the page has a gap or a new line.
    const std::vector<poppler::text_box> words = page->text_list();
    std::u32string haystack;
    std::vector<PdfRect> charBoxes;  // one per haystack character; separators are empty
    for (std::size_t w = 0; w < words.size(); ++w) {
      const poppler::text_box& word = words[w];
      const std::u32string chars = ToUtf32(word.text());
      const poppler::rectf wordBox = word.bbox();
      for (std::size_t k = 0; k < chars.size(); ++k) {
        poppler::rectf box = word.char_bbox(k);
        if (box.width() <= 0 && box.height() <= 0) box = wordBox;
        haystack.push_back(caseInsensitive ? Fold(chars[k]) : chars[k]);
        charBoxes.push_back(PdfRect{box.x(), box.y(), box.width(), box.height()});
      }
      if (w + 1 < words.size()) {
        const poppler::rectf next = words[w + 1].bbox();
        const bool newLine = next.y() >= wordBox.y() + wordBox.height() / 2 ||
                             next.y() + next.height() <= wordBox.y() + wordBox.height() / 2 ||
                             next.x() < wordBox.x();
        if (word.has_space_after() || newLine) {
          haystack.push_back(' ');
          charBoxes.push_back(PdfRect{});
        }
      }
    }
    for (std::size_t at = haystack.find(needle); at != std::u32string::npos;
         at = haystack.find(needle, at + needle.size())) {
      if (static_cast<int>(boxes.size()) >= kMaxMatchesPerPage) break;
      double left = 0, top = 0, right = 0, bottom = 0;
      bool any = false;
      for (std::size_t k = at; k < at + needle.size(); ++k) {
        const PdfRect& b = charBoxes[k];
        if (b.width <= 0 && b.height <= 0) continue;
        if (!any) {
          left = b.x, top = b.y, right = b.x + b.width, bottom = b.y + b.height;
          any = true;
        } else {
          left = std::min(left, b.x), top = std::min(top, b.y);
          right = std::max(right, b.x + b.width), bottom = std::max(bottom, b.y + b.height);
        }
      }
      if (any) boxes.push_back(PdfRect{left, top, right - left, bottom - top});
    }
  } catch (...) {
    // A page the library cannot search has no matches.
  }
  return boxes;
}

bool PdfPageText::MayContain(std::string_view pageText, const std::u32string& needle,
                             bool caseInsensitive) {
  std::u32string want;
  for (char32_t c : needle)
    if (!BlankOrHyphen(c)) want.push_back(c);
  if (want.empty()) return true;
  std::u32string text;
  text.reserve(pageText.size());
  for (std::size_t i = 0; i < pageText.size();) {
    const char32_t c = NextChar(pageText, i);
    if (!BlankOrHyphen(c)) text.push_back(caseInsensitive ? Fold(c) : c);
  }
  return text.find(want) != std::u32string::npos;
}

}  // namespace rt
