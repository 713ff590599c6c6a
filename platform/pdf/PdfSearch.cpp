// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfSearch.h"

#include "platform/pdf/PdfSearchJob.h"

namespace rt {

PdfSearch::~PdfSearch() {
  Reset();
}

void PdfSearch::Begin(std::string needle, bool caseInsensitive, std::shared_ptr<PdfSearchJob> job) {
  Reset();
  text_ = std::move(needle);
  caseInsensitive_ = caseInsensitive;
  searched_ = true;
  job_ = std::move(job);
}

bool PdfSearch::Continues(const std::string& needle, bool caseInsensitive) const {
  return searched_ && needle == text_ && caseInsensitive == caseInsensitive_;
}

std::string PdfSearch::Needle(std::string_view text) {
  const std::size_t end = text.find_last_not_of(" \t\r\n");
  return std::string(end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1));
}

void PdfSearch::Reset() {
  if (job_) job_->Cancel();
  job_.reset();
  text_.clear();
  searched_ = false;
  current_ = -1;
}

std::vector<PdfMatch> PdfSearch::Matches() const {
  return job_ ? job_->Matches() : std::vector<PdfMatch>{};
}

}  // namespace rt
