// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgDriver.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/pgstore/PgChangeWatch.h"
#include "platform/pgstore/PgStore.h"
#include "platform/pgstore/PgViewCursor.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/SqlText.h"
#include "platform/sqltable/TableValues.h"

namespace rt {

namespace {

// The table's comment: marks it as a table of this driver, with its format.
constexpr const char* kFormatComment = "PGSTORE 1";
// Longer names would be shortened by the server, and two tables could then share one.
constexpr std::size_t kMaxTableName = 48;

// A field's column as a table is made: the driver always writes a value, and another
// program's insert that leaves the column out stores the blank value. No row has a NULL that
// keyset reads could not continue from.
std::string ColumnDefinition(FieldType t) {
  const std::string_view sql = SqlColumnType(t);
  if (sql == "REAL") return "double precision NOT NULL DEFAULT 0";
  if (sql == "TEXT") return "text COLLATE \"C\" NOT NULL DEFAULT ''";
  return "bigint NOT NULL DEFAULT 0";
}

// The RECOVER option's seconds (at least one) as the server's lock_timeout.
int LockWaitMs(const std::string& seconds) {
  return std::max(1, std::atoi(seconds.c_str())) * 1000;
}

Oid ServerTypeOid(FieldType t) {
  const std::string_view sql = SqlColumnType(t);
  if (sql == "REAL") return kPgFloat8;
  if (sql == "TEXT") return kPgText;
  return kPgInt8;
}

std::string AsciiLower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

std::string& Conninfo() {
  static std::string conninfo;
  return conninfo;
}
std::mutex& ConninfoMutex() {
  static std::mutex mutex;
  return mutex;
}

// The columns of a reply row as ReadRowFrom reads them, each checked for its type.
class PgColumns {
 public:
  PgColumns(const PgResult& r, int row) : r_(r), row_(row) {}
  bool Int(int column, std::int64_t& v) const { return r_.Int(row_, column, v); }
  bool Real(int column, double& v) const { return r_.Real(row_, column, v); }
  bool Text(int column, std::string_view& v) const { return r_.Text(row_, column, v); }
  bool Counter(int column, std::int64_t& v) const {
    return r_.Int(row_, column, v) && !r_.Null(row_, column);
  }

 private:
  const PgResult& r_;
  int row_;
};

}  // namespace

void RegisterPgDriver(std::string conninfo) {
  {
    std::lock_guard lock(ConninfoMutex());
    Conninfo() = std::move(conninfo);
  }
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterFileDriver(kPgDriverName, "", [](File& f) {
      std::string info;
      {
        std::lock_guard lock(ConninfoMutex());
        info = Conninfo();
      }
      return std::make_unique<PgDriver>(f, std::move(info));
    });
  });
}

std::string PgDriver::RegisteredConninfo() {
  std::lock_guard lock(ConninfoMutex());
  return Conninfo();
}

