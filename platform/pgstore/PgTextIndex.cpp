// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgTextIndex.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <map>
#include <new>

#include "platform/pgstore/PgConnection.h"
#include "platform/pgstore/PgDriver.h"
#include "platform/pgstore/PgListener.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/ChunkChecksum.h"
#include "platform/sqltable/SqlText.h"
#include "platform/sqltable/TableValues.h"

namespace rt {

namespace {

// How often a client looks for records another client stopped indexing unannounced.
constexpr auto kLookAgain = std::chrono::seconds(2);
// Pages removed per transaction when a record's entries go.
constexpr int kRemoveBatch = 64;
// Largest document read for indexing (the PDF engine refuses larger ones).
constexpr std::int64_t kMaxDocument = std::int64_t{1} << 30;
// BLOB chunks read per statement: a reply is held whole.
constexpr int kChunksPerRead = 16;
// The leading bytes of a word the btree holds (a btree entry has a size limit); longer words
// are compared whole after the index found their beginning.
constexpr std::size_t kWordHead = 512;
// Words of a few pages go in one statement, a new one after this many bytes of its text.
constexpr std::size_t kTermBatchBytes = std::size_t{4} << 20;
// The ranking constants of the local index.
constexpr double kK1 = 1.2;
constexpr double kB = 0.75;

bool HasWordCharacter(std::string_view text) {
  for (unsigned char c : text)
    if (c >= 0x80 || std::isalnum(c)) return true;
  return false;
}

void AppendHex(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
}

// The smallest byte string above every string beginning with `prefix`.
std::string Successor(std::string prefix) {
  while (!prefix.empty() && static_cast<unsigned char>(prefix.back()) == 0xFF)
    prefix.pop_back();
  if (prefix.empty()) return std::string(kWordHead + 1, '\xFF');
  prefix.back() = static_cast<char>(static_cast<unsigned char>(prefix.back()) + 1);
  return prefix;
}

// A list of ids as an array literal.
std::string IdArray(const std::vector<std::int64_t>& ids, std::size_t from, std::size_t to) {
  std::string out = "{";
  for (std::size_t i = from; i < to; ++i) {
    if (i > from) out += ',';
    out += std::to_string(ids[i]);
  }
  return out + "}";
}

std::uint32_t FNV(std::string_view text) {
  std::uint32_t h = 2166136261u;
  for (unsigned char c : text)
    h = (h ^ c) * 16777619u;
  return h;
}

std::int64_t RecordLockKey(std::int64_t record) {
  return record & 0x7FFFFFFF;
}

}  // namespace

struct PgTextIndex::Phrase {
  std::vector<std::string> words;
  bool prefix = false;
};

PgTextIndex::PgTextIndex(const std::string& conninfo, const std::string& bare, int blob,
                         std::unique_ptr<TextAnalyzer> analyzer)
    : conninfo_(conninfo),
      conn_(std::make_unique<PgConnection>(conninfo)),
      analyzer_(std::move(analyzer)),
      bare_(bare),
      table_(SqlIdentifier(bare)),
      chunks_(SqlIdentifier(bare + "$chunks")),
      docs_(SqlIdentifier(bare + "$text_docs")),
      pages_(SqlIdentifier(bare + "$text_pages")),
      terms_(SqlIdentifier(bare + "$text_terms")),
      textChannel_(bare + "$text"),
      blob_(blob),
      lockSpace_(static_cast<std::int64_t>(FNV("text index " + bare) & 0x7FFFFFFF)),
      ownBackend_(std::make_shared<std::atomic<int>>(0)),
      changed_(std::make_shared<std::atomic<bool>>(true)) {}

PgTextIndex::~PgTextIndex() {
  for (std::uint64_t id : subscriptions_)
    listener_->Unsubscribe(id);
}

int PgTextIndex::Open(const std::string& physicalName, int blob,
                      std::unique_ptr<TextAnalyzer> analyzer, std::unique_ptr<TextIndex>& index) {
  index.reset();
  const std::string bare = PgDriver::BareName(physicalName);
  if (bare.empty()) {
    SetError(kNoFileError, physicalName);
    return kNoFileError;
  }
  if (!analyzer) {
    SetError(kNoDriverError);
    return kNoDriverError;
  }
  std::unique_ptr<PgTextIndex> made(new (std::nothrow) PgTextIndex(
      PgDriver::RegisteredConninfo(), bare, blob, std::move(analyzer)));
  if (!made) {
    SetError(kFileSystemError);
    return kFileSystemError;
  }
  if (int e = made->Prepare()) return e;
  index = std::move(made);
  ClearError();
  return kNoError;
}

int PgTextIndex::Prepare() {
  if (int e = Connect()) return e;
  {
    PgParams p;
    p.Text(table_);
    PgResult r;
    if (int e = Run("SELECT coalesce(obj_description(c.oid, 'pg_class'), '') FROM pg_class c "
                    "WHERE c.oid = to_regclass($1)",
                    p, r, "open the text index of " + bare_)) {
      return e;
    }
    std::string_view comment;
    if (r.Rows() == 0) {
      SetError(kNoFileError, bare_);
      return kNoFileError;
    }
    if (!r.Text(0, 0, comment) || comment.rfind("PGSTORE", 0) != 0) {
      SetError(kBadFileError, bare_, "0", "not a table of the PGSTORE driver");
      return kBadFileError;
    }
  }
  // One maker at a time in every client, so clients starting at once end with one index.
  const std::string schema =
      "CREATE TABLE IF NOT EXISTS " + docs_ +
      " (rid bigint PRIMARY KEY, ver bigint NOT NULL, state int NOT NULL, done int NOT NULL, "
      "pages bigint NOT NULL DEFAULT 0, words bigint NOT NULL DEFAULT 0); "
      "CREATE TABLE IF NOT EXISTS " +
      pages_ +
      " (id bigserial PRIMARY KEY, rid bigint NOT NULL, ver bigint NOT NULL, page int NOT NULL, "
      "tokens int NOT NULL, body bytea NOT NULL, UNIQUE (rid, ver, page)); "
      "CREATE TABLE IF NOT EXISTS " +
      terms_ +
      " (head bytea NOT NULL, tail bytea NOT NULL, rid bigint NOT NULL, ver bigint NOT NULL, "
      "postings bytea NOT NULL); CREATE INDEX IF NOT EXISTS " +
      SqlIdentifier(bare_ + "$text_word") + " ON " + terms_ +
      " (head); CREATE INDEX IF NOT EXISTS " + SqlIdentifier(bare_ + "$text_record") + " ON " +
      terms_ + " (rid, ver)";
  const int e = Transaction("make the text index", false, [&] {
    PgParams p;
    p.Text("PGSTORE:" + textChannel_);
    PgResult r;
    if (int e2 =
            Run("SELECT pg_advisory_xact_lock(hashtext($1)::int8)", p, r, "make the text index"))
      return e2;
    return Exec(schema, "make the text index");
  });
  if (e) return e;
  // Changes to the table and other clients' indexing both show in Changed().
  listener_ = PgListener::For(conninfo_);
  auto flag = changed_;
  for (const std::string& channel : {table_, SqlIdentifier(textChannel_)})
    subscriptions_.push_back(
        listener_->Subscribe(channel, ownBackend_, [flag] { flag->store(true); }));
  return kNoError;
}

int PgTextIndex::Connect() {
  if (int e = conn_->Connect()) {
    lockedRecord_ = 0;
    return e;
  }
  const int backend = conn_->BackendPid();
  if (backend != ownBackend_->load()) {
    // A commit of the index lost to a crash of the server takes its count of pages done with
    // it, so those pages are indexed again: the index's commits need not wait for the disk.
    if (int e = conn_->Exec("SET synchronous_commit = off", "connect")) return e;
  }
  ownBackend_->store(backend);
  if (lockedRecord_ != 0 && backend != lockBackend_) lockedRecord_ = 0;  // gone with its session
  return kNoError;
}

int PgTextIndex::Ready(std::string_view what) {
  // Inside a transaction a lost connection fails it: connecting again would run the rest of
  // its statements on their own.
  if (inTransaction_ && !conn_->Connected()) {
    SetError(kFileSystemError, {}, "0",
             std::string(what) + ": the connection to the server was lost");
    return kFileSystemError;
  }
  return inTransaction_ ? kNoError : Connect();
}

int PgTextIndex::Run(const std::string& sql, const PgParams& params, PgResult& out,
                     std::string_view what) {
  if (int e = Ready(what)) return e;
  return conn_->Run(sql, params, out, what);
}

int PgTextIndex::Exec(const std::string& sql, std::string_view what) {
  if (int e = Ready(what)) return e;
  return conn_->Exec(sql, what);
}

template <typename Steps>
int PgTextIndex::Transaction(std::string_view what, bool announce, Steps&& steps) {
  if (int e = Exec("BEGIN", what)) return e;
  inTransaction_ = true;
  int result = steps();
  // An announcement reaches the other clients when the commit happens.
  if (result == kNoError) {
    result = Exec(announce ? "SELECT pg_notify(" + SqlLiteral(textChannel_) + ", ''); COMMIT"
                           : std::string("COMMIT"),
                  what);
  }
  inTransaction_ = false;
  if (result != kNoError) {
    const ErrorState failure = LastError();
    if (conn_->Connected()) conn_->Exec("ROLLBACK", what);
    SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
  }
  return result;
}

int PgTextIndex::BeginRead(std::string_view what) {
  if (int e = Exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", what)) return e;
  inTransaction_ = true;
  return kNoError;
}

int PgTextIndex::EndRead(int result) {
  inTransaction_ = false;
  if (!conn_->Connected()) return result;
  const ErrorState failure = LastError();
  const int e = conn_->Exec(result == kNoError ? "COMMIT" : "ROLLBACK", "end a read");
  if (result != kNoError) {
    SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
    return result;
  }
  return e;
}

int PgTextIndex::Damaged(std::string_view what) {
  SetError(kBadFileError, bare_, "0", "text index: " + std::string(what));
  return kBadFileError;
}

bool PgTextIndex::Changed() {
  bool changed = changed_->exchange(false);
  // A client that stops indexing a record (its session ended) says nothing: while others hold
  // records this client would index, it looks again now and then.
  const auto now = std::chrono::steady_clock::now();
  if (heldElsewhere_ && now >= nextLook_) {
    nextLook_ = now + kLookAgain;
    changed = true;
  }
  return changed;
}

int PgTextIndex::ClearRecord(std::int64_t record, std::int64_t version) {
  // Under the lock of the record's row: its words go a batch per transaction, then its pages
  // (with the totals they count in), the row last, and nothing of that version is added
  // meanwhile.
  for (;;) {
    bool more = false;
    const int e = Transaction("remove text entries", true, [&] {
      PgParams p;
      p.Int(record);
      p.Int(version);
      PgResult r;
      if (int e2 = Run("SELECT 1::int8 FROM " + docs_ + " WHERE rid = $1 AND ver = $2 FOR UPDATE",
                       p, r, "remove text entries"))
        return e2;
      if (r.Rows() == 0) return kNoError;  // cleared meanwhile
      if (int e2 = Run("DELETE FROM " + terms_ + " WHERE ctid = ANY(ARRAY(SELECT ctid FROM " +
                           terms_ + " WHERE rid = $1 AND ver = $2 LIMIT " +
                           std::to_string(kRemoveBatch * 64) + "))",
                       p, r, "remove text entries"))
        return e2;
      if (r.Changed() > 0) {
        more = true;
        return kNoError;
      }
      if (int e2 = Run("WITH gone AS (DELETE FROM " + pages_ + " WHERE id IN (SELECT id FROM " +
                           pages_ + " WHERE rid = $1 AND ver = $2 LIMIT " +
                           std::to_string(kRemoveBatch) + ") RETURNING tokens) UPDATE " + docs_ +
                           " SET pages = pages - (SELECT count(*) FROM gone), words = words - "
                           "(SELECT coalesce(sum(tokens), 0) FROM gone) WHERE rid = $1 AND ver = "
                           "$2 RETURNING (SELECT count(*) FROM gone)::int8",
                       p, r, "remove text entries"))
        return e2;
      std::int64_t gone = 0;
      if (r.Rows() != 1 || !r.Int(0, 0, gone)) return Damaged("an answer of another type");
      if (gone > 0) {
        more = true;
        return kNoError;
      }
      return Run("DELETE FROM " + docs_ + " WHERE rid = $1 AND ver = $2", p, r,
                 "remove text entries");
    });
    if (e) return e;
    if (!more) return kNoError;
  }
}

int PgTextIndex::RemoveStale(std::size_t limit, int& removed) {
  removed = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> stale;
  {
    PgParams p;
    p.Int(static_cast<std::int64_t>(limit));
    PgResult r;
    if (int e = Run("SELECT d.rid, d.ver FROM " + docs_ + " d LEFT JOIN " + table_ +
                        " r ON r._rid = d.rid WHERE r._rid IS NULL OR r._ver <> d.ver LIMIT $1",
                    p, r, "find stale text entries"))
      return e;
    for (int i = 0; i < r.Rows(); ++i) {
      std::int64_t rid = 0;
      std::int64_t ver = 0;
      if (!r.Int(i, 0, rid) || !r.Int(i, 1, ver)) return Damaged("an answer of another type");
      stale.emplace_back(rid, ver);
    }
  }
  for (const auto& [record, version] : stale) {
    if (int e = ClearRecord(record, version)) return e;
    ++removed;
  }
  return kNoError;
}

int PgTextIndex::Pending(std::size_t limit, std::vector<TextWork>& work) {
  work.clear();
  // Records another client indexes right now (it holds their advisory lock) are its work.
  PgParams p;
  p.Int(static_cast<std::int64_t>(limit));
  p.Int(lockSpace_);
  PgResult r;
  if (int e = Run("WITH held AS MATERIALIZED (SELECT objid::int8 AS k FROM pg_locks WHERE "
                  "locktype = 'advisory' AND classid::int8 = $2 AND objsubid = 2 AND pid <> "
                  "pg_backend_pid() AND database = (SELECT oid FROM pg_database WHERE datname "
                  "= current_database())) "
                  "SELECT r._rid, r._ver, coalesce(d.done, 0)::int8, (EXISTS (SELECT 1 FROM held "
                  "WHERE held.k = r._rid & 2147483647))::int::int8 AS taken FROM " +
                      table_ + " r LEFT JOIN " + docs_ +
                      " d ON d.rid = r._rid WHERE d.rid IS NULL OR (d.ver = r._ver AND d.state "
                      "= 0) ORDER BY taken, d.rid IS NULL, r._rid LIMIT $1",
                  p, r, "list documents to index"))
    return e;
  heldElsewhere_ = false;
  for (int i = 0; i < r.Rows(); ++i) {
    TextWork item;
    std::int64_t done = 0;
    std::int64_t taken = 0;
    if (!r.Int(i, 0, item.record) || !r.Int(i, 1, item.version) || !r.Int(i, 2, done) ||
        !r.Int(i, 3, taken) || done < 0 || done > INT32_MAX) {
      work.clear();
      return Damaged("an answer of another type");
    }
    if (taken != 0) {
      heldElsewhere_ = true;
      continue;
    }
    item.nextPage = static_cast<int>(done);
    work.push_back(item);
  }
  return kNoError;
}

int PgTextIndex::ReadDocument(std::int64_t record, std::int64_t version, std::vector<char>& bytes) {
  bytes.clear();
  // One snapshot: the size and every chunk belong to the same version.
  if (int e = BeginRead("read a document")) return e;
  const int result = [&] {
    const std::string where = "record " + std::to_string(record);
    PgParams p;
    p.Int(record);
    PgResult r;
    if (int e = Run(
            "SELECT _ver, _bsize" + std::to_string(blob_) + " FROM " + table_ + " WHERE _rid = $1",
            p, r, "read a document"))
      return e;
    std::int64_t current = 0;
    std::int64_t size = 0;
    if (r.Rows() == 1 && (!r.Int(0, 0, current) || !r.Int(0, 1, size)))
      return Damaged(where + ": an answer of another type");
    if (r.Rows() != 1 || current != version) {
      SetError(kNoRecordError);
      return kNoRecordError;
    }
    if (size < 0 || size > kMaxDocument) return Damaged(where + ": document size out of range");
    try {
      bytes.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
      SetError(kFileSystemError, {}, "0", "not enough memory for " + where);
      return kFileSystemError;
    }
    const std::int64_t chunks = ChunkCount(size);
    std::int64_t next = 0;
    while (next < chunks) {
      PgParams c;
      c.Int(record);
      c.Int(blob_);
      c.Int(next);
      PgResult rows;
      if (int e = Run("SELECT chunk, bytes, sum FROM " + chunks_ +
                          " WHERE rid = $1 AND blob = $2 AND chunk >= $3 ORDER BY chunk LIMIT " +
                          std::to_string(kChunksPerRead),
                      c, rows, "read a document"))
        return e;
      if (rows.Rows() == 0) break;
      for (int i = 0; i < rows.Rows(); ++i) {
        std::int64_t number = 0;
        std::int64_t sum = 0;
        std::string_view chunk;
        const bool good =
            rows.Int(i, 0, number) && rows.Blob(i, 1, chunk) && rows.Int(i, 2, sum) &&
            number == next && ChunkProblem(blob_, size, number, chunk.size()).empty() &&
            static_cast<std::uint64_t>(sum) == ChunkChecksum(chunk.data(), chunk.size());
        if (!good) return Damaged(where + ": chunk " + std::to_string(next) + " damaged");
        std::copy(chunk.begin(), chunk.end(),
                  bytes.begin() + static_cast<std::ptrdiff_t>(next * kTableChunkSize));
        ++next;
      }
    }
    if (next != chunks) return Damaged(where + ": chunk " + std::to_string(next) + " missing");
    return kNoError;
  }();
  const int ended = EndRead(result);
  if (ended != kNoError) bytes.clear();
  return ended;
}

int PgTextIndex::Unlock() {
  if (lockedRecord_ == 0) return kNoError;
  const std::int64_t record = lockedRecord_;
  lockedRecord_ = 0;
  // A lost session took its locks with it.
  if (!conn_->Connected() || conn_->BackendPid() != lockBackend_) return kNoError;
  PgParams p;
  p.Int(lockSpace_);
  p.Int(RecordLockKey(record));
  PgResult r;
  return Run("SELECT pg_advisory_unlock($1::int4, $2::int4)::int::int8", p, r,
             "end indexing a document");
}

int PgTextIndex::BeginDocument(std::int64_t record, std::int64_t version, int& nextPage) {
  nextPage = 0;
  if (lockedRecord_ != record) {
    if (int e = Unlock()) return e;
    PgParams p;
    p.Int(lockSpace_);
    p.Int(RecordLockKey(record));
    PgResult r;
    if (int e = Run("SELECT pg_try_advisory_lock($1::int4, $2::int4)::int::int8", p, r,
                    "start indexing a document"))
      return e;
    std::int64_t got = 0;
    if (r.Rows() != 1 || !r.Int(0, 0, got)) return Damaged("an answer of another type");
    if (got != 1) {
      SetError(kRecordChangedError, {}, "0",
               "another client indexes record " + std::to_string(record));
      return kRecordChangedError;
    }
    lockedRecord_ = record;
    lockBackend_ = conn_->BackendPid();
  }
  std::int64_t stale = -1;
  const int e = Transaction("start indexing a document", false, [&] {
    PgParams p;
    p.Int(record);
    PgResult r;
    if (int e2 = Run("SELECT _ver FROM " + table_ + " WHERE _rid = $1", p, r,
                     "start indexing a document"))
      return e2;
    std::int64_t current = 0;
    if (r.Rows() != 1 || !r.Int(0, 0, current) || current != version) {
      SetError(kNoRecordError);
      return kNoRecordError;
    }
    PgParams d;
    d.Int(record);
    d.Int(version);
    if (int e2 = Run("INSERT INTO " + docs_ +
                         " (rid, ver, state, done) VALUES ($1, $2, 0, 0) ON CONFLICT (rid) DO "
                         "NOTHING",
                     d, r, "start indexing a document"))
      return e2;
    if (int e2 =
            Run("SELECT ver, state::int8, done::int8 FROM " + docs_ + " WHERE rid = $1 FOR UPDATE",
                p, r, "start indexing a document"))
      return e2;
    std::int64_t ver = 0;
    std::int64_t state = 0;
    std::int64_t done = 0;
    if (r.Rows() != 1) {  // cleared by another client between the two statements
      SetError(kRecordChangedError);
      return kRecordChangedError;
    }
    if (!r.Int(0, 0, ver) || !r.Int(0, 1, state) || !r.Int(0, 2, done) || done < 0 ||
        done > INT32_MAX)
      return Damaged("an answer of another type");
    if (ver != version) {
      stale = ver;  // the entries of another version go first, in transactions of their own
      return kNoError;
    }
    nextPage = state == static_cast<int>(TextState::Indexing) ? static_cast<int>(done) : -1;
    return kNoError;
  });
  if (e == kNoError && stale >= 0) {
    if (int e2 = ClearRecord(record, stale)) return e2;
    return BeginDocument(record, version, nextPage);
  }
  if (e != kNoError || nextPage < 0) {
    const ErrorState failure = LastError();
    static_cast<void>(Unlock());
    if (e != kNoError) SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
  }
  return e;
}

namespace {

void AppendNumber(std::string& out, std::uint64_t value, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8)
    out += static_cast<char>((value >> shift) & 0xFF);
}

std::uint64_t ReadNumber(std::string_view bytes, std::size_t at, int size) {
  std::uint64_t value = 0;
  for (int k = 0; k < size; ++k)
    value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(k)]);
  return value;
}

}  // namespace

