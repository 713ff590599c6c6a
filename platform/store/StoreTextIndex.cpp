// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/StoreTextIndex.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/ChunkChecksum.h"
#include "platform/store/Store.h"
#include "platform/store/StoreStatement.h"

namespace rt {

namespace {

// The same wait for another connection's lock as the driver's default.
constexpr int kBusyMs = 5000;
// Pages removed per transaction when a record's entries go.
constexpr int kRemoveBatch = 64;
// Largest document read for indexing (the PDF engine refuses larger ones).
constexpr std::int64_t kMaxDocument = std::int64_t{1} << 30;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS text_docs (rid INTEGER PRIMARY KEY, ver INTEGER NOT NULL, "
    "state INTEGER NOT NULL, done INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS text_pages (id INTEGER PRIMARY KEY, rid INTEGER NOT NULL, "
    "ver INTEGER NOT NULL, page INTEGER NOT NULL, body TEXT NOT NULL, UNIQUE (rid, ver, page));"
    "CREATE VIRTUAL TABLE IF NOT EXISTS text_fts USING fts5(body, content='text_pages', "
    "content_rowid='id', tokenize='unicode61 remove_diacritics 2');"
    "CREATE TRIGGER IF NOT EXISTS text_pages_added AFTER INSERT ON text_pages BEGIN "
    "INSERT INTO text_fts (rowid, body) VALUES (new.id, new.body); END;"
    "CREATE TRIGGER IF NOT EXISTS text_pages_removed AFTER DELETE ON text_pages BEGIN "
    "INSERT INTO text_fts (text_fts, rowid, body) VALUES ('delete', old.id, old.body); END;";

constexpr const char* kIndexOnlySql =
    "SELECT rowid, snippet(text_fts, 0, char(2), char(3), '...', 16), rank FROM text_fts "
    "WHERE text_fts MATCH ?1 ORDER BY rank LIMIT ?2";

bool HasWordCharacter(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80 || std::isalnum(c)) return true;
  return false;
}

}  // namespace

StoreTextIndex::StoreTextIndex(sqlite3* db, int blob, bool checksums)
    : db_(db), blob_(blob), checksums_(checksums) {}

StoreTextIndex::~StoreTextIndex() {
  statements_.clear();
  sqlite3_close_v2(db_);
}

int StoreTextIndex::Open(const std::string& tableFile, int blob,
                         std::unique_ptr<TextIndex>& index) {
  index.reset();
  struct stat st {};
  if (::stat(tableFile.c_str(), &st) != 0) {
    SetError(kNoFileError, tableFile);
    return kNoFileError;
  }
  if (!S_ISREG(st.st_mode)) {
    SetError(kBadFileError, tableFile);
    return kBadFileError;
  }
  sqlite3* db = nullptr;
  const int rc =
      sqlite3_open_v2(tableFile.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_close_v2(db);
    SetError(kAccessDenied, tableFile, std::to_string(rc), sqlite3_errstr(rc));
    return kAccessDenied;
  }
  sqlite3_busy_timeout(db, kBusyMs);
  sqlite3_extended_result_codes(db, 1);
  // In WAL mode a commit survives a crash of the process either way; only a power cut may
  // lose the last pages indexed, which are then indexed again (page and progress commit
  // together). Saves a disk flush per page.
  sqlite3_exec(db, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  bool checksums = true;
  {
    StoreStatement meta;
    if (meta.Prepare(db, "SELECT value FROM store_meta WHERE name = 'format'") != SQLITE_OK ||
        meta.Step() != SQLITE_ROW) {
      sqlite3_close_v2(db);
      SetError(kBadFileError, tableFile, "0", "not a table of the STORE driver");
      return kBadFileError;
    }
    checksums = meta.Text(0) != "1";
  }
  std::unique_ptr<StoreTextIndex> made(new (std::nothrow) StoreTextIndex(db, blob, checksums));
  if (!made) {
    sqlite3_close_v2(db);
    SetError(kFileSystemError, tableFile);
    return kFileSystemError;
  }
  if (int e = made->Prepare()) return e;
  index = std::move(made);
  return kNoError;
}

int StoreTextIndex::Prepare() {
  return Transaction("make the text index", [&] { return Exec(kSchema, "make the text index"); });
}

int StoreTextIndex::Fail(int rc, std::string_view what) {
  const int primary = rc & 0xFF;
  int code = kDriverError;
  if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) code = kBadFileError;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) code = kRecordHeldError;
  if (primary == SQLITE_FULL || primary == SQLITE_NOMEM || primary == SQLITE_IOERR)
    code = kFileSystemError;
  SetError(code, {}, std::to_string(rc), std::string(what) + ": " + sqlite3_errmsg(db_));
  return code;
}

