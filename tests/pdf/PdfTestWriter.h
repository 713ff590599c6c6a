// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A tiny writer of PDF files for tests and benchmarks: pages of text lines in a standard
// font, an optional document information dictionary, an optional encryption dictionary
// whose password nobody knows, and padding to an exact file size. Offsets in the
// cross-reference table are computed as the file is written, so the output is well formed.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace pdftest {

struct TestPage {
  std::vector<std::string> lines;  // UTF-8; characters outside the standard encoding become '?'
  double width = 612;              // points
  double height = 792;
  double cropHeight = 0;  // points from the top a crop box keeps; 0: no crop box
};

struct TestInfo {
  std::string title;
  std::string author;
  std::string subject;
  std::string keywords;
  std::string creator;
  std::string producer;
  std::string creationDate;  // PDF date text, e.g. "D:20240102030405Z"
  std::string modDate;
};

struct TestOptions {
  TestInfo info;
  bool withInfo = false;
  bool encrypted = false;     // standard security handler with an unknown user password
  std::size_t exactSize = 0;  // pad the file to this many bytes (0: no padding)
  double fontSize = 12;
  double lineHeight = 14;
};

class PdfTestWriter {
 public:
  static std::string Build(const std::vector<TestPage>& pages, const TestOptions& options = {}) {
    std::string file = BuildOnce(pages, options, 0);
    if (options.exactSize <= file.size()) return file;
    // Padding moves later offsets, which may change the length of the final offset number:
    // adjust until the size is exact (a few rounds at most).
    std::size_t padding = 0;
    for (int round = 0; round < 8 && file.size() != options.exactSize; ++round) {
      padding = padding + options.exactSize - file.size();
      file = BuildOnce(pages, options, padding);
    }
    return file;
  }

  // Options for a document locked with a password nobody knows.
  static TestOptions Encrypted() {
    TestOptions options;
    options.encrypted = true;
    return options;
  }

  // One page per entry, each holding the given text as its only line.
  static std::string Simple(const std::vector<std::string>& pageTexts) {
    std::vector<TestPage> pages;
    for (const auto& text : pageTexts)
      pages.push_back(TestPage{{text}});
    return Build(pages);
  }

  // Many pages of numbered lines, for benchmarks and large-document tests.
  static std::string Numbered(int pageCount, int linesPerPage) {
    std::vector<TestPage> pages;
    pages.reserve(pageCount);
    for (int p = 1; p <= pageCount; ++p) {
      TestPage page;
      for (int l = 1; l <= linesPerPage; ++l) {
        page.lines.push_back("Page " + std::to_string(p) + " line " + std::to_string(l) +
                             " the quick brown fox jumps over the lazy dog");
      }
      pages.push_back(std::move(page));
    }
    return Build(pages);
  }

 private:
  // Encodes UTF-8 text as a literal string in the font's single-byte encoding.
  static std::string Literal(std::string_view utf8) {
    std::string out = "(";
    for (std::size_t i = 0; i < utf8.size();) {
      unsigned char c = static_cast<unsigned char>(utf8[i]);
      std::uint32_t code = c;
      std::size_t len = 1;
      if (c >= 0xF0) {
        len = 4;
      } else if (c >= 0xE0) {
        len = 3;
      } else if (c >= 0xC0) {
        len = 2;
      }
      if (len > 1 && i + len <= utf8.size()) {
        code = c & (0xFF >> (len + 1));
        for (std::size_t k = 1; k < len; ++k)
          code = (code << 6) | (utf8[i + k] & 0x3F);
      }
      i += len;
      unsigned byte = '?';
      if (code < 0x80) {
        byte = code;
      } else if (code >= 0xA0 && code <= 0xFF) {
        byte = code;  // Latin-1 and the standard encoding agree here
      } else if (code == 0x20AC) {
        byte = 0x80;  // euro sign
      }
      if (byte == '(' || byte == ')' || byte == '\\') {
        out += '\\';
        out += static_cast<char>(byte);
      } else if (byte >= 0x80) {
        char octal[8];
        std::snprintf(octal, sizeof octal, "\\%03o", byte);
        out += octal;
      } else {
        out += static_cast<char>(byte);
      }
    }
    return out + ")";
  }

