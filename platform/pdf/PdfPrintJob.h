// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a print surface needs to print a view's pages: the documents they come from, the range
// of pages of the document set (0-based, inclusive) and the options in force. The surface
// renders each page through the engine at the options' resolution.

#include <string>
#include <vector>

#include "platform/pdf/PdfPrintOptions.h"

namespace rt {

struct PdfPrintJob {
  std::vector<std::string> documents;  // names of the documents in the set, in order
  int firstPage = 0;
  int lastPage = -1;
  int copies = 1;
  PdfPrintOptions options;

  int PageCount() const { return lastPage >= firstPage ? lastPage - firstPage + 1 : 0; }
};

// What became of a print: known only once the user has answered the print dialog and the
// pages have gone to the printer.
enum class PdfPrintOutcome { Printed, Cancelled, Failed };

struct PdfPrintResult {
  PdfPrintOutcome outcome = PdfPrintOutcome::Printed;
  std::string text;  // why it failed
};

}  // namespace rt