int StoreTextIndex::Exec(const char* sql, std::string_view what) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  return rc == SQLITE_OK ? kNoError : Fail(rc, what);
}

StoreStatement& StoreTextIndex::Statement(const std::string& sql, int& rc) {
  for (auto& [text, statement] : statements_) {
    if (text == sql) {
      statement->Reset();
      rc = SQLITE_OK;
      return *statement;
    }
  }
  auto statement = std::make_unique<StoreStatement>();
  rc = statement->Prepare(db_, sql);
  statements_.emplace_back(sql, std::move(statement));
  return *statements_.back().second;
}

template <typename Steps>
int StoreTextIndex::Transaction(std::string_view what, Steps&& steps) {
  if (int e = Exec("BEGIN IMMEDIATE", what)) return e;
  int result = steps();
  if (result == kNoError) {
    const int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return kNoError;
    result = Fail(rc, what);
  }
  sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return result;
}

bool StoreTextIndex::Changed() {
  int rc = 0;
  StoreStatement& s = Statement("PRAGMA data_version", rc);
  if (rc != SQLITE_OK || s.Step() != SQLITE_ROW) return true;
  const std::int64_t now = s.Int(0);
  s.Reset();
  const bool changed = now != dataVersion_;
  dataVersion_ = now;
  return changed;
}

int StoreTextIndex::ClearRecord(std::int64_t record) {
  for (;;) {
    int changes = 0;
    const int e = Transaction("remove text entries", [&] {
      int rc = 0;
      StoreStatement& s = Statement(
          "DELETE FROM text_pages WHERE id IN (SELECT id FROM text_pages WHERE rid = ?1 LIMIT " +
              std::to_string(kRemoveBatch) + ")",
          rc);
      if (rc != SQLITE_OK) return Fail(rc, "remove text entries");
      s.Bind(1, record);
      rc = s.Step();
      s.Reset();
      if (rc != SQLITE_DONE) return Fail(rc, "remove text entries");
      changes = sqlite3_changes(db_);
      if (changes > 0) return kNoError;
      StoreStatement& d = Statement("DELETE FROM text_docs WHERE rid = ?1", rc);
      if (rc != SQLITE_OK) return Fail(rc, "remove text entries");
      d.Bind(1, record);
      rc = d.Step();
      d.Reset();
      return rc == SQLITE_DONE ? kNoError : Fail(rc, "remove text entries");
    });
    if (e) return e;
    if (changes == 0) return kNoError;
  }
}

int StoreTextIndex::RemoveStale(std::size_t limit, int& removed) {
  removed = 0;
  std::vector<std::int64_t> stale;
  {
    int rc = 0;
    StoreStatement& s = Statement(
        "SELECT d.rid FROM text_docs d LEFT JOIN records r ON r._rid = d.rid "
        "WHERE r._rid IS NULL OR r._ver <> d.ver LIMIT ?1",
        rc);
    if (rc != SQLITE_OK) return Fail(rc, "find stale text entries");
    s.Bind(1, static_cast<std::int64_t>(limit));
    while ((rc = s.Step()) == SQLITE_ROW)
      stale.push_back(s.Int(0));
    s.Reset();
    if (rc != SQLITE_DONE) return Fail(rc, "find stale text entries");
  }
  for (std::int64_t record : stale) {
    if (int e = ClearRecord(record)) return e;
    ++removed;
  }
  return kNoError;
}

