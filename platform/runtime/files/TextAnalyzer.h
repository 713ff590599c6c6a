// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The word rules of the full-text index, for an index that keeps its own word lists (the
// server table's): the words of a text as the local index finds, folds and matches them, and
// the passage shown for a matched page. An index that uses these gives the same answers as
// the local one. Operations return a runtime error code (0 on success).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/files/TextIndex.h"

namespace rt {

class TextAnalyzer {
 public:
  virtual ~TextAnalyzer() = default;

  // The words of `text` in order, each folded (lower case, without diacritics) and cut to
  // kMaxWordBytes, as the index stores and a query compares them.
  virtual int Words(std::string_view text, std::vector<std::string>& words) = 0;
  // For each page text, the passage a hit shows: about 16 words around the best
  // matches of `query`, every matched word between kTextMarkOpen and kTextMarkClose.
  virtual int Snippets(const std::vector<TextTerm>& query, const std::vector<std::string>& texts,
                       std::vector<std::string>& snippets) = 0;

  static constexpr std::size_t kMaxWordBytes = 32768;
};

}  // namespace rt
