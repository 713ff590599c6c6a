// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfDocumentSet.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <new>
#include <string_view>
#include <system_error>

#include "platform/pdf/PdfCoreDocument.h"
#include "platform/pdf/PdfEngineLock.h"
#include "platform/pdf/PdfPageText.h"
#include "platform/pdf/PdfTextLayout.h"
#include "platform/runtime/files/LockedFileRegistry.h"
#include "platform/runtime/threads/ErrorCodes.h"

namespace rt {

struct PdfDocumentSet::Document {
  std::string name;
  std::uint64_t byteSize = 0;
  // The library reads the document from these bytes, which other instances share.
  std::shared_ptr<const std::vector<char>> bytes;
  // Page sizes and drawing.
  std::unique_ptr<PdfCoreDocument> core;
  // The C++ interface's view of the document, for its properties; opened on first use.
  std::unique_ptr<poppler::document> described;
  bool describedTried = false;
  int pageCount = 0;
  // The instance for text and search, made on first use (see PdfTextLayout).
  std::unique_ptr<PdfTextLayout> layout;

  // Null when the document cannot be read this way.
  poppler::document* Described() {
    if (!describedTried) {
      describedTried = true;
      try {
        std::lock_guard<std::mutex> lock(PdfEngineLock::Mutex());
        described.reset(
            poppler::document::load_from_raw_data(bytes->data(), static_cast<int>(bytes->size())));
      } catch (...) {
        described.reset();
      }
    }
    return described.get();
  }