int StoreTextIndex::Pending(std::size_t limit, std::vector<TextWork>& work) {
  work.clear();
  int rc = 0;
  StoreStatement& s = Statement(
      "SELECT r._rid, r._ver, coalesce(d.done, 0) FROM records r "
      "LEFT JOIN text_docs d ON d.rid = r._rid "
      "WHERE d.rid IS NULL OR (d.ver = r._ver AND d.state = 0) "
      "ORDER BY d.rid IS NULL, r._rid LIMIT ?1",
      rc);
  if (rc != SQLITE_OK) return Fail(rc, "list documents to index");
  s.Bind(1, static_cast<std::int64_t>(limit));
  while ((rc = s.Step()) == SQLITE_ROW)
    work.push_back({s.Int(0), s.Int(1), static_cast<int>(s.Int(2))});
  s.Reset();
  return rc == SQLITE_DONE ? kNoError : Fail(rc, "list documents to index");
}

int StoreTextIndex::ReadDocument(std::int64_t record, std::int64_t version,
                                 std::vector<char>& bytes) {
  bytes.clear();
  // One read transaction: the size and every chunk belong to the same version.
  if (int e = Exec("BEGIN", "read a document")) return e;
  const int result = [&] {
    int rc = 0;
    const std::string sizeSql =
        "SELECT _ver, _bsize" + std::to_string(blob_) + " FROM records WHERE _rid = ?1";
    StoreStatement& s = Statement(sizeSql, rc);
    if (rc != SQLITE_OK) return Fail(rc, "read a document");
    s.Bind(1, record);
    rc = s.Step();
    if (rc != SQLITE_ROW || s.Int(0) != version) {
      s.Reset();
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc, "read a document");
      SetError(kNoRecordError);
      return kNoRecordError;
    }
    const std::int64_t size = s.Int(1);
    s.Reset();
    const std::string where = "record " + std::to_string(record);
    if (size < 0 || size > kMaxDocument) {
      SetError(kBadFileError, {}, "0", where + ": document size out of range");
      return kBadFileError;
    }
    try {
      bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
      SetError(kFileSystemError, {}, "0", "not enough memory for " + where);
      return kFileSystemError;
    }
    StoreStatement& c = Statement(
        "SELECT chunk, bytes, sum FROM blob_chunks WHERE rid = ?1 AND blob = ?2 ORDER BY chunk",
        rc);
    if (rc != SQLITE_OK) return Fail(rc, "read a document");
    c.Bind(1, record);
    c.Bind(2, static_cast<std::int64_t>(blob_));
    std::int64_t next = 0;
    const std::int64_t chunks = (size + kStoreChunkSize - 1) / kStoreChunkSize;
    while ((rc = c.Step()) == SQLITE_ROW) {
      const std::string_view chunk = c.Blob(1);
      const std::int64_t expected = std::min(kStoreChunkSize, size - next * kStoreChunkSize);
      const bool good = c.Int(0) == next && next < chunks &&
                        static_cast<std::int64_t>(chunk.size()) == expected &&
                        (!checksums_ || static_cast<std::uint64_t>(c.Int(2)) ==
                                            ChunkChecksum(chunk.data(), chunk.size()));
      if (!good) {
        c.Reset();
        SetError(kBadFileError, {}, "0", where + ": chunk " + std::to_string(next) + " damaged");
        return kBadFileError;
      }
      std::memcpy(bytes.data() + next * kStoreChunkSize, chunk.data(), chunk.size());
      ++next;
    }
    c.Reset();
    if (rc != SQLITE_DONE) return Fail(rc, "read a document");
    if (next != chunks) {
      SetError(kBadFileError, {}, "0", where + ": chunk " + std::to_string(next) + " missing");
      return kBadFileError;
    }
    return kNoError;
  }();
  sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (result != kNoError) bytes.clear();
  return result;
}

