// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The word rules of the local full-text index (StoreTextIndex.h) for an index kept elsewhere:
// the same tokenizer, folding and passages, run on a private in-memory database, so that an
// index on a server answers a search exactly as a local table's index does. One thread at a
// time.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/files/TextAnalyzer.h"

struct sqlite3;
struct Fts5Tokenizer;
struct fts5_tokenizer;

namespace rt {

class StoreTextAnalyzer : public TextAnalyzer {
 public:
  // 90 when the database library has no full-text module.
  static int Make(std::unique_ptr<TextAnalyzer>& analyzer);
  ~StoreTextAnalyzer() override;
  StoreTextAnalyzer(const StoreTextAnalyzer&) = delete;
  StoreTextAnalyzer& operator=(const StoreTextAnalyzer&) = delete;

  int Words(std::string_view text, std::vector<std::string>& words) override;
  int Snippets(const std::vector<TextTerm>& query, const std::vector<std::string>& texts,
               std::vector<std::string>& snippets) override;

 private:
  StoreTextAnalyzer() = default;
  int Fail(int rc, std::string_view what);

  sqlite3* db_ = nullptr;
  std::unique_ptr<fts5_tokenizer> api_;
  Fts5Tokenizer* tokenizer_ = nullptr;
};

}  // namespace rt