int PgTextIndex::AddPages(std::int64_t record, std::int64_t version, int firstPage,
                          const std::vector<std::string>& texts) {
  if (texts.empty()) return kNoError;
  // The words of each page, found before the transaction starts.
  struct PageWords {
    std::size_t text = 0;
    std::vector<std::string> words;
  };
  std::vector<PageWords> pages;
  std::int64_t wordCount = 0;
  for (std::size_t n = 0; n < texts.size(); ++n) {
    if (!HasWordCharacter(texts[n])) continue;
    PageWords& page = pages.emplace_back();
    page.text = n;
    if (int e = analyzer_->Words(texts[n], page.words)) return e;
    if (page.words.size() > UINT32_MAX) {
      SetError(kFileSystemError, {}, "0", "a page has too many words to index");
      return kFileSystemError;
    }
    wordCount += static_cast<std::int64_t>(page.words.size());
  }
  return Transaction("index pages", false, [&] {
    PgParams u;
    u.Int(record);
    u.Int(version);
    u.Int(firstPage);
    u.Int(static_cast<std::int64_t>(texts.size()));
    u.Int(static_cast<std::int64_t>(pages.size()));
    u.Int(wordCount);
    PgResult r;
    if (int e = Run("UPDATE " + docs_ +
                        " SET done = done + $4, pages = pages + $5, words = words + $6 WHERE rid "
                        "= $1 AND ver = $2 AND state = 0 AND done = $3",
                    u, r, "index pages"))
      return e;
    if (r.Changed() != 1) {
      // Another client (a second instance on the table) got there first.
      SetError(kRecordChangedError);
      return kRecordChangedError;
    }
    // Each word's postings over these pages: page row, the page's count of words, the count
    // of places and the places.
    std::map<std::string, std::string> postings;
    for (const PageWords& page : pages) {
      const std::string& text = texts[page.text];
      PgParams p;
      p.Int(record);
      p.Int(version);
      p.Int(static_cast<std::int64_t>(firstPage) + static_cast<std::int64_t>(page.text));
      p.Int(static_cast<std::int64_t>(page.words.size()));
      p.Bytes(text.data(), text.size());
      if (int e =
              Run("INSERT INTO " + pages_ +
                      " (rid, ver, page, tokens, body) VALUES ($1, $2, $3, $4, $5) RETURNING id",
                  p, r, "index pages"))
        return e;
      std::int64_t id = 0;
      if (r.Rows() != 1 || !r.Int(0, 0, id)) return Damaged("an answer of another type");
      std::map<std::string_view, std::vector<std::uint32_t>> places;
      for (std::size_t at = 0; at < page.words.size(); ++at)
        places[page.words[at]].push_back(static_cast<std::uint32_t>(at));
      for (const auto& [word, list] : places) {
        std::string& out = postings[std::string(word)];
        AppendNumber(out, static_cast<std::uint64_t>(id), 8);
        AppendNumber(out, page.words.size(), 4);
        AppendNumber(out, list.size(), 4);
        for (std::uint32_t at : list)
          AppendNumber(out, at, 4);
      }
    }
    // Several statements when the words are many, each a bounded text.
    std::string headList;
    std::string tailList;
    std::string postingList;
    auto flush = [&] {
      if (headList.empty()) return kNoError;
      PgParams t;
      t.Text("{" + headList + "}");
      t.Text("{" + tailList + "}");
      t.Text("{" + postingList + "}");
      t.Int(record);
      t.Int(version);
      headList.clear();
      tailList.clear();
      postingList.clear();
      PgResult done;
      return Run("INSERT INTO " + terms_ +
                     " (head, tail, rid, ver, postings) SELECT decode(w, 'hex'), decode(t, 'hex'), "
                     "$4, $5, decode(p, 'hex') FROM unnest($1::text::text[], $2::text::text[], "
                     "$3::text::text[]) AS u(w, t, p)",
                 t, done, "index pages");
    };
    for (const auto& [word, list] : postings) {
      if (!headList.empty()) {
        headList += ',';
        tailList += ',';
        postingList += ',';
      }
      // A word's first bytes are the btree's key (its entries have a size limit), the rest
      // is compared once the key found it.
      const std::string_view bytes(word);
      AppendHex(headList, bytes.substr(0, kWordHead));
      if (bytes.size() > kWordHead) {
        AppendHex(tailList, bytes.substr(kWordHead));
      } else {
        tailList += "\"\"";
      }
      AppendHex(postingList, list);
      if (headList.size() + tailList.size() + postingList.size() >= kTermBatchBytes) {
        if (int e = flush()) return e;
      }
    }
    return flush();
  });
}

