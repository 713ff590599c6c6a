// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/store/StoreDriver.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <utility>

#include "platform/runtime/files/File.h"
#include "platform/runtime/files/LockedFileRegistry.h"
#include "platform/runtime/threads/ErrnoText.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Text.h"
#include "platform/sqltable/SqlText.h"
#include "platform/sqltable/TableValues.h"
#include "platform/store/StoreStatement.h"
#include "platform/store/StoreStatementGuard.h"
#include "platform/store/StoreViewCursor.h"

namespace rt {

static_assert(kStoreChunkSize == kTableChunkSize, "STORE stores BLOBs in the shared chunk size");

namespace {

// Format 2 stores a checksum with every BLOB chunk; format 1 tables (none) still open.
constexpr const char* kFormatVersion = "2";
constexpr const char* kFormatWithoutChecksums = "1";

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// kNoError when the table file and its side files are regular files (or missing); anything
// else (a pipe, a device, a folder) is refused before it is opened, since opening some of them
// would block.
int RequireRegularFiles(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) {
    const std::string p = path + suffix;
    struct stat st {};
    if (::stat(p.c_str(), &st) != 0) continue;
    if (!S_ISREG(st.st_mode)) {
      SetError(kBadFileError, {}, "0", p + " is not a regular file");
      return kBadFileError;
    }
  }
  return kNoError;
}

bool NonEmpty(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

std::string Folder(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A unique name next to path for a table under construction.
std::string TemporaryName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  return path + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) + "-" +
         std::to_string(random() & 0xFFFFFF);
}

void RemoveWithSideFiles(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"})
    ::unlink((path + suffix).c_str());
}

// An exclusive lock on a folder, held while a table is moved into place, so that creators in
// other threads and processes take turns. Best effort: without it the move is still atomic.
class FolderLock {
 public:
  explicit FolderLock(const std::string& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // Makes the folder's entries durable.
  void Sync() const {
    if (fd_ >= 0) ::fsync(fd_);
  }

 private:
  int fd_;
};

std::string UriPath(const std::string& path) {
  std::string out = "file:";
  for (char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
      out += buf;
    } else {
      out += c;
    }
  }
  return out + "?immutable=1";
}

}  // namespace

void RegisterStoreDriver() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFileDriver(kStoreDriverName, kStoreExtension,
                       [](File& f) { return std::make_unique<StoreDriver>(f); });
  });
}

StoreDriver::StoreDriver(File& file) : SqlTableDriver(file, "records", "blob_chunks", false) {}

StoreDriver::~StoreDriver() {
  Disconnect();
}

// ---- Schema ----

std::string StoreDriver::ComponentExpr(const KeyComponent& c) const {
  std::string expr = Column(c.field);
  if (c.noCase && IsText(file_.Layout().Field(c.field).type)) expr += " COLLATE NOCASE";
  return expr;
}

std::string StoreDriver::IndexSql(const FileKey& key) const {
  std::string sql = key.Unique() ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
  sql += SqlIdentifier("key:" + key.Name()) + " ON records(";
  for (int i = 1; i <= key.ComponentCount(); ++i) {
    if (i > 1) sql += ", ";
    sql += ComponentExpr(key.Component(i));
    sql += key.Component(i).ascending ? " ASC" : " DESC";
  }
  return sql + ")";
}

std::string StoreDriver::TableLabel() const {
  return file_.PhysicalName();
}

int StoreDriver::Fail(int rc, std::string_view what) {
  const int primary = rc & 0xFF;
  const std::string text = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  const std::string driverText = std::string(what) + ": " + text;
  const std::string driverCode = std::to_string(rc);
  int code = kDriverError;
  switch (primary) {
    case SQLITE_CONSTRAINT:
      code = (rc == SQLITE_CONSTRAINT_UNIQUE || rc == SQLITE_CONSTRAINT_PRIMARYKEY) ? kDupKeyError
                                                                                    : kDriverError;
      break;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      code = kBadFileError;
      break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      code = kAccessDenied;
      break;
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_NOMEM:
      code = kFileSystemError;
      break;
    case SQLITE_CANTOPEN:
      code = kAccessDenied;
      break;
    default:
      break;
  }
  SetError(code, {}, driverCode, driverText);
  return code;
}

StoreStatementGuard StoreDriver::Statement(const std::string& sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) {
    it->second->Reset();
    return StoreStatementGuard(it->second.get());
  }
  auto stmt = std::make_unique<StoreStatement>();
  const int rc = stmt->Prepare(db_, sql);
  if (rc != SQLITE_OK) {
    Fail(rc, "prepare");
    return StoreStatementGuard();
  }
  return StoreStatementGuard(statements_.emplace(sql, std::move(stmt)).first->second.get());
}

