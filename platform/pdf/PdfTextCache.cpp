// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfTextCache.h"

namespace rt {

std::shared_ptr<const std::string> PdfTextCache::Find(int page) {
  auto it = entries_.find(page);
  if (it == entries_.end()) return nullptr;
  uses_.splice(uses_.end(), uses_, it->second.use);
  return it->second.text;
}

void PdfTextCache::Put(int page, std::shared_ptr<const std::string> text) {
  if (!text) return;
  auto it = entries_.find(page);
  if (it != entries_.end()) {
    bytes_ -= it->second.text->size();
    uses_.erase(it->second.use);
    entries_.erase(it);
  }
  if (text->size() > cap_) return;
  bytes_ += text->size();
  uses_.push_back(page);
  entries_.emplace(page, Entry{std::move(text), std::prev(uses_.end())});
  Trim();
}

void PdfTextCache::Clear() {
  entries_.clear();
  uses_.clear();
  bytes_ = 0;
}

void PdfTextCache::SetCap(std::size_t capBytes) {
  cap_ = capBytes;
  Trim();
}

void PdfTextCache::Trim() {
  while (bytes_ > cap_ && !uses_.empty()) {
    auto it = entries_.find(uses_.front());
    bytes_ -= it->second.text->size();
    entries_.erase(it);
    uses_.pop_front();
  }
}

}  // namespace rt