  // Null when the document cannot be read for its text.
  PdfTextLayout* Layout() {
    if (!layout) layout = std::make_unique<PdfTextLayout>(bytes);
    return layout->Ok() ? layout.get() : nullptr;
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
  cache_.Clear();
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
    entry->bytes = std::make_shared<const std::vector<char>>(std::move(bytes));
    entry->core = std::make_unique<PdfCoreDocument>(entry->bytes);
    if (entry->core->OpenStatus() == PdfCoreDocument::Status::kDamaged) {
      return Fail(kBadFileError, "The PDF document is damaged and cannot be read", name);
    }
    if (entry->core->OpenStatus() == PdfCoreDocument::Status::kLocked) {
      return Fail(kAccessDenied, "The PDF document is password-protected", name);
    }
    entry->pageCount = entry->core->PageCount();
  } catch (const std::bad_alloc&) {
    return Fail(kFileSystemError, "Not enough memory to open the document", name);
  } catch (...) {
    return Fail(kBadFileError, "The PDF document is damaged and cannot be read", name);
  }
  if (entry->pageCount <= 0) return Fail(kBadFileError, "The PDF document has no pages", name);
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
  return document == nullptr ? PdfSize{} : document->core->PageSize(index);
}

std::vector<PdfSize> PdfDocumentSet::PageSizes() const {
  std::vector<PdfSize> sizes;
  sizes.reserve(pageCount_);
  for (int page = 0; page < pageCount_; ++page)
    sizes.push_back(PageSize(page));
  return sizes;
}

std::string PdfDocumentSet::PageText(int page) {
  int index = 0;
  Document* document = Locate(page, index);
  if (document == nullptr) return {};
  std::shared_ptr<const std::string> text = cache_.Find(page);
  if (!text) {
    text = std::make_shared<const std::string>(LayoutText(*document, index));
    cache_.Put(page, text);
  }
  return *text;
}

std::string PdfDocumentSet::ExtractPageText(int page) {
  int index = 0;
  Document* document = Locate(page, index);
  if (document == nullptr) return {};
  if (std::shared_ptr<const std::string> kept = cache_.Find(page)) return *kept;
  return LayoutText(*document, index);
}

std::string PdfDocumentSet::LayoutText(Document& document, int index) {
  try {
    PdfTextLayout* layout = document.Layout();
    return layout ? layout->Text(index) : std::string();
  } catch (...) {
    return {};
  }
}

std::vector<std::shared_ptr<const std::string>> PdfDocumentSet::KeptTexts() {
  std::vector<std::shared_ptr<const std::string>> texts(pageCount_);
  for (int page = 0; page < pageCount_; ++page)
    texts[page] = cache_.Find(page);
  return texts;
}

std::vector<std::shared_ptr<const std::string>> PdfDocumentSet::KeptTextsForSearch() {
  return KeptTexts();
}

std::vector<std::shared_ptr<const std::string>> PdfDocumentSet::PageTexts() {
  std::vector<std::shared_ptr<const std::string>> texts = KeptTexts();
  std::vector<int> missing;
  for (int page = 0; page < pageCount_; ++page)
    if (!texts[page]) missing.push_back(page);
  const int threads = PdfParallelPages::Threads(static_cast<int>(missing.size()));
  if (threads > 1) {
    const std::atomic<bool> never{false};
    PdfParallelPages(Sources()).Run(
        missing, threads,
        [&](PdfTextLayout* document, int page, std::size_t slot) {
          texts[missing[slot]] =
              std::make_shared<const std::string>(document ? document->Text(page) : std::string());
        },
        never);
  }
  for (int page : missing) {
    if (!texts[page]) texts[page] = std::make_shared<const std::string>(PageText(page));
    cache_.Put(page, texts[page]);
  }
  return texts;
}

std::string PdfDocumentSet::DocumentText() {
  const std::vector<std::shared_ptr<const std::string>> texts = PageTexts();
  std::size_t length = texts.empty() ? 0 : texts.size() - 1;
  for (const auto& text : texts)
    length += text->size();
  std::string joined;
  joined.reserve(length);
  for (std::size_t page = 0; page < texts.size(); ++page) {
    if (page > 0) joined += '\f';
    joined += *texts[page];
  }
  return joined;
}

std::size_t PdfDocumentSet::DocumentTextLength() {
  const std::vector<std::shared_ptr<const std::string>> texts = PageTexts();
  std::size_t length = texts.empty() ? 0 : texts.size() - 1;
  for (const auto& text : texts)
    length += text->size();
  return length;
}

std::vector<PdfSource> PdfDocumentSet::Sources() const {
  std::vector<PdfSource> sources;
  for (std::size_t d = 0; d < documents_.size(); ++d)
    sources.push_back(PdfSource{documents_[d]->bytes, firstPages_[d], documents_[d]->pageCount});
  return sources;
}

std::vector<PdfRect> PdfDocumentSet::Search(int page, const std::string& text,
                                            bool caseInsensitive) {
  int index = 0;
  Document* document = Locate(page, index);
  const std::u32string needle = PdfPageText::Needle(text, caseInsensitive);
  if (document == nullptr || needle.empty()) return {};
  try {
    PdfTextLayout* layout = document->Layout();
    if (layout == nullptr) return {};
    std::vector<PdfRect> boxes = layout->Search(index, needle, caseInsensitive);
    // The page's text comes with the same layout: keep it for later text requests.
    if (!cache_.Find(page))
      cache_.Put(page, std::make_shared<const std::string>(layout->Text(index)));
    return boxes;
  } catch (...) {
    return {};
  }
}

PdfError PdfDocumentSet::RenderPage(int page, double pixelsPerPoint, PdfImage& image) {
  image = PdfImage{};
  int index = 0;
  Document* document = Locate(page, index);
  if (document == nullptr) return Fail(kNoRecordError, "No such page", std::to_string(page + 1));
  if (!std::isfinite(pixelsPerPoint) || pixelsPerPoint <= 0) {
    return Fail(kBadNameError, "Invalid rendering scale", {});
  }
  return document->core->Render(index, pixelsPerPoint, document->name, image);
}

std::vector<PdfProperty> PdfDocumentSet::Properties() const {
  std::vector<PdfProperty> properties;
  for (const auto& entry : documents_) {
    const poppler::document* described = entry->Described();
    if (described == nullptr) {
      properties.push_back(PdfProperty{"File", entry->name});
      continue;
    }
    const poppler::document& d = *described;
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
      if (const PdfSize size = entry->core->PageSize(0); size.width > 0 || size.height > 0) {
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
