// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The full-text index of a PGSTORE table, kept on the server beside the table (TextIndex.h
// says what it offers), shared by every client of the table. It has a connection of its own,
// so it runs on any one thread beside the program's File objects on the same table.
//
// Storage: "<table>$text_docs" has one row per indexed record (record id, version indexed,
// state, pages done, and the pages and words stored for it, which give the ranking's totals
// without reading the pages); "<table>$text_pages" the page texts (record id, version, page,
// words counted) and "<table>$text_terms" the words of the pages written together, one row
// per word with its places on each of those pages, in a btree on the word. One row per word
// and batch of pages keeps a common word's rows few. The words are found and folded by the word
// rules of the local index (TextAnalyzer.h), and matches, ranks and passages computed as it
// computes them, so both drivers answer a search alike. Texts and words are stored as bytes: any
// page text (NUL bytes, invalid UTF-8) is kept as it is.
//
// Several clients may index at once: a client indexing a record holds an advisory lock on it
// (the others leave it out of their work), pages and their record's count of pages done are
// written in one transaction that checks the count (a second writer is refused with 89, so no
// page is in twice), and every transaction locks at most one record's row, so none waits for
// another in a circle. A record's indexing finished and stale entries removed are announced;
// Changed() hears those of other clients and every change to the table.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/files/TextAnalyzer.h"
#include "platform/runtime/files/TextIndex.h"

namespace rt {

class PgConnection;
class PgListener;
class PgParams;
class PgResult;

class PgTextIndex : public TextIndex {
 public:
  // Opens the index of the server table named by `physicalName` (as the driver names it, on
  // the server the driver was registered with) over BLOB number `blob`, made on first use;
  // `analyzer` gives the word rules. 2 when the table does not exist (yet) or the server
  // cannot be reached, 5 when it refuses the user, 47 when the table is not of this driver.
  static int Open(const std::string& physicalName, int blob, std::unique_ptr<TextAnalyzer> analyzer,
                  std::unique_ptr<TextIndex>& index);
  ~PgTextIndex() override;
  PgTextIndex(const PgTextIndex&) = delete;
  PgTextIndex& operator=(const PgTextIndex&) = delete;

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

 private:
  struct Phrase;
  // A word's places on one page, with the page's count of words.
  struct Posting {
    std::int64_t page = 0;  // the page's row
    std::int64_t words = 0;
    std::vector<std::uint32_t> places;
  };
  // A phrase's occurrences on one page.
  struct Occurrence {
    std::int64_t page = 0;
    std::int64_t words = 0;
    int count = 0;
  };
  PgTextIndex(const std::string& conninfo, const std::string& bare, int blob,
              std::unique_ptr<TextAnalyzer> analyzer);
  int Prepare();
  int Connect();
  // Connected, or still in the transaction's connection; else why not.
  int Ready(std::string_view what);
  int Run(const std::string& sql, const PgParams& params, PgResult& out, std::string_view what);
  int Exec(const std::string& sql, std::string_view what);
  // Runs `steps` in a transaction, committed when they succeed; `announce` tells the other
  // clients (their Changed()) of the commit.
  template <typename Steps>
  int Transaction(std::string_view what, bool announce, Steps&& steps);
  // A read-only transaction on one snapshot; EndRead ends it, `result` staying the answer.
  int BeginRead(std::string_view what);
  int EndRead(int result);
  int ClearRecord(std::int64_t record, std::int64_t version);
  int Unlock();
  int Damaged(std::string_view what);
  // The pages holding the phrase, by page row, each with its count of occurrences.
  int Occurrences(const Phrase& phrase, std::vector<Occurrence>& pages);
  // The pages holding the word (or, with `prefix`, a word it begins), by page row.
  int Places(const std::string& word, bool prefix, std::vector<Posting>& postings);

  std::string conninfo_;
  std::unique_ptr<PgConnection> conn_;
  std::unique_ptr<TextAnalyzer> analyzer_;
  std::string bare_;
  std::string table_;
  std::string chunks_;
  std::string docs_;
  std::string pages_;
  std::string terms_;
  std::string textChannel_;  // as notifications name it
  int blob_ = 1;
  std::int64_t lockSpace_ = 0;     // first key of the records' advisory locks
  std::int64_t lockedRecord_ = 0;  // the record this client indexes (0: none)
  int lockBackend_ = 0;            // the backend holding that lock
  bool inTransaction_ = false;
  bool heldElsewhere_ = false;  // the last work list left out records others index
  std::chrono::steady_clock::time_point nextLook_;
  std::shared_ptr<std::atomic<int>> ownBackend_;
  std::shared_ptr<std::atomic<bool>> changed_;
  std::shared_ptr<PgListener> listener_;
  std::vector<std::uint64_t> subscriptions_;
};

}  // namespace rt