int StoreTextIndex::BeginDocument(std::int64_t record, std::int64_t version, int& nextPage) {
  nextPage = 0;
  bool clear = false;
  int e = Transaction("start indexing a document", [&] {
    int rc = 0;
    StoreStatement& r = Statement("SELECT _ver FROM records WHERE _rid = ?1", rc);
    if (rc != SQLITE_OK) return Fail(rc, "start indexing a document");
    r.Bind(1, record);
    rc = r.Step();
    const bool current = rc == SQLITE_ROW && r.Int(0) == version;
    r.Reset();
    if (!current) {
      SetError(kNoRecordError);
      return kNoRecordError;
    }
    StoreStatement& d = Statement("SELECT ver, state, done FROM text_docs WHERE rid = ?1", rc);
    if (rc != SQLITE_OK) return Fail(rc, "start indexing a document");
    d.Bind(1, record);
    rc = d.Step();
    if (rc == SQLITE_ROW) {
      const bool same = d.Int(0) == version;
      const auto state = static_cast<TextState>(d.Int(1));
      nextPage = static_cast<int>(d.Int(2));
      d.Reset();
      if (!same) {
        clear = true;  // entries of another version go first, outside this transaction
        return kNoError;
      }
      if (state != TextState::Indexing) nextPage = -1;  // finished meanwhile
      return kNoError;
    }
    d.Reset();
    if (rc != SQLITE_DONE) return Fail(rc, "start indexing a document");
    StoreStatement& i =
        Statement("INSERT INTO text_docs (rid, ver, state, done) VALUES (?1, ?2, 0, 0)", rc);
    if (rc != SQLITE_OK) return Fail(rc, "start indexing a document");
    i.Bind(1, record);
    i.Bind(2, version);
    rc = i.Step();
    i.Reset();
    return rc == SQLITE_DONE ? kNoError : Fail(rc, "start indexing a document");
  });
  if (e == kNoError && clear) {
    if ((e = ClearRecord(record))) return e;
    return BeginDocument(record, version, nextPage);
  }
  return e;
}

int StoreTextIndex::AddPages(std::int64_t record, std::int64_t version, int firstPage,
                             const std::vector<std::string>& texts) {
  if (texts.empty()) return kNoError;
  return Transaction("index pages", [&] {
    int rc = 0;
    StoreStatement& u = Statement(
        "UPDATE text_docs SET done = done + ?4 WHERE rid = ?1 AND ver = ?2 AND state = 0 AND "
        "done = ?3",
        rc);
    if (rc != SQLITE_OK) return Fail(rc, "index pages");
    u.Bind(1, record);
    u.Bind(2, version);
    u.Bind(3, static_cast<std::int64_t>(firstPage));
    u.Bind(4, static_cast<std::int64_t>(texts.size()));
    rc = u.Step();
    u.Reset();
    if (rc != SQLITE_DONE) return Fail(rc, "index pages");
    if (sqlite3_changes(db_) != 1) {
      // Another indexer (a second instance on the table) got there first.
      SetError(kRecordChangedError);
      return kRecordChangedError;
    }
    StoreStatement& i =
        Statement("INSERT INTO text_pages (rid, ver, page, body) VALUES (?1, ?2, ?3, ?4)", rc);
    if (rc != SQLITE_OK) return Fail(rc, "index pages");
    for (std::size_t n = 0; n < texts.size(); ++n) {
      if (!HasWordCharacter(texts[n])) continue;
      i.Reset();
      i.Bind(1, record);
      i.Bind(2, version);
      i.Bind(3, static_cast<std::int64_t>(firstPage) + static_cast<std::int64_t>(n));
      i.Bind(4, std::string_view(texts[n]));
      rc = i.Step();
      i.Reset();
      if (rc != SQLITE_DONE) return Fail(rc, "index pages");
    }
    return kNoError;
  });
}

int StoreTextIndex::FinishDocument(std::int64_t record, std::int64_t version, TextState state) {
  return Transaction("finish indexing a document", [&] {
    int rc = 0;
    // A document indexed to the end without a single page of text has no text layer.
    StoreStatement& u = Statement(
        "UPDATE text_docs SET state = CASE WHEN ?3 = 1 AND NOT EXISTS (SELECT 1 FROM "
        "text_pages WHERE rid = ?1 AND ver = ?2) THEN 2 ELSE ?3 END WHERE rid = ?1 AND ver = ?2",
        rc);
    if (rc != SQLITE_OK) return Fail(rc, "finish indexing a document");
    u.Bind(1, record);
    u.Bind(2, version);
    u.Bind(3, static_cast<std::int64_t>(state));
    rc = u.Step();
    u.Reset();
    return rc == SQLITE_DONE ? kNoError : Fail(rc, "finish indexing a document");
  });
}