int PgTextIndex::FinishDocument(std::int64_t record, std::int64_t version, TextState state) {
  const int e = Transaction("finish indexing a document", true, [&] {
    // A document indexed to the end without a single page of text has no text layer.
    PgParams p;
    p.Int(record);
    p.Int(version);
    p.Int(static_cast<std::int64_t>(state));
    PgResult r;
    return Run("UPDATE " + docs_ + " SET state = CASE WHEN $3 = 1 AND NOT EXISTS (SELECT 1 FROM " +
                   pages_ +
                   " WHERE rid = $1 AND ver = $2) THEN 2 ELSE $3 END WHERE rid = $1 AND "
                   "ver = $2",
               p, r, "finish indexing a document");
  });
  if (lockedRecord_ == record) {
    const ErrorState failure = LastError();
    static_cast<void>(Unlock());
    if (e != kNoError) SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
  }
  return e;
}

int PgTextIndex::Places(const std::string& word, bool prefix, std::vector<Posting>& postings) {
  postings.clear();
  const std::string head = word.substr(0, kWordHead);
  const std::string tail = word.size() > kWordHead ? word.substr(kWordHead) : std::string();
  PgParams p;
  PgResult r;
  int e = kNoError;
  if (!prefix) {
    p.Bytes(head.data(), head.size());
    p.Bytes(tail.data(), tail.size());
    e = Run("SELECT postings FROM " + terms_ + " WHERE head = $1 AND tail = $2", p, r, "search");
  } else if (tail.empty()) {
    const std::string above = Successor(head);
    p.Bytes(head.data(), head.size());
    p.Bytes(above.data(), above.size());
    e = Run("SELECT postings FROM " + terms_ + " WHERE head >= $1 AND head < $2", p, r, "search");
  } else {
    p.Bytes(head.data(), head.size());
    p.Int(static_cast<std::int64_t>(tail.size()));
    p.Bytes(tail.data(), tail.size());
    e = Run(
        "SELECT postings FROM " + terms_ + " WHERE head = $1 AND substr(tail, 1, $2::int4) = $3", p,
        r, "search");
  }
  if (e) return e;
  for (int i = 0; i < r.Rows(); ++i) {
    std::string_view bytes;
    if (!r.Blob(i, 0, bytes)) return Damaged("an answer of another type");
    for (std::size_t at = 0; at < bytes.size();) {
      if (bytes.size() - at < 16) return Damaged("word places cut short");
      Posting posting;
      posting.page = static_cast<std::int64_t>(ReadNumber(bytes, at, 8));
      posting.words = static_cast<std::int64_t>(ReadNumber(bytes, at + 8, 4));
      const std::uint64_t count = ReadNumber(bytes, at + 12, 4);
      at += 16;
      if ((bytes.size() - at) / 4 < count) return Damaged("word places cut short");
      posting.places.reserve(count);
      for (std::uint64_t k = 0; k < count; ++k, at += 4)
        posting.places.push_back(static_cast<std::uint32_t>(ReadNumber(bytes, at, 4)));
      postings.push_back(std::move(posting));
    }
  }
  // By page; a prefix matches several words on one page: their places merged.
  std::sort(postings.begin(), postings.end(),
            [](const Posting& a, const Posting& b) { return a.page < b.page; });
  std::size_t kept = 0;
  for (std::size_t i = 0; i < postings.size(); ++i) {
    if (kept > 0 && postings[kept - 1].page == postings[i].page) {
      std::vector<std::uint32_t>& into = postings[kept - 1].places;
      into.insert(into.end(), postings[i].places.begin(), postings[i].places.end());
      std::sort(into.begin(), into.end());
    } else {
      if (kept != i) postings[kept] = std::move(postings[i]);
      ++kept;
    }
  }
  postings.resize(kept);
  return kNoError;
}

