// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The full-text index of a STORE table, kept in the table's own file (TextIndex.h says what
// it offers). It has a connection of its own to the file, so it runs on any one thread beside
// the program's File objects on the same table.
//
// Storage: "text_docs" has one row per indexed record (record id, the version indexed, state,
// pages done); "text_pages" holds the page texts (record id, version, page) and "text_fts" is
// the FTS5 index over them, kept in step by triggers. Pages and their record's count of pages
// done are written in one transaction, so an interrupted indexing resumes at the page after
// the last one committed: no page is indexed twice and none is skipped. The work list is the
// records whose change counter ("_ver", raised by every write of the driver, in the write's
// own transaction) differs from the version indexed.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/files/TextIndex.h"

struct sqlite3;

namespace rt {

class StoreStatement;

class StoreTextIndex : public TextIndex {
 public:
  // Opens the index of the table in `tableFile` (made on first use) over BLOB number `blob`.
  // The table must exist: 2 when it does not (yet), 47 when the file is no STORE table.
  static int Open(const std::string& tableFile, int blob, std::unique_ptr<TextIndex>& index);
  ~StoreTextIndex() override;
  StoreTextIndex(const StoreTextIndex&) = delete;
  StoreTextIndex& operator=(const StoreTextIndex&) = delete;

  int RemoveStale(std::size_t limit, int& removed) override;
  int Pending(std::size_t limit, std::vector<TextWork>& work) override;
  bool Changed() override;
  int ReadDocument(std::int64_t record, std::int64_t version, std::vector<char>& bytes) override;
  int BeginDocument(std::int64_t record, std::int64_t version, int& nextPage) override;
  int AddPages(std::int64_t record, std::int64_t version, int firstPage,
               const std::vector<std::string>& texts) override;
  int FinishDocument(std::int64_t record, std::int64_t version, TextState state) override;
  int Search(const std::vector<TextTerm>& query, std::size_t limit,
             std::vector<TextHit>& hits) override;
  int Progress(TextProgress& progress) override;

  // The query text handed to FTS5 for the terms: every word quoted, so nothing a user types
  // is taken as query syntax.
  static std::string MatchExpression(const std::vector<TextTerm>& query);
  // The same search as Search, straight on FTS5 with no check against the table (for
  // measuring what the checks cost).
  int SearchIndexOnly(const std::vector<TextTerm>& query, std::size_t limit,
                      std::vector<TextHit>& hits);

 private:
  StoreTextIndex(sqlite3* db, int blob, bool checksums);
  int Prepare();
  int Fail(int rc, std::string_view what);
  int Exec(const char* sql, std::string_view what);
  StoreStatement& Statement(const std::string& sql, int& rc);
  // Runs `steps` in an immediate transaction, committed when they succeed.
  template <typename Steps>
  int Transaction(std::string_view what, Steps&& steps);
  int ClearRecord(std::int64_t record);

  sqlite3* db_ = nullptr;
  int blob_ = 1;
  bool checksums_ = true;
  std::int64_t dataVersion_ = -1;
  std::vector<std::pair<std::string, std::unique_ptr<StoreStatement>>> statements_;
};

}  // namespace rt