int StoreDriver::Exec(const std::string& sql) {
  char* message = nullptr;
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  sqlite3_free(message);
  if (rc != SQLITE_OK) return Fail(rc, sql);
  return kNoError;
}

int StoreDriver::CheckSchema() {
  StoreStatement meta;
  int rc = meta.Prepare(db_, "SELECT value FROM store_meta WHERE name = 'format'");
  if (rc != SQLITE_OK) {
    if ((rc & 0xFF) == SQLITE_ERROR) {
      SetError(kBadFileError, {}, std::to_string(rc), "not a table of the STORE driver");
      return kBadFileError;
    }
    return Fail(rc, "open");
  }
  rc = meta.Step();
  if (rc != SQLITE_ROW) {
    if (rc != SQLITE_DONE) return Fail(rc, "open");
    SetError(kBadFileError, {}, "0", "not a table of the STORE driver");
    return kBadFileError;
  }
  if (meta.Text(0) == kFormatVersion) {
    checksums_ = true;
  } else if (meta.Text(0) == kFormatWithoutChecksums) {
    checksums_ = false;
  } else {
    SetError(kBadFileError, {}, "0", "unknown STORE format " + std::string(meta.Text(0)));
    return kBadFileError;
  }
  // Every declared field and BLOB must have its column.
  StoreStatement cols;
  if ((rc = cols.Prepare(db_, "SELECT name FROM pragma_table_info('records')")) != SQLITE_OK) {
    return Fail(rc, "open");
  }
  std::vector<std::string> present;
  while ((rc = cols.Step()) == SQLITE_ROW)
    present.emplace_back(cols.Text(0));
  if (rc != SQLITE_DONE) return Fail(rc, "open");
  auto has = [&](const std::string& quoted) {
    const std::string bare = quoted.substr(1, quoted.size() - 2);
    for (const auto& p : present) {
      if (SameName(p, bare)) return true;
    }
    return false;
  };
  for (int f = 1; f <= file_.Layout().FieldCount(); ++f) {
    if (!has(Column(f))) {
      SetError(kBadFileError, {}, "0", "the table has no column " + Column(f));
      return kBadFileError;
    }
  }
  for (int b = 1; b <= file_.BlobCount(); ++b) {
    if (!has(SqlIdentifier("_bsize" + std::to_string(b)))) {
      SetError(kBadFileError, {}, "0", "the table has no BLOB " + std::to_string(b));
      return kBadFileError;
    }
  }
  // Every key must exist as an index with the declared definition.
  StoreStatement idx;
  if ((rc = idx.Prepare(db_, "SELECT sql FROM sqlite_master WHERE type = 'index' AND name = ?")) !=
      SQLITE_OK) {
    return Fail(rc, "open");
  }
  for (int k = 1; k <= file_.KeyCount(); ++k) {
    const FileKey& key = *file_.Key(k);
    idx.Reset();
    idx.Bind(1, std::string_view("key:" + key.Name()));
    rc = idx.Step();
    if (rc != SQLITE_ROW || idx.Text(0) != IndexSql(key)) {
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) return Fail(rc, "open");
      SetError(kInvalidKeyError, {}, "0", "key " + key.Name() + " needs building");
      return kInvalidKeyError;
    }
  }
  ClearError();
  return kNoError;
}

int StoreDriver::CreateIndexes(bool replace) {
  for (int k = 1; k <= file_.KeyCount(); ++k) {
    const FileKey& key = *file_.Key(k);
    if (replace) {
      if (int e = Exec("DROP INDEX IF EXISTS " + SqlIdentifier("key:" + key.Name()))) return e;
    }
    if (int e = Exec(IndexSql(key))) return e;
  }
  return kNoError;
}

// ---- Create, open, close, build ----