int PgTextIndex::Occurrences(const Phrase& phrase, std::vector<Occurrence>& pages) {
  pages.clear();
  std::vector<std::vector<Posting>> lists(phrase.words.size());
  for (std::size_t j = 0; j < phrase.words.size(); ++j) {
    const bool prefix = phrase.prefix && j + 1 == phrase.words.size();
    if (int e = Places(phrase.words[j], prefix, lists[j])) return e;
    if (lists[j].empty()) return kNoError;
  }
  auto byPage = [](const Posting& posting, std::int64_t page) { return posting.page < page; };
  for (const Posting& first : lists[0]) {
    std::vector<const std::vector<std::uint32_t>*> others;
    for (std::size_t j = 1; j < lists.size(); ++j) {
      auto it = std::lower_bound(lists[j].begin(), lists[j].end(), first.page, byPage);
      if (it == lists[j].end() || it->page != first.page) break;
      others.push_back(&it->places);
    }
    if (others.size() + 1 != lists.size()) continue;
    int count = 0;
    for (std::uint32_t at : first.places) {
      bool whole = true;
      for (std::size_t j = 0; j < others.size() && whole; ++j)
        whole = std::binary_search(others[j]->begin(), others[j]->end(),
                                   at + static_cast<std::uint32_t>(j + 1));
      if (whole) ++count;
    }
    if (count > 0) pages.push_back({first.page, first.words, count});
  }
  return kNoError;
}

