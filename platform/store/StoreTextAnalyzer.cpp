// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/StoreTextAnalyzer.h"

#include <sqlite3.h>

#include <new>

#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/store/StoreStatement.h"
#include "platform/store/StoreTextIndex.h"

namespace rt {

namespace {

// The tokenizer and its options as the local index declares them (StoreTextIndex.cpp).
constexpr const char* kTokenizer = "unicode61";
const char* const kTokenizerOptions[] = {"remove_diacritics", "2"};
constexpr const char* kPassageTable =
    "CREATE VIRTUAL TABLE passages USING fts5(body, tokenize='unicode61 remove_diacritics 2')";

fts5_api* Fts5Of(sqlite3* db) {
  fts5_api* api = nullptr;
  StoreStatement s;
  if (s.Prepare(db, "SELECT fts5(?1)") != SQLITE_OK) return nullptr;
  sqlite3_bind_pointer(s.Get(), 1, static_cast<void*>(&api), "fts5_api_ptr", nullptr);
  s.Step();
  return api;
}

}  // namespace

StoreTextAnalyzer::~StoreTextAnalyzer() {
  if (tokenizer_ && api_) api_->xDelete(tokenizer_);
  sqlite3_close_v2(db_);
}

int StoreTextAnalyzer::Fail(int rc, std::string_view what) {
  SetError(kDriverError, {}, std::to_string(rc),
           std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc)));
  return kDriverError;
}

int StoreTextAnalyzer::Make(std::unique_ptr<TextAnalyzer>& analyzer) {
  analyzer.reset();
  std::unique_ptr<StoreTextAnalyzer> made(new (std::nothrow) StoreTextAnalyzer());
  if (!made) {
    SetError(kFileSystemError);
    return kFileSystemError;
  }
  int rc =
      sqlite3_open_v2(":memory:", &made->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) return made->Fail(rc, "text rules");
  fts5_api* fts5 = Fts5Of(made->db_);
  if (!fts5) return made->Fail(SQLITE_ERROR, "text rules: no full-text module");
  made->api_ = std::make_unique<fts5_tokenizer>();
  void* context = nullptr;
  rc = fts5->xFindTokenizer(fts5, kTokenizer, &context, made->api_.get());
  if (rc == SQLITE_OK) {
    rc = made->api_->xCreate(context, const_cast<const char**>(kTokenizerOptions), 2,
                             &made->tokenizer_);
  }
  if (rc != SQLITE_OK) return made->Fail(rc, "text rules: tokenizer");
  rc = sqlite3_exec(made->db_, kPassageTable, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return made->Fail(rc, "text rules");
  analyzer = std::move(made);
  return kNoError;
}

int StoreTextAnalyzer::Words(std::string_view text, std::vector<std::string>& words) {
  words.clear();
  auto add = [](void* context, int flags, const char* token, int size, int, int) {
    if (flags & FTS5_TOKEN_COLOCATED) return SQLITE_OK;
    auto* out = static_cast<std::vector<std::string>*>(context);
    const auto n = std::min(static_cast<std::size_t>(size), kMaxWordBytes);
    try {
      out->emplace_back(token, n);
    } catch (const std::bad_alloc&) {
      return SQLITE_NOMEM;
    }
    return SQLITE_OK;
  };
  // The tokenizer takes an int length: a longer text is refused, never cut.
  if (text.size() > static_cast<std::size_t>(INT32_MAX / 2)) {
    SetError(kFileSystemError, {}, "0",
             "a page text of " + std::to_string(text.size()) + " bytes is too long to index");
    return kFileSystemError;
  }
  const int rc =
      api_->xTokenize(tokenizer_, &words, FTS5_TOKENIZE_DOCUMENT, text.empty() ? "" : text.data(),
                      static_cast<int>(text.size()), add);
  if (rc != SQLITE_OK) {
    words.clear();
    return Fail(rc, "find the words of a page");
  }
  return kNoError;
}

int StoreTextAnalyzer::Snippets(const std::vector<TextTerm>& query,
                                const std::vector<std::string>& texts,
                                std::vector<std::string>& snippets) {
  snippets.assign(texts.size(), std::string());
  const std::string match = StoreTextIndex::MatchExpression(query);
  if (match.empty() || texts.empty()) return kNoError;
  // The pages go into the private table as rows 1..n and the local index's passage function
  // picks each one's passage; a rollback empties the table again.
  int rc = sqlite3_exec(db_, "BEGIN", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) return Fail(rc, "passages");
  const int result = [&] {
    StoreStatement insert;
    rc = insert.Prepare(db_, "INSERT INTO passages (rowid, body) VALUES (?1, ?2)");
    if (rc != SQLITE_OK) return Fail(rc, "passages");
    for (std::size_t i = 0; i < texts.size(); ++i) {
      insert.Reset();
      insert.Bind(1, static_cast<std::int64_t>(i + 1));
      insert.Bind(2, std::string_view(texts[i]));
      if ((rc = insert.Step()) != SQLITE_DONE) return Fail(rc, "passages");
    }
    StoreStatement s;
    rc = s.Prepare(db_,
                   "SELECT rowid, snippet(passages, 0, char(2), char(3), '...', 16) FROM passages "
                   "WHERE passages MATCH ?1");
    if (rc != SQLITE_OK) return Fail(rc, "passages");
    s.Bind(1, std::string_view(match));
    while ((rc = s.Step()) == SQLITE_ROW) {
      const std::int64_t row = s.Int(0);
      if (row >= 1 && row <= static_cast<std::int64_t>(texts.size()))
        snippets[static_cast<std::size_t>(row - 1)] = std::string(s.Text(1));
    }
    return rc == SQLITE_DONE ? kNoError : Fail(rc, "passages");
  }();
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return result;
}

}  // namespace rt