std::string StoreTextIndex::MatchExpression(const std::vector<TextTerm>& query) {
  std::string match;
  for (const TextTerm& term : query) {
    std::string phrase;
    for (const std::string& word : term.words) {
      if (!phrase.empty()) phrase += ' ';
      for (char c : word) {
        if (c == '"') phrase += '"';
        phrase += c;
      }
    }
    if (phrase.empty()) continue;
    if (!match.empty()) match += ' ';
    match += '"' + phrase + '"';
    if (term.prefix) match += " *";
  }
  return match;
}

int StoreTextIndex::SearchIndexOnly(const std::vector<TextTerm>& query, std::size_t limit,
                                    std::vector<TextHit>& hits) {
  hits.clear();
  const std::string match = MatchExpression(query);
  if (match.empty()) return kNoError;
  int rc = 0;
  StoreStatement& s = Statement(kIndexOnlySql, rc);
  if (rc != SQLITE_OK) return Fail(rc, "search");
  s.Bind(1, std::string_view(match));
  s.Bind(2, static_cast<std::int64_t>(limit));
  while ((rc = s.Step()) == SQLITE_ROW)
    hits.push_back({s.Int(0), 0, std::string(s.Text(1)), s.Real(2)});
  s.Reset();
  return rc == SQLITE_DONE ? kNoError : Fail(rc, "search");
}

int StoreTextIndex::Search(const std::vector<TextTerm>& query, std::size_t limit,
                           std::vector<TextHit>& hits) {
  hits.clear();
  const std::string match = MatchExpression(query);
  if (match.empty() || limit == 0) return kNoError;
  // One read transaction, so the matches and the checks against the table see one state.
  if (int e = Exec("BEGIN", "search")) return e;
  const int result = [&] {
    // The best pages from the index, each kept only when it belongs to its record's current
    // version. Entries of deleted or replaced records are few (the indexer removes them), so
    // a few more than wanted are read, and more only when too many were dropped.
    std::size_t wanted = limit + limit / 2 + 8;
    for (;;) {
      int rc = 0;
      StoreStatement& s = Statement(kIndexOnlySql, rc);
      if (rc != SQLITE_OK) return Fail(rc, "search");
      s.Bind(1, std::string_view(match));
      s.Bind(2, static_cast<std::int64_t>(wanted));
      std::vector<TextHit> found;
      while ((rc = s.Step()) == SQLITE_ROW)
        found.push_back({s.Int(0), 0, std::string(s.Text(1)), s.Real(2)});
      s.Reset();
      if (rc != SQLITE_DONE) return Fail(rc, "search");
      hits.clear();
      StoreStatement& check = Statement(
          "SELECT p.rid, p.page FROM text_pages p JOIN records r ON r._rid = p.rid AND "
          "r._ver = p.ver WHERE p.id = ?1",
          rc);
      if (rc != SQLITE_OK) return Fail(rc, "search");
      for (TextHit& hit : found) {
        check.Reset();
        check.Bind(1, hit.record);
        rc = check.Step();
        if (rc == SQLITE_ROW) {
          hit.record = check.Int(0);
          hit.page = static_cast<int>(check.Int(1));
          hits.push_back(std::move(hit));
          if (hits.size() == limit) break;
        } else if (rc != SQLITE_DONE) {
          check.Reset();
          return Fail(rc, "search");
        }
      }
      check.Reset();
      if (hits.size() == limit || found.size() < wanted) return kNoError;
      wanted *= 4;
    }
  }();
  sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  if (result != kNoError) hits.clear();
  return result;
}

int StoreTextIndex::Progress(TextProgress& progress) {
  progress = {};
  int rc = 0;
  StoreStatement& s = Statement(
      "SELECT (SELECT count(*) FROM records), count(*), coalesce(sum(d.state >= 2), 0) "
      "FROM text_docs d JOIN records r ON r._rid = d.rid AND r._ver = d.ver WHERE d.state <> 0",
      rc);
  if (rc != SQLITE_OK) return Fail(rc, "count indexed documents");
  rc = s.Step();
  if (rc == SQLITE_ROW) {
    progress.documents = s.Int(0);
    progress.done = s.Int(1);
    progress.withoutText = s.Int(2);
  }
  s.Reset();
  return rc == SQLITE_ROW ? kNoError : Fail(rc, "count indexed documents");
}

}  // namespace rt