int StoreDriver::Create() {
  const std::string path = file_.PhysicalName();
  if (int e = RequireRegularFiles(path)) return e;
  // A table made meanwhile by another thread or process is kept: the caller opens it.
  if (Exists(path)) {
    ClearError();
    return kNoError;
  }
  const std::string temporary = TemporaryName(path);
  const int rc =
      sqlite3_open_v2(temporary.c_str(), &db_,
                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
  int result = kNoError;
  if (rc != SQLITE_OK) {
    result = Fail(rc, "create " + path);
  } else {
    std::string table =
        "CREATE TABLE records (_rid INTEGER PRIMARY KEY AUTOINCREMENT, _ver INTEGER NOT NULL "
        "DEFAULT 1, _nulls TEXT";
    for (int b = 1; b <= file_.BlobCount(); ++b) {
      table += ", _bsize" + std::to_string(b) + " INTEGER NOT NULL DEFAULT 0";
    }
    for (int f = 1; f <= file_.Layout().FieldCount(); ++f) {
      table += ", " + Column(f) + " " + SqlColumnType(file_.Layout().Field(f).type);
    }
    table += ")";
    sqlite3_busy_timeout(db_, busyMs_);
    result = Exec("PRAGMA journal_mode=WAL");
    if (!result) result = Exec("BEGIN IMMEDIATE");
    if (!result) result = Exec(table);
    if (!result) {
      result = Exec(
          "CREATE TABLE blob_chunks (rid INTEGER NOT NULL, blob INTEGER NOT NULL, chunk INTEGER "
          "NOT NULL, bytes BLOB NOT NULL, sum INTEGER NOT NULL, UNIQUE (rid, blob, chunk))");
    }
    if (!result) result = Exec("CREATE TABLE store_meta (name TEXT PRIMARY KEY, value TEXT)");
    if (!result) {
      StoreStatement s;
      s.Prepare(db_, "INSERT INTO store_meta VALUES ('format', ?), ('label', ?)");
      s.Bind(1, std::string_view(kFormatVersion));
      s.Bind(2, std::string_view(file_.Label()));
      const int src = s.Step();
      if (src != SQLITE_DONE) result = Fail(src, "create");
    }
    if (!result) result = CreateIndexes(false);
    result = CommitOrRollback(result);
  }
  // Closing the only connection checkpoints the log into the file and removes it.
  Disconnect();
  if (result == kNoError) {
    // The finished table goes into place only when there is none: link fails when the name
    // is taken, so a table another creator placed first is never replaced.
    FolderLock lock(Folder(path));
    if (!Exists(path)) {
      // Side files without a table are left over from a table deleted by hand; they must not
      // be applied to the new one.
      for (const char* suffix : {"-wal", "-shm"})
        ::unlink((path + suffix).c_str());
      int moved = ::link(temporary.c_str(), path.c_str());
      // Without hard links the move is still safe under the lock against other creators.
      if (moved != 0 && (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS)) {
        moved = ::rename(temporary.c_str(), path.c_str());
      }
      if (moved != 0 && errno != EEXIST) {
        const int err = errno;
        SetError(kAccessDenied, {}, std::to_string(err),
                 "cannot create " + path + ": " + ErrnoText(err));
        result = kAccessDenied;
      }
      lock.Sync();
    }
  }
  RemoveWithSideFiles(temporary);
  if (result == kNoError) ClearError();
  return result;
}

int StoreDriver::CommitOrRollback(int result) {
  if (result == kNoError) result = Exec("COMMIT");
  if (result != kNoError) {
    const ErrorState err = LastError();
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    SetError(err.code, err.text, err.driverCode, err.driverText);
  }
  return result;
}

void StoreDriver::Disconnect() {
  EndQuickScan();
  statements_.clear();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  LockedFileRegistry::Remove(std::exchange(lockedEntry_, 0));
}

int StoreDriver::Open(int mode) {
  const std::string path = file_.PhysicalName();
  mode_ = mode;
  if (!Exists(path)) return Code(kNoFileError);
  if (int e = RequireRegularFiles(path)) return e;
  const bool write = Writable();
  if (write && ::access(path.c_str(), W_OK) != 0) return Code(kAccessDenied);
  if (::access(path.c_str(), R_OK) != 0) return Code(kAccessDenied);
  const std::string recover = file_.Option("RECOVER");
  if (!recover.empty()) busyMs_ = std::max(1, std::atoi(recover.c_str())) * 1000;

  auto attempt = [&](const std::string& name, int flags) {
    Disconnect();
    int rc = sqlite3_open_v2(name.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) return Fail(rc, "open " + path);
    sqlite3_busy_timeout(db_, busyMs_);
    sqlite3_extended_result_codes(db_, 1);
    return CheckSchema();
  };
  int result = attempt(path, write ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
  if (result == kAccessDenied && !write) {
    // A read-only table in a folder where its side files cannot be made. Without a log every
    // committed row is in the file, so it can be read as unchanging; with one, reading the
    // file alone would show an older state as if it were current, so the open fails.
    if (NonEmpty(path + "-wal")) {
      Disconnect();
      SetError(kAccessDenied, {}, "0",
               "cannot read " + path + " read-only: its recent changes are in " + path +
                   "-wal, which needs a writable folder to be read");
      return kAccessDenied;
    }
    result = attempt(UriPath(path), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
  }
  if (result == kNoError && write && sqlite3_db_readonly(db_, "main") == 1) {
    result = Code(kAccessDenied);
  }
  if (result == kNoError && write) result = Exec("PRAGMA synchronous=FULL");
  if (result != kNoError) {
    Disconnect();
    return result;
  }
  // While connected, nothing else in the process may open the table's files: closing such a
  // descriptor would drop the connection's locks.
  lockedEntry_ = LockedFileRegistry::Add(path);
  Forget();
  ClearError();
  return kNoError;
}

int StoreDriver::Close() {
  AbandonTransaction();
  statements_.clear();
  const int rc = db_ ? sqlite3_close_v2(db_) : SQLITE_OK;
  db_ = nullptr;
  LockedFileRegistry::Remove(std::exchange(lockedEntry_, 0));
  if (rc != SQLITE_OK) return Fail(rc, "close");
  ClearError();
  return kNoError;
}

int StoreDriver::Build() {
  const std::string path = file_.PhysicalName();
  if (!Exists(path)) return Code(kNoFileError);
  if (int e = RequireRegularFiles(path)) return e;
  int rc =
      sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  int result = kNoError;
  if (rc != SQLITE_OK) {
    result = Fail(rc, "build " + path);
  } else {
    lockedEntry_ = LockedFileRegistry::Add(path);
    sqlite3_busy_timeout(db_, busyMs_);
    result = CheckSchema();
    if (result == kInvalidKeyError || result == kNoError) {
      result = Exec("BEGIN IMMEDIATE");
      if (!result) result = CreateIndexes(true);
      result = CommitOrRollback(result);
    }
  }
  Disconnect();
  if (result == kNoError) ClearError();
  return result;
}

int StoreDriver::Send(std::string_view option, std::string_view value, std::string& reply) {
  if (option == "RECOVER") {
    busyMs_ = std::max(1, std::atoi(std::string(value).c_str())) * 1000;
    if (db_) sqlite3_busy_timeout(db_, busyMs_);
    reply = std::string(value);
  } else if (option == "QUICKSCAN") {
    if (SameName(value, "ON") || value == "1") {
      BeginQuickScan();
    } else {
      EndQuickScan();
    }
    reply = std::string(value);
  } else if (option != "FILEBUFFERS") {
    return NotSupported();
  }
  ClearError();
  return kNoError;
}

// ---- Transactions ----

void StoreDriver::BeginQuickScan() {
  if (quickScan_ || inTransaction_ || !db_ || !sqlite3_get_autocommit(db_)) return;
  auto s = Statement("BEGIN");
  if (!s) return;
  quickScan_ = s->Step() == SQLITE_DONE;
  if (quickScan_) ++quickScans_;
  s->Reset();
}

void StoreDriver::EndQuickScan() {
  if (!quickScan_) return;
  quickScan_ = false;
  if (!db_ || sqlite3_get_autocommit(db_)) return;
  auto s = Statement("COMMIT");
  const bool done = s && s->Step() == SQLITE_DONE;
  if (s) s->Reset();
  if (!done) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

int StoreDriver::BeginTransaction(int timeoutSeconds) {
  EndQuickScan();
  sqlite3_busy_timeout(db_, std::max(1, timeoutSeconds) * 1000);
  const int result = Exec("BEGIN IMMEDIATE");
  sqlite3_busy_timeout(db_, busyMs_);
  return result;
}

int StoreDriver::CommitTransaction() {
  return CommitOrRollback(kNoError);
}

int StoreDriver::RollbackTransaction() {
  return Exec("ROLLBACK");
}

// ---- Size and views ----

int StoreDriver::Size(std::int64_t& bytes) {
  struct stat st {};
  const std::string path = file_.PhysicalName();
  if (::stat(path.c_str(), &st) != 0) return Code(kNoFileError);
  bytes = st.st_size;
  ClearError();
  return kNoError;
}

// ---- Views ----

int StoreDriver::OpenViewCursor(const ViewQuery& query, std::unique_ptr<ViewCursor>& cursor) {
  auto made = std::make_unique<StoreViewCursor>(*this, alive_, query);
  if (int e = made->Prepare()) return e;
  cursor = std::move(made);
  ClearError();
  return kNoError;
}

}  // namespace rt
