#include "platform/pdf/PdfDocumentSet.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page-renderer.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <locale>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>

#include "platform/pdf/PdfEngineLock.h"
#include "platform/runtime/files/LockedFileRegistry.h"
#include "platform/runtime/threads/ErrorCodes.h"

namespace rt {

struct PdfDocumentSet::Document {
  std::string name;
  std::uint64_t byteSize = 0;
  std::unique_ptr<poppler::document> document;
  int pageCount = 0;
  std::vector<std::unique_ptr<poppler::page>> pages;  // made on first use
  std::vector<std::optional<std::string>> texts;      // extracted on first use

  poppler::page* Page(int index) {
    if (!pages[index]) pages[index].reset(document->create_page(index));
    return pages[index].get();
  }
};

namespace {

// The library's header search window: the header may sit after up to 1024 bytes of junk.
constexpr std::size_t kMarkerWindow = 1024;

PdfError Fail(int code, std::string_view reason, const std::string& name) {
  std::string text(reason);
  if (!name.empty()) text += ": " + name;
  return PdfError{code, std::move(text)};
}

std::string ToUtf8(const poppler::ustring& text) {
  poppler::byte_array bytes = text.to_utf8();
  return std::string(bytes.begin(), bytes.end());
}

std::string FormatDate(time_t value) {
  if (value <= 0) return {};
  std::tm parts{};
  if (gmtime_r(&value, &parts) == nullptr) return {};
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
  return text;
}

std::string FormatNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string result = text;
  if (result.size() > 2 && result.compare(result.size() - 2, 2, ".0") == 0)
    result.resize(result.size() - 2);
  return result;
}

bool Contains(std::string_view haystack, std::string_view needle) {
  return haystack.find(needle) != std::string_view::npos;
}

bool Truncated(std::string_view file) {
  const std::size_t end = file.rfind("%%EOF");
  if (end == std::string_view::npos) return true;
  const std::string_view after = file.substr(end + 5);
  for (std::string_view keyword : {"endobj", " obj", "stream", "trailer", "startxref"})
    if (Contains(after, keyword)) return true;
  return false;
}

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

// UTF-8 to code points, folded when asked, blank runs made one blank.
std::u32string Needle(const std::string& text, bool fold) {
  std::u32string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    char32_t c = extra < 0 ? 0xFFFD : extra == 0 ? lead : lead & (0x7F >> (extra + 1));
    ++i;
    for (int k = 0; k < extra; ++k, ++i) {
      if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
        c = 0xFFFD;
        break;
      }
      c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
    }
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out.push_back(fold ? Fold(c) : c);
  }
  while (!out.empty() && out.back() == ' ')
    out.pop_back();
  return out;
}

PdfSize DisplayedSize(const poppler::page& page) {
  poppler::rectf box = page.page_rect(poppler::crop_box);
  PdfSize size{std::abs(box.width()), std::abs(box.height())};
  auto orientation = page.orientation();
  if (orientation == poppler::page::landscape || orientation == poppler::page::seascape) {
    std::swap(size.width, size.height);
  }
  return size;
}

}  // namespace

PdfDocumentSet::PdfDocumentSet() = default;
PdfDocumentSet::~PdfDocumentSet() = default;

PdfError PdfDocumentSet::LoadFile(const std::string& fileName) {
  Clear();
  std::vector<char> bytes;
  PdfError error = ReadFile(fileName, bytes);
  if (!error.Ok()) return error;
  return Add(std::move(bytes), fileName, true);
}

PdfError PdfDocumentSet::AppendFile(const std::string& fileName) {
  std::vector<char> bytes;
  PdfError error = ReadFile(fileName, bytes);
  if (!error.Ok()) return error;
  return Add(std::move(bytes), fileName, false);
}

PdfError PdfDocumentSet::LoadBytes(std::vector<char> bytes, const std::string& name) {
  Clear();
  return Add(std::move(bytes), name, true);
}