std::string PgDriver::BareName(const std::string& physicalName) {
  std::string name = physicalName;
  const auto slash = name.find_last_of('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  const auto dot = name.find('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::string PgDriver::TableName(const std::string& physicalName) {
  return SqlIdentifier(BareName(physicalName));
}

PgDriver::PgDriver(File& file, std::string conninfo)
    : SqlTableDriver(file, TableName(file.PhysicalName()),
                     SqlIdentifier(BareName(file.PhysicalName()) + "$chunks"), true),
      conninfo_(std::move(conninfo)),
      conn_(conninfo_),
      bare_(BareName(file.PhysicalName())) {
  // A reply is held whole: a large BLOB is read a slice at a time, never held twice.
  chunksPerQuery_ = 16;
}

PgDriver::~PgDriver() = default;

// ---- Schema ----

std::string PgDriver::ComponentExpr(const KeyComponent& c) const {
  if (c.noCase && IsText(file_.Layout().Field(c.field).type)) {
    return "lower(" + Column(c.field) + ")";
  }
  return Column(c.field);
}

std::string PgDriver::IndexName(const FileKey& key) const {
  return SqlIdentifier(bare_ + "#k" + std::to_string(key.Number()));
}

std::string PgDriver::KeySignature(const FileKey& key) const {
  std::string s = key.Unique() ? "unique" : "dups by record";
  for (const KeyComponent& c : key.Components()) {
    s += " " + ComponentExpr(c) + (c.ascending ? " ASC" : " DESC");
  }
  return s;
}

std::string PgDriver::IndexSql(const FileKey& key) const {
  std::string sql = key.Unique() ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
  sql += IndexName(key) + " ON " + table_ + " (";
  for (int i = 1; i <= key.ComponentCount(); ++i) {
    if (i > 1) sql += ", ";
    const KeyComponent& c = key.Component(i);
    sql += ComponentExpr(c) + (c.ascending ? " ASC" : " DESC");
  }
  // Records with equal values follow in record-id order, the order's last tie breaker, so
  // that paging through duplicates stays one index range.
  if (!key.Unique()) sql += ", _rid ASC";
  return sql + "); COMMENT ON INDEX " + IndexName(key) + " IS " + SqlLiteral(KeySignature(key));
}

int PgDriver::Connect() {
  if (conn_.Get()) {
    // Notifications heard meanwhile mean another client changed the table; a connection the
    // server closed meanwhile is noticed here, before a statement is sent on it.
    changes_ += static_cast<std::uint64_t>(conn_.TakeNotifications());
  }
  if (conn_.Connected()) return kNoError;
  if (inTransaction_) {
    SetError(kFileSystemError, {}, "0",
             "the connection to the server was lost: the transaction on " + bare_ + " is over");
    return kFileSystemError;
  }
  ++changes_;  // whatever was read before may have changed unheard
  if (int e = conn_.Connect()) return e;
  ownBackend_->store(conn_.BackendPid());
  if (open_) {
    std::string sql;
    for (const std::string& statement : SessionStatements())
      sql += (sql.empty() ? "" : "; ") + statement;
    return conn_.Exec(sql, "listen");
  }
  return kNoError;
}

std::uint64_t PgDriver::HeardChanges() {
  changes_ += static_cast<std::uint64_t>(conn_.TakeReceivedNotifications());
  return changes_;
}

std::uint64_t PgDriver::ChangeCount() {
  if (conn_.Get()) changes_ += static_cast<std::uint64_t>(conn_.TakeNotifications());
  return changes_;
}

namespace {
std::atomic<std::uint64_t> gCommitsInProcess{0};
}  // namespace

std::uint64_t PgDriver::CommitsInProcess() {
  return gCommitsInProcess.load(std::memory_order_acquire);
}

void PgDriver::CountCommit() {
  gCommitsInProcess.fetch_add(1, std::memory_order_release);
}

int PgDriver::CheckSchema(const std::vector<std::string>& then, bool* announced) {
  // One catalog query: the table's comment (kind 0, no row when the table is missing), its
  // columns with their types (kind 1), each key's index comment (kind 1 + key number) and
  // whether the change trigger is there (the kind after the keys').
  std::string sql =
      "SELECT 0::int8, coalesce(obj_description(c.oid, 'pg_class'), ''), 0::int8 FROM pg_class "
      "c WHERE c.oid = to_regclass($1) UNION ALL SELECT 1::int8, attname::text, atttypid::int8 "
      "FROM pg_attribute WHERE attrelid = to_regclass($1) AND attnum > 0 AND NOT attisdropped";
  for (int k = 1; k <= file_.KeyCount(); ++k) {
    sql += " UNION ALL SELECT " + std::to_string(1 + k) +
           "::int8, coalesce(obj_description(to_regclass(" + SqlLiteral(IndexName(*file_.Key(k))) +
           "), 'pg_class'), ''), 0::int8";
  }
  const int triggerKind = 2 + file_.KeyCount();
  sql += " UNION ALL SELECT " + std::to_string(triggerKind) +
         "::int8, '', count(*)::int8 FROM pg_trigger WHERE tgrelid = to_regclass($1) AND tgname = ";
  sql += SqlLiteral(NotifyName());
  PgParams p;
  p.Text(table_);
  PgResult r;
  if (int e = conn_.RunOnce(sql, p, r, "open " + bare_, {}, then)) return e;
  bool found = false;
  std::string_view comment;
  std::vector<std::string_view> signatures(static_cast<std::size_t>(file_.KeyCount()));
  std::vector<std::pair<std::string_view, std::int64_t>> columns;
  for (int i = 0; i < r.Rows(); ++i) {
    std::int64_t kind = 0;
    std::int64_t type = 0;
    std::string_view text;
    if (r.Columns() != 3 || !r.Int(i, 0, kind) || !r.Text(i, 1, text) || !r.Int(i, 2, type) ||
        kind < 0 || kind > triggerKind) {
      SetError(kBadFileError, {}, "0", "unexpected reply from the server");
      return kBadFileError;
    }
    if (kind == 0) {
      found = true;
      comment = text;
    } else if (kind == 1) {
      columns.emplace_back(text, type);
    } else if (kind == triggerKind) {
      if (announced) *announced = type > 0;
    } else {
      signatures[static_cast<std::size_t>(kind - 2)] = text;
    }
  }
  if (!found) return Code(kNoFileError);
  if (comment != kFormatComment) {
    SetError(kBadFileError, {}, "0", "not a table of the PGSTORE driver");
    return kBadFileError;
  }
  // Every field and BLOB must have its column, of the type the driver writes.
  auto typeOf = [&](const std::string& quoted) -> std::int64_t {
    const std::string bare = quoted.substr(1, quoted.size() - 2);
    for (const auto& [name, type] : columns) {
      if (name == bare) return type;
    }
    return -1;
  };
  for (int f = 1; f <= file_.Layout().FieldCount(); ++f) {
    const std::int64_t type = typeOf(Column(f));
    if (type != static_cast<std::int64_t>(ServerTypeOid(file_.Layout().Field(f).type))) {
      SetError(kBadFileError, {}, "0",
               type < 0 ? "the table has no column " + Column(f)
                        : "the column " + Column(f) + " has another type");
      return kBadFileError;
    }
  }
  for (int b = 1; b <= file_.BlobCount(); ++b) {
    if (typeOf("\"_bsize" + std::to_string(b) + "\"") != kPgInt8) {
      SetError(kBadFileError, {}, "0", "the table has no BLOB " + std::to_string(b));
      return kBadFileError;
    }
  }
  for (int k = 1; k <= file_.KeyCount(); ++k) {
    const FileKey& key = *file_.Key(k);
    if (signatures[static_cast<std::size_t>(k - 1)] != KeySignature(key)) {
      SetError(kInvalidKeyError, {}, "0", "key " + key.Name() + " needs building");
      return kInvalidKeyError;
    }
  }
  ClearError();
  return kNoError;
}

int PgDriver::CreateIndexes(bool replace) {
  for (int k = 1; k <= file_.KeyCount(); ++k) {
    const FileKey& key = *file_.Key(k);
    if (replace) {
      if (int e = conn_.Exec("DROP INDEX IF EXISTS " + IndexName(key), "build")) return e;
    }
    if (int e = conn_.Exec(IndexSql(key), "build")) return e;
  }
  return kNoError;
}

std::string PgDriver::NotifyName() const {
  return bare_ + "$notify";
}

int PgDriver::CreateNotifyTrigger() {
  const std::string name = SqlIdentifier(NotifyName());
  if (int e = conn_.Exec("CREATE OR REPLACE FUNCTION " + name +
                             "() RETURNS trigger LANGUAGE plpgsql AS $$BEGIN PERFORM "
                             "pg_notify(TG_ARGV[0], ''); RETURN NULL; END$$",
                         "announce changes")) {
    return e;
  }
  return conn_.Exec("CREATE TRIGGER " + name + " AFTER INSERT OR UPDATE OR DELETE OR TRUNCATE ON " +
                        table_ + " FOR EACH STATEMENT EXECUTE FUNCTION " + name + "(" +
                        SqlLiteral(bare_) + ")",
                    "announce changes");
}

void PgDriver::AddNotifyTrigger() {
  int result = LockTableCreation("announce changes");
  if (!result) {
    PgParams p;
    p.Text(table_);
    p.Text(NotifyName());
    PgResult r;
    std::int64_t found = 0;
    result =
        conn_.Run("SELECT count(*) FROM pg_trigger WHERE tgrelid = to_regclass($1) AND tgname = $2",
                  p, r, "announce changes");
    if (!result && r.Rows() == 1 && r.Int(0, 0, found) && found == 0)
      result = CreateNotifyTrigger();
  }
  if (conn_.Connected()) conn_.Exec(result ? "ROLLBACK" : "COMMIT", "announce changes");
  ClearError();
}

int PgDriver::LockTableCreation(std::string_view what) {
  if (int e = conn_.Exec("BEGIN", what)) return e;
  PgParams p;
  p.Text("PGSTORE:" + bare_);
  PgResult r;
  return conn_.Run("SELECT pg_advisory_xact_lock(hashtext($1)::int8)", p, r, what);
}

// ---- Create, open, close, build ----

int PgDriver::Create() {
  if (bare_.empty() || bare_.size() > kMaxTableName) {
    SetError(kBadNameError, {}, "0", "a table name on the server has 1 to 48 bytes");
    return kBadNameError;
  }
  if (int e = Connect()) return e;
  // One creator at a time per table name, in every client: the others find it made.
  int result = LockTableCreation("create " + bare_);
  if (!result) {
    std::string table = "CREATE TABLE IF NOT EXISTS " + table_ +
                        " (_rid bigserial PRIMARY KEY, _ver bigint NOT NULL DEFAULT 1, _nulls "
                        "text COLLATE \"C\"";
    for (int b = 1; b <= file_.BlobCount(); ++b)
      table += ", _bsize" + std::to_string(b) + " bigint NOT NULL DEFAULT 0";
    for (int f = 1; f <= file_.Layout().FieldCount(); ++f)
      table += ", " + Column(f) + " " + ColumnDefinition(file_.Layout().Field(f).type);
    table += ")";
    PgParams p;
    p.Text(table_);
    PgResult r;
    std::int64_t found = 0;
    result = conn_.Run("SELECT count(*) FROM pg_class WHERE oid = to_regclass($1)", p, r,
                       "create " + bare_);
    if (!result && r.Rows() == 1 && r.Int(0, 0, found) && found == 0) {
      result = conn_.Exec(table, "create " + bare_);
      if (!result) {
        result = conn_.Exec("CREATE TABLE " + chunks_ +
                                " (rid bigint NOT NULL, blob bigint NOT NULL, chunk bigint NOT "
                                "NULL, bytes bytea NOT NULL, sum bigint NOT NULL, PRIMARY KEY "
                                "(rid, blob, chunk))",
                            "create " + bare_);
      }
      if (!result) {
        result = conn_.Exec("COMMENT ON TABLE " + table_ + " IS " + SqlLiteral(kFormatComment),
                            "create " + bare_);
      }
      if (!result) result = CreateIndexes(false);
      if (!result) result = CreateNotifyTrigger();
    }
  }
  if (!result) {
    result = conn_.Exec("COMMIT", "create " + bare_);
  } else {
    const ErrorState failure = LastError();
    if (conn_.Connected()) conn_.Exec("ROLLBACK", "create");
    SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
  }
  conn_.Disconnect();
  if (!result) ClearError();
  return result;
}

int PgDriver::Open(int mode) {
  mode_ = mode;
  if (bare_.empty() || bare_.size() > kMaxTableName) return Code(kNoFileError);
  const std::string recover = file_.Option("RECOVER");
  if (!recover.empty()) lockWaitMs_ = LockWaitMs(recover);
  int result = Connect();
  // The schema check, the LISTEN and the session's settings in one round trip: a refused
  // table drops the connection.
  bool announced = true;
  if (!result) result = CheckSchema(SessionStatements(), &announced);
  if (result) {
    conn_.Disconnect();
    return result;
  }
  if (!announced && Writable()) AddNotifyTrigger();
  open_ = true;
  Forget();
  ClearError();
  return kNoError;
}

int PgDriver::Close() {
  AbandonTransaction();
  open_ = false;
  conn_.Disconnect();
  ownBackend_->store(0);
  orderEnds_.clear();
  ClearError();
  return kNoError;
}

int PgDriver::Build() {
  int result = Connect();
  if (!result) result = CheckSchema({});
  if (result == kInvalidKeyError || result == kNoError) {
    result = conn_.Exec("BEGIN", "build");
    if (!result) result = CreateIndexes(true);
    if (!result) {
      result = conn_.Exec("COMMIT", "build");
    } else if (conn_.Connected()) {
      const ErrorState failure = LastError();
      conn_.Exec("ROLLBACK", "build");
      SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
    }
  }
  conn_.Disconnect();
  if (result == kNoError) ClearError();
  return result;
}

int PgDriver::Send(std::string_view option, std::string_view value, std::string& reply) {
  if (option != "FILEBUFFERS" && option != "RECOVER" && option != "QUICKSCAN") {
    return NotSupported();
  }
  if (option == "RECOVER") {
    lockWaitMs_ = LockWaitMs(std::string(value));
    // A connection made later takes it when it connects.
    if (open_ && conn_.Connected() && !inTransaction_ && !LockTimeout().empty()) {
      if (int e = conn_.Exec(LockTimeout(), "lock wait")) return e;
    }
  }
  reply = std::string(value);
  ClearError();
  return kNoError;
}

KeyValue PgDriver::KeyArgument(const KeyComponent& c, const KeyValue& value) const {
  KeyValue v = ColumnValue(file_.Layout().Field(c.field).type, value);
  if (auto* text = std::get_if<std::string>(&v); text && c.noCase) *text = AsciiLower(*text);
  return v;
}

int PgDriver::ReadRow(const PgResult& r, int at, Row& row) const {
  return ReadRowFrom(PgColumns(r, at), row);
}

std::string PgDriver::LockTimeout() const {
  if (conninfo_.find("lock_timeout") != std::string::npos) return {};
  return "SET lock_timeout = " + std::to_string(lockWaitMs_);
}

std::vector<std::string> PgDriver::SessionStatements() const {
  std::vector<std::string> settings{"LISTEN " + table_, kGenericPlans};
  if (std::string wait = LockTimeout(); !wait.empty()) settings.push_back(std::move(wait));
  return settings;
}

// ---- Transactions ----

int PgDriver::BeginTransaction(int timeoutSeconds) {
  if (int e = Connect()) return e;
  return conn_.Exec(
      "BEGIN; SET LOCAL lock_timeout = " + std::to_string(std::max(1, timeoutSeconds) * 1000),
      "start transaction");
}

int PgDriver::CommitTransaction() {
  int result = Connect();  // fails when the connection, and the transaction with it, is gone
  if (!result) result = conn_.Exec("COMMIT", "commit");
  if (!result) CountCommit();
  if (result != kNoError && conn_.Connected()) {
    const ErrorState failure = LastError();
    conn_.Exec("ROLLBACK", "commit");
    SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
  }
  return result;
}

int PgDriver::RollbackTransaction() {
  // A transaction lost with its connection is rolled back already.
  return conn_.Connected() ? conn_.Exec("ROLLBACK", "rollback") : kNoError;
}

int PgDriver::Size(std::int64_t& bytes) {
  PgParams p;
  p.Text(table_);
  p.Text(chunks_);
  PgResult r;
  if (int e = Run("SELECT (pg_total_relation_size(to_regclass($1)) + "
                  "pg_total_relation_size(to_regclass($2)))::int8",
                  p, r, "size")) {
    return e;
  }
  if (r.Rows() != 1 || !r.Int(0, 0, bytes)) return Damaged(0, "size of another type");
  ClearError();
  return kNoError;
}

std::unique_ptr<ChangeWatch> PgDriver::WatchOtherClients(std::function<void()> changed) {
  return std::make_unique<PgChangeWatch>(conninfo_, table_, ownBackend_, std::move(changed));
}

int PgDriver::OpenViewCursor(const ViewQuery& query, std::unique_ptr<ViewCursor>& cursor) {
  auto made = std::make_unique<PgViewCursor>(*this, alive_, query);
  if (int e = made->Prepare()) return e;
  cursor = std::move(made);
  ClearError();
  return kNoError;
}

}  // namespace rt
