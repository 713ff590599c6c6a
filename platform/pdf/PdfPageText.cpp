// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfPageText.h"

#include <algorithm>
#include <locale>

namespace rt {
namespace {

// Unicode case folding through the C library's UTF-8 locale (plain ASCII folding where that
// locale is missing).
char32_t FoldChar(char32_t c) {
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

char32_t PdfPageText::Fold(char32_t c) {
  return FoldChar(c);
}

std::u32string PdfPageText::Needle(std::string_view text, bool caseInsensitive) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = NextChar(text, i);
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out.push_back(caseInsensitive ? FoldChar(c) : c);
  }
  while (!out.empty() && out.back() == ' ')
    out.pop_back();
  return out;
}

std::vector<PdfRect> PdfPageText::Matches(const std::u32string& haystack,
                                          const std::vector<PdfRect>& charBoxes,
                                          const std::u32string& needle) {
  std::vector<PdfRect> boxes;
  if (needle.empty() || charBoxes.size() < haystack.size()) return boxes;
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
    if (!BlankOrHyphen(c)) text.push_back(caseInsensitive ? FoldChar(c) : c);
  }
  return text.find(want) != std::u32string::npos;
}

}  // namespace rt