PdfError PdfDocumentSet::AppendBytes(std::vector<char> bytes, const std::string& name) {
  return Add(std::move(bytes), name, false);
}

void PdfDocumentSet::Clear() {
  documents_.clear();
  Reindex();
}

PdfError PdfDocumentSet::ReadFile(const std::string& fileName, std::vector<char>& bytes) const {
  namespace fs = std::filesystem;
  if (fileName.empty()) return Fail(kBadNameError, "No file name given", {});
  std::error_code ec;
  const fs::path path(fileName);
  // Reading a table's file would end by closing it, which drops this process's locks on it.
  if (LockedFileRegistry::Holds(fileName)) {
    return PdfError{kAccessDenied, LockedFileRegistry::RefusalText(fileName)};
  }
  const fs::file_status status = fs::status(path, ec);
  if (ec || !fs::exists(status)) {
    if (ec == std::errc::permission_denied) {
      return Fail(kAccessDenied, "The file cannot be read (access denied)", fileName);
    }
    return Fail(kNoFileError, "File not found", fileName);
  }
  if (fs::is_directory(status)) return Fail(kBadNameError, "Not a file but a folder", fileName);
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec) return Fail(kAccessDenied, "The file cannot be read", fileName);
  if (size == 0) return Fail(kBadFileError, "The file is empty", fileName);
  if (size > kMaxDocumentBytes) {
    return Fail(kFileSystemError, "The file is too large to open", fileName);
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return Fail(kAccessDenied, "The file cannot be read (access denied)", fileName);
  try {
    bytes.resize(static_cast<std::size_t>(size));
  } catch (const std::bad_alloc&) {
    return Fail(kFileSystemError, "Not enough memory to open the file", fileName);
  }
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.gcount() != static_cast<std::streamsize>(bytes.size())) {
    bytes.clear();
    return Fail(kFileSystemError, "The file could not be read completely", fileName);
  }
  return {};
}

PdfError PdfDocumentSet::Add(std::vector<char> bytes, const std::string& name, bool replace) {
  if (replace) Clear();
  if (bytes.empty()) return Fail(kBadFileError, "The document is empty", name);
  if (bytes.size() > kMaxDocumentBytes) {
    return Fail(kFileSystemError, "The document is too large to open", name);
  }
  const std::string_view view(bytes.data(), bytes.size());
  if (!Contains(view.substr(0, kMarkerWindow), "%PDF-")) {
    return Fail(kBadFileError, "Not a PDF document", name);
  }
  // The library would rebuild a cut-off file from what is left and show part of it as if it
  // were whole; refuse it instead. A complete file ends its last revision with an end-of-file
  // marker; whatever follows that marker (padding, mail signatures...) is ignored, unless it
  // holds objects: then a later revision was cut off.
  if (Truncated(view)) {
    return Fail(kBadFileError, "The PDF document is incomplete (truncated)", name);
  }

  PdfEngineLock::Prepare();
  auto entry = std::make_unique<Document>();
  entry->name = name;
  entry->byteSize = bytes.size();
  try {
    std::lock_guard<std::mutex> lock(PdfEngineLock::Mutex());
    poppler::byte_array data = std::move(bytes);
    entry->document.reset(poppler::document::load_from_data(&data));
    if (!entry->document) {
      return Fail(kBadFileError, "The PDF document is damaged and cannot be read", name);
    }
    if (entry->document->is_locked()) {
      return Fail(kAccessDenied, "The PDF document is password-protected", name);
    }
    entry->pageCount = entry->document->pages();
  } catch (const std::bad_alloc&) {
    return Fail(kFileSystemError, "Not enough memory to open the document", name);
  } catch (...) {
    return Fail(kBadFileError, "The PDF document is damaged and cannot be read", name);
  }
  if (entry->pageCount <= 0) return Fail(kBadFileError, "The PDF document has no pages", name);
  entry->pages.resize(entry->pageCount);
  entry->texts.resize(entry->pageCount);
  documents_.push_back(std::move(entry));
  Reindex();
  return {};
}

