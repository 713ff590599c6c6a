// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The extracted text of a document set's pages, kept once made so that text lengths, page
// and document text and searches reuse it. Capped in bytes of text: putting a page drops the
// least recently used pages until the texts fit (a page larger than the cap is not kept).
// Not thread-safe: the document set's owner serialises calls.

#include <cstddef>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

namespace rt {

class PdfTextCache {
 public:
  static constexpr std::size_t kDefaultCapBytes = std::size_t{64} << 20;

  explicit PdfTextCache(std::size_t capBytes = kDefaultCapBytes) : cap_(capBytes) {}

  // The page's text when kept (it becomes the most recently used); null otherwise.
  std::shared_ptr<const std::string> Find(int page);
  void Put(int page, std::shared_ptr<const std::string> text);
  void Clear();
  // Drops pages until the kept texts fit the new cap.
  void SetCap(std::size_t capBytes);

  std::size_t Cap() const { return cap_; }
  std::size_t Bytes() const { return bytes_; }
  std::size_t Pages() const { return entries_.size(); }

 private:
  struct Entry {
    std::shared_ptr<const std::string> text;
    std::list<int>::iterator use;
  };
  void Trim();

  std::size_t cap_;
  std::size_t bytes_ = 0;
  std::list<int> uses_;  // least recently used first
  std::unordered_map<int, Entry> entries_;
};

}  // namespace rt
