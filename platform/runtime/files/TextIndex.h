// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The full-text index of a table's documents, as the program's indexer and search window use
// it. Each table driver that can keep one provides its own (the STORE driver's lives in its
// table file, StoreTextIndex.h); the users see only this interface.
//
// An entry is the text of one page of one record at one version of that record (the table's
// change counter). The index compares those versions with the table's: a record stored,
// changed or deleted since its last indexing is work for the indexer, with nothing to mark at
// the write, and a search joins against the table's current versions, so it never answers with
// a deleted record or a page of a replaced version even before the indexer has caught up.
//
// Operations return a runtime error code (0 on success) and leave the thread's error set.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace rt {

// How far a record's indexing got.
enum class TextState : int {
  Indexing = 0,   // pages are being added
  Indexed = 1,    // every page is in
  NoText = 2,     // the document has no text layer (or no bytes)
  Encrypted = 3,  // the document is password-protected
  Damaged = 4,    // the document (or its stored bytes) cannot be read
};

// A record the indexer has to work on: new or changed since its last indexing, or
// interrupted part-way (nextPage > 0 continues it).
struct TextWork {
  std::int64_t record = 0;
  std::int64_t version = 0;
  int nextPage = 0;  // 0-based page to index next
};

// One term of a query: a word, or the words of a phrase in order; with `prefix` the last
// word matches any word it begins.
struct TextTerm {
  std::vector<std::string> words;
  bool prefix = false;
};

// One page that matched, best first. The snippet is a passage of the page with every matched
// word between kTextMarkOpen and kTextMarkClose.
struct TextHit {
  std::int64_t record = 0;
  int page = 0;  // 0-based
  std::string snippet;
  double rank = 0;  // lower is better
};
inline constexpr char kTextMarkOpen = '\x02';
inline constexpr char kTextMarkClose = '\x03';

struct TextProgress {
  std::int64_t documents = 0;    // records in the table
  std::int64_t done = 0;         // of them, indexed at their current version (any final state)
  std::int64_t withoutText = 0;  // of those, without text, encrypted or damaged
};

class TextIndex {
 public:
  virtual ~TextIndex() = default;

  // Removes the entries of up to `limit` deleted or replaced records, each in small
  // transactions; `removed` counts the records cleared (0: none was left).
  virtual int RemoveStale(std::size_t limit, int& removed) = 0;
  // Up to `limit` records needing work, interrupted ones first, then by record number.
  virtual int Pending(std::size_t limit, std::vector<TextWork>& work) = 0;
  // True when the table may have changed (another connection wrote) since the last call.
  virtual bool Changed() = 0;
  // The stored bytes of the record's document at that version; 33 when the record is gone
  // or was changed meanwhile, 47 when its stored bytes are damaged.
  virtual int ReadDocument(std::int64_t record, std::int64_t version, std::vector<char>& bytes) = 0;
  // Starts (or, at the same version, continues) a record's indexing; `nextPage` answers the
  // page to go on with.
  virtual int BeginDocument(std::int64_t record, std::int64_t version, int& nextPage) = 0;
  // Adds the texts of pages firstPage, firstPage + 1, ... (firstPage must be the next page)
  // in one transaction of their own, with the count of pages done; an empty text adds no
  // entry but counts its page as done. Callers pass a few pages at a time.
  virtual int AddPages(std::int64_t record, std::int64_t version, int firstPage,
                       const std::vector<std::string>& texts) = 0;
  // Ends a record's indexing with its final state (Indexed becomes NoText when no page
  // had any text).
  virtual int FinishDocument(std::int64_t record, std::int64_t version, TextState state) = 0;

  // The best `limit` pages matching every term.
  virtual int Search(const std::vector<TextTerm>& query, std::size_t limit,
                     std::vector<TextHit>& hits) = 0;
  virtual int Progress(TextProgress& progress) = 0;
};

}  // namespace rt