void PdfDocumentSet::Reindex() {
  firstPages_.clear();
  pageCount_ = 0;
  for (const auto& document : documents_) {
    firstPages_.push_back(pageCount_);
    pageCount_ += document->pageCount;
  }
}

PdfDocumentSet::Document* PdfDocumentSet::Locate(int page, int& indexInDocument) const {
  if (page < 0 || page >= pageCount_) return nullptr;
  auto it = std::upper_bound(firstPages_.begin(), firstPages_.end(), page);
  const std::size_t document = static_cast<std::size_t>(it - firstPages_.begin()) - 1;
  indexInDocument = page - firstPages_[document];
  return documents_[document].get();
}

std::vector<std::string> PdfDocumentSet::DocumentNames() const {
  std::vector<std::string> names;
  for (const auto& document : documents_)
    names.push_back(document->name);
  return names;
}

PdfSize PdfDocumentSet::PageSize(int page) const {
  int index = 0;
  Document* document = Locate(page, index);
  if (document == nullptr) return {};
  try {
    poppler::page* p = document->Page(index);
    return p ? DisplayedSize(*p) : PdfSize{};
  } catch (...) {
    return {};
  }
}

std::vector<PdfSize> PdfDocumentSet::PageSizes() const {
  std::vector<PdfSize> sizes;
  sizes.reserve(pageCount_);
  for (int page = 0; page < pageCount_; ++page)
    sizes.push_back(PageSize(page));
  return sizes;
}

const std::string& PdfDocumentSet::PageText(int page) {
  static const std::string kNone;
  int index = 0;
  Document* document = Locate(page, index);
  if (document == nullptr) return kNone;
  std::optional<std::string>& text = document->texts[index];
  if (!text) {
    try {
      poppler::page* p = document->Page(index);
      text = p ? ToUtf8(p->text()) : std::string();
      // The library ends a page's text with a page break; the set adds its own between pages.
      if (!text->empty() && text->back() == '\f') text->pop_back();
    } catch (...) {
      text = std::string();
    }
  }
  return *text;
}

std::string PdfDocumentSet::ExtractPageText(int page) {
  int index = 0;
  Document* document = Locate(page, index);
  if (document == nullptr) return {};
  if (document->texts[index]) return *document->texts[index];
  try {
    std::unique_ptr<poppler::page> p(
        document->pages[index] ? nullptr : document->document->create_page(index));
    poppler::page* shown = p ? p.get() : document->pages[index].get();
    std::string text = shown ? ToUtf8(shown->text()) : std::string();
    if (!text.empty() && text.back() == '\f') text.pop_back();
    return text;
  } catch (...) {
    return {};
  }
}

std::string PdfDocumentSet::DocumentText() {
  std::string text;
  text.reserve(DocumentTextLength());
  for (int page = 0; page < pageCount_; ++page) {
    if (page > 0) text += '\f';
    text += PageText(page);
  }
  return text;
}

std::size_t PdfDocumentSet::DocumentTextLength() {
  std::size_t length = pageCount_ > 0 ? static_cast<std::size_t>(pageCount_ - 1) : 0;
  for (int page = 0; page < pageCount_; ++page)
    length += PageText(page).size();
  return length;
}