int PgTextIndex::Search(const std::vector<TextTerm>& query, std::size_t limit,
                        std::vector<TextHit>& hits) {
  hits.clear();
  if (limit == 0) return kNoError;
  // Each term is a phrase of the words the index would find in it; a term in which it finds
  // none adds nothing (and a query of only such terms finds nothing).
  std::vector<Phrase> phrases;
  for (const TextTerm& term : query) {
    std::string text;
    for (const std::string& word : term.words) {
      if (!text.empty()) text += ' ';
      text += word;
    }
    Phrase phrase;
    phrase.prefix = term.prefix;
    if (int e = analyzer_->Words(text, phrase.words)) return e;
    if (!phrase.words.empty()) phrases.push_back(std::move(phrase));
  }
  if (phrases.empty()) return kNoError;

  struct Found {
    std::int64_t pid = 0;
    double rank = 0;
  };
  std::vector<Found> ranked;
  std::vector<std::string> texts;
  // One snapshot, so the matches and the checks against the table see one state.
  if (int e = BeginRead("search")) return e;
  int result = [&] {
    PgResult r;
    if (int e =
            Run("SELECT coalesce(sum(pages), 0)::int8, coalesce(sum(words), 0)::int8 FROM " + docs_,
                {}, r, "search"))
      return e;
    std::int64_t rows = 0;
    std::int64_t tokens = 0;
    if (r.Rows() != 1 || !r.Int(0, 0, rows) || !r.Int(0, 1, tokens))
      return Damaged("an answer of another type");
    if (rows == 0) return kNoError;
    const double averageLength = static_cast<double>(tokens) / static_cast<double>(rows);
    // Every phrase's pages with their counts, its weight by how rare it is (BM25), and the
    // pages holding all of them.
    std::vector<double> weights;
    struct Candidate {
      std::int64_t words = 0;
      std::vector<int> counts;  // per phrase
    };
    std::map<std::int64_t, Candidate> candidates;
    for (std::size_t i = 0; i < phrases.size(); ++i) {
      std::vector<Occurrence> pages;
      if (int e = Occurrences(phrases[i], pages)) return e;
      const auto hitCount = static_cast<std::int64_t>(pages.size());
      double idf = std::log((rows - hitCount + 0.5) / (hitCount + 0.5));
      if (idf <= 0.0) idf = 1e-6;
      weights.push_back(idf);
      if (i == 0) {
        for (const Occurrence& o : pages)
          candidates[o.page] = {o.words, {o.count}};
      } else {
        std::map<std::int64_t, Candidate> kept;
        for (const Occurrence& o : pages) {
          auto it = candidates.find(o.page);
          if (it == candidates.end()) continue;
          it->second.counts.push_back(o.count);
          kept.insert(std::move(*it));
        }
        candidates = std::move(kept);
      }
      if (candidates.empty()) return kNoError;
    }
    for (const auto& [pid, candidate] : candidates) {
      double score = 0.0;
      const auto documentLength = static_cast<double>(candidate.words);
      for (std::size_t k = 0; k < weights.size(); ++k) {
        const auto frequency = static_cast<double>(candidate.counts[k]);
        score += weights[k] * ((frequency * (kK1 + 1.0)) /
                               (frequency + kK1 * (1 - kB + kB * documentLength / averageLength)));
      }
      ranked.push_back({pid, -1.0 * score});
    }
    std::sort(ranked.begin(), ranked.end(), [](const Found& a, const Found& b) {
      return a.rank < b.rank || (a.rank == b.rank && a.pid < b.pid);
    });
    // Best first, each kept only when it belongs to its record's current version.
    const std::size_t step = std::max<std::size_t>(limit + limit / 2 + 8, 64);
    for (std::size_t from = 0; from < ranked.size() && hits.size() < limit; from += step) {
      const std::size_t to = std::min(ranked.size(), from + step);
      std::vector<std::int64_t> batch;
      for (std::size_t i = from; i < to; ++i)
        batch.push_back(ranked[i].pid);
      PgParams p;
      p.Text(IdArray(batch, 0, batch.size()));
      if (int e =
              Run("SELECT p.id, p.rid, p.page::int8, p.body FROM " + pages_ + " p JOIN " + table_ +
                      " r ON r._rid = p.rid AND r._ver = p.ver WHERE p.id = ANY($1::text::int8[])",
                  p, r, "search"))
        return e;
      std::map<std::int64_t, int> rowOf;
      for (int i = 0; i < r.Rows(); ++i) {
        std::int64_t pid = 0;
        if (!r.Int(i, 0, pid)) return Damaged("an answer of another type");
        rowOf[pid] = i;
      }
      for (std::size_t i = from; i < to && hits.size() < limit; ++i) {
        auto it = rowOf.find(ranked[i].pid);
        if (it == rowOf.end()) continue;
        TextHit hit;
        std::int64_t page = 0;
        std::string_view body;
        if (!r.Int(it->second, 1, hit.record) || !r.Int(it->second, 2, page) ||
            !r.Blob(it->second, 3, body) || page < 0 || page > INT32_MAX)
          return Damaged("an answer of another type");
        hit.page = static_cast<int>(page);
        hit.rank = ranked[i].rank;
        hits.push_back(std::move(hit));
        texts.emplace_back(body);
      }
    }
    return kNoError;
  }();
  result = EndRead(result);
  if (result == kNoError) {
    std::vector<std::string> snippets;
    result = analyzer_->Snippets(query, texts, snippets);
    for (std::size_t i = 0; result == kNoError && i < hits.size(); ++i)
      hits[i].snippet = std::move(snippets[i]);
  }
  if (result != kNoError) hits.clear();
  return result;
}

int PgTextIndex::Progress(TextProgress& progress) {
  progress = {};
  PgResult r;
  if (int e = Run("SELECT (SELECT count(*) FROM " + table_ +
                      ")::int8, count(*)::int8, coalesce(sum((d.state >= 2)::int), 0)::int8 FROM " +
                      docs_ + " d JOIN " + table_ +
                      " r ON r._rid = d.rid AND r._ver = d.ver WHERE d.state <> 0",
                  {}, r, "count indexed documents"))
    return e;
  if (r.Rows() != 1 || !r.Int(0, 0, progress.documents) || !r.Int(0, 1, progress.done) ||
      !r.Int(0, 2, progress.withoutText)) {
    progress = {};
    return Damaged("an answer of another type");
  }
  return kNoError;
}

}  // namespace rt