  static std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
  }

  static std::string BuildOnce(const std::vector<TestPage>& pages, const TestOptions& options,
                               std::size_t padding) {
    std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    if (padding == 1) {
      out += '\n';
    } else if (padding > 1) {
      out += '%';
      out.append(padding - 2, 'x');
      out += '\n';
    }
    std::vector<std::size_t> offsets;  // offsets[n - 1] is the offset of object n
    auto begin = [&](int number) {
      if (offsets.size() < static_cast<std::size_t>(number)) offsets.resize(number);
      offsets[number - 1] = out.size();
      out += std::to_string(number) + " 0 obj\n";
    };
    const int pageCount = static_cast<int>(pages.size());
    const int firstPageObject = 4;
    const int infoObject = firstPageObject + 2 * pageCount;
    const int encryptObject = infoObject + 1;

    begin(1);
    out += "<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    begin(2);
    out += "<< /Type /Pages /Count " + std::to_string(pageCount) + " /Kids [";
    for (int p = 0; p < pageCount; ++p) {
      out += std::to_string(firstPageObject + 2 * p) + " 0 R ";
    }
    out += "] >>\nendobj\n";
    begin(3);
    out +=
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>\n"
        "endobj\n";
    for (int p = 0; p < pageCount; ++p) {
      const TestPage& page = pages[p];
      std::string content = "BT\n/F1 " + Number(options.fontSize) + " Tf\n" +
                            Number(options.lineHeight) + " TL\n72 " + Number(page.height - 72) +
                            " Td\n";
      for (const auto& line : page.lines)
        content += Literal(line) + " Tj T*\n";
      content += "ET\n";
      begin(firstPageObject + 2 * p);
      const std::string crop = page.cropHeight > 0
                                   ? " /CropBox [0 " + Number(page.height - page.cropHeight) + " " +
                                         Number(page.width) + " " + Number(page.height) + "]"
                                   : std::string();
      out += "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + Number(page.width) + " " +
             Number(page.height) + "]" + crop +
             " /Resources << /Font << /F1 3 0 R >> >> /Contents " +
             std::to_string(firstPageObject + 2 * p + 1) + " 0 R >>\nendobj\n";
      begin(firstPageObject + 2 * p + 1);
      out += "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
             "endstream\nendobj\n";
    }
    int objectCount = infoObject - 1;
    if (options.withInfo) {
      begin(infoObject);
      out += "<<";
      auto entry = [&](const char* key, const std::string& value) {
        if (!value.empty()) out += std::string(" /") + key + " " + Literal(value);
      };
      entry("Title", options.info.title);
      entry("Author", options.info.author);
      entry("Subject", options.info.subject);
      entry("Keywords", options.info.keywords);
      entry("Creator", options.info.creator);
      entry("Producer", options.info.producer);
      entry("CreationDate", options.info.creationDate);
      entry("ModDate", options.info.modDate);
      out += " >>\nendobj\n";
      objectCount = infoObject;
    }
    if (options.encrypted) {
      begin(encryptObject);
      // Owner and user keys that match no password: the document stays locked.
      out += "<< /Filter /Standard /V 1 /R 2 /P -4 /O <" + std::string(64, 'A') + "> /U <" +
             std::string(64, 'B') + "> >>\nendobj\n";
      objectCount = encryptObject;
    }
    const std::size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objectCount + 1) + "\n0000000000 65535 f \n";
    for (int n = 1; n <= objectCount; ++n) {
      char entry[48];
      std::size_t offset = n <= static_cast<int>(offsets.size()) ? offsets[n - 1] : 0;
      if (offset == 0) {
        std::snprintf(entry, sizeof entry, "0000000000 65535 f \n");
      } else {
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
      }
      out += entry;
    }
    out += "trailer\n<< /Size " + std::to_string(objectCount + 1) + " /Root 1 0 R";
    if (options.withInfo) out += " /Info " + std::to_string(infoObject) + " 0 R";
    if (options.encrypted) {
      out += " /Encrypt " + std::to_string(encryptObject) + " 0 R";
      out += " /ID [<00112233445566778899AABBCCDDEEFF> <00112233445566778899AABBCCDDEEFF>]";
    }
    out += " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
  }
};

}  // namespace pdftest