std::vector<PdfRect> PdfDocumentSet::Search(int page, const std::string& text,
                                            bool caseInsensitive) {
  std::vector<PdfRect> boxes;
  int index = 0;
  Document* document = Locate(page, index);
  const std::u32string needle = Needle(text, caseInsensitive);
  if (document == nullptr || needle.empty()) return boxes;
  try {
    poppler::page* p = document->Page(index);
    if (p == nullptr) return boxes;
    // One layout of the page gives its words with a box per character; the matches are
    // found in the words' text, joined with a blank where the page has a gap or a new line.
    const std::vector<poppler::text_box> words = p->text_list();
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

PdfError PdfDocumentSet::RenderPage(int page, double pixelsPerPoint, PdfImage& image) {
  image = PdfImage{};
  int index = 0;
  Document* document = Locate(page, index);
  if (document == nullptr) return Fail(kNoRecordError, "No such page", std::to_string(page + 1));
  if (!std::isfinite(pixelsPerPoint) || pixelsPerPoint <= 0) {
    return Fail(kBadNameError, "Invalid rendering scale", {});
  }
  PdfEngineLock::Prepare();
  try {
    poppler::page* p = document->Page(index);
    if (p == nullptr) return Fail(kBadFileError, "The page cannot be read", document->name);
    const PdfSize size = DisplayedSize(*p);
    const double width = std::ceil(size.width * pixelsPerPoint);
    const double height = std::ceil(size.height * pixelsPerPoint);
    if (width * height > static_cast<double>(kMaxRenderPixels) || width > 1e6 || height > 1e6) {
      return Fail(kFileSystemError, "The page is too large to render at this zoom", {});
    }
    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_argb32);
    renderer.set_render_hint(poppler::page_renderer::antialiasing, true);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing, true);
    const double dpi = 72.0 * pixelsPerPoint;
    poppler::image rendered = renderer.render_page(p, dpi, dpi);
    if (!rendered.is_valid() || rendered.format() != poppler::image::format_argb32) {
      return Fail(kBadFileError, "The page could not be rendered", document->name);
    }
    image.width = rendered.width();
    image.height = rendered.height();
    image.stride = rendered.bytes_per_row();
    const auto* data = reinterpret_cast<const std::uint8_t*>(rendered.const_data());
    image.bytes.assign(data, data + static_cast<std::size_t>(image.stride) * image.height);
  } catch (const std::bad_alloc&) {
    image = PdfImage{};
    return Fail(kFileSystemError, "Not enough memory to render the page", {});
  } catch (...) {
    image = PdfImage{};
    return Fail(kBadFileError, "The page could not be rendered", document->name);
  }
  return {};
}

std::vector<PdfProperty> PdfDocumentSet::Properties() const {
  std::vector<PdfProperty> properties;
  for (const auto& entry : documents_) {
    const poppler::document& d = *entry->document;
    auto add = [&](const char* label, std::string value) {
      properties.push_back(PdfProperty{label, std::move(value)});
    };
    try {
      add("File", entry->name);
      add("Title", ToUtf8(d.get_title()));
      add("Author", ToUtf8(d.get_author()));
      add("Subject", ToUtf8(d.get_subject()));
      add("Keywords", ToUtf8(d.get_keywords()));
      add("Creator", ToUtf8(d.get_creator()));
      add("Producer", ToUtf8(d.get_producer()));
      add("Created", FormatDate(d.get_creation_date_t()));
      add("Changed", FormatDate(d.get_modification_date_t()));
      int major = 0;
      int minor = 0;
      d.get_pdf_version(&major, &minor);
      add("PDF version", std::to_string(major) + "." + std::to_string(minor));
      add("Pages", std::to_string(entry->pageCount));
      std::string pageSize;
      if (poppler::page* first = entry->Page(0)) {
        const PdfSize size = DisplayedSize(*first);
        pageSize = FormatNumber(size.width) + " x " + FormatNumber(size.height) + " pt (" +
                   FormatNumber(size.width * 25.4 / 72) + " x " +
                   FormatNumber(size.height * 25.4 / 72) + " mm)";
      }
      add("Page size", pageSize);
      add("File size", std::to_string(entry->byteSize) + " bytes");
      add("Encrypted", d.is_encrypted() ? "Yes" : "No");
      add("Linearized", d.is_linearized() ? "Yes" : "No");
    } catch (...) {
      // Whatever was read before the failure is still shown.
    }
  }
  return properties;
}

}  // namespace rt
