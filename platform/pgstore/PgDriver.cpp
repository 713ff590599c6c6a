// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgDriver.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "platform/pgstore/PgChangeWatch.h"
#include "platform/pgstore/PgStore.h"
#include "platform/pgstore/PgViewCursor.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/TableValues.h"

namespace rt {

namespace {

// The table's comment: marks it as a table of this driver, with its format.
constexpr const char* kFormatComment = "PGSTORE 1";
// Longer names would be shortened by the server, and two tables could then share one.
constexpr std::size_t kMaxTableName = 48;

std::string Quote(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string Literal(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

const char* ServerType(FieldType t) {
  const std::string_view sql = SqlColumnType(t);
  if (sql == "REAL") return "double precision";
  if (sql == "TEXT") return "text COLLATE \"C\"";
  return "bigint";
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

std::string BareName(const std::string& physicalName) {
  std::string name = physicalName;
  const auto slash = name.find_last_of('/');
  if (slash != std::string::npos) name = name.substr(slash + 1);
  const auto dot = name.find('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

std::string& Conninfo() {
  static std::string conninfo;
  return conninfo;
}
std::mutex& ConninfoMutex() {
  static std::mutex mutex;
  return mutex;
}

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

class PgDriver::State : public FileDriverState {
 public:
  Cursor cursor;
  std::int64_t rid = 0;
  std::int64_t version = 0;
  bool watched = false;
  bool watchArmed = false;
  std::vector<Blob> blobs;
};

std::unique_ptr<PgDriver::State> PgDriver::Snapshot() const {
  auto state = std::make_unique<State>();
  state->cursor = cursor_;
  state->rid = currentRid_;
  state->version = currentVersion_;
  state->watched = watched_;
  state->watchArmed = watchArmed_;
  state->blobs = blobs_;
  return state;
}

void PgDriver::Restore(const State& state) {
  cursor_ = state.cursor;
  currentRid_ = state.rid;
  currentVersion_ = state.version;
  watched_ = state.watched;
  watchArmed_ = state.watchArmed;
  blobs_ = state.blobs;
  Invalidate();
}

std::string PgDriver::TableName(const std::string& physicalName) {
  return Quote(BareName(physicalName));
}

PgDriver::PgDriver(File& file, std::string conninfo)
    : FileDriver(file), conninfo_(std::move(conninfo)), conn_(conninfo_) {
  blobs_.resize(static_cast<std::size_t>(file.BlobCount()));
  bare_ = BareName(file.PhysicalName());
  table_ = Quote(bare_);
  chunks_ = Quote(bare_ + "$chunks");
  selectList_ = "_rid, _ver, _nulls";
  for (int b = 1; b <= file_.BlobCount(); ++b)
    selectList_ += ", _bsize" + std::to_string(b);
  for (int f = 1; f <= file_.Layout().FieldCount(); ++f)
    selectList_ += ", " + Column(f);
}

PgDriver::~PgDriver() = default;

int PgDriver::Code(int code, std::string_view text) {
  SetError(code, text);
  return code;
}

// ---- Schema ----

std::string PgDriver::Column(int field) const {
  const std::string& label = file_.Layout().Field(field).label;
  const auto colon = label.find(':');
  return Quote(colon == std::string::npos ? label : label.substr(colon + 1));
}

std::string PgDriver::ComponentExpr(const KeyComponent& c) const {
  if (c.noCase && IsText(file_.Layout().Field(c.field).type)) {
    return "lower(" + Column(c.field) + ")";
  }
  return Column(c.field);
}

std::string PgDriver::IndexName(const FileKey& key) const {
  return Quote(bare_ + "#k" + std::to_string(key.Number()));
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
  return sql + "); COMMENT ON INDEX " + IndexName(key) + " IS " + Literal(KeySignature(key));
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
  if (open_) return conn_.Exec("LISTEN " + table_, "listen");
  return kNoError;
}

std::uint64_t PgDriver::ChangeCount() {
  if (conn_.Get()) changes_ += static_cast<std::uint64_t>(conn_.TakeNotifications());
  return changes_;
}

int PgDriver::Run(const std::string& sql, const PgParams& params, PgResult& out,
                  std::string_view what) {
  if (int e = Connect()) return e;
  return conn_.Run(sql, params, out, what);
}

int PgDriver::CheckSchema() {
  PgParams p;
  p.Text(table_);
  PgResult r;
  if (int e = Run("SELECT count(*), max(obj_description(c.oid, 'pg_class')) FROM pg_class c "
                  "WHERE c.oid = to_regclass($1)",
                  p, r, "open " + bare_)) {
    return e;
  }
  std::int64_t found = 0;
  std::string_view comment;
  if (r.Rows() != 1 || !r.Int(0, 0, found) || !r.Text(0, 1, comment)) {
    SetError(kBadFileError, {}, "0", "unexpected reply from the server");
    return kBadFileError;
  }
  if (found == 0) return Code(kNoFileError);
  if (comment != kFormatComment) {
    SetError(kBadFileError, {}, "0", "not a table of the PGSTORE driver");
    return kBadFileError;
  }
  // Every field and BLOB must have its column, of the type the driver writes.
  if (int e = Run("SELECT attname::text, atttypid::int8 FROM pg_attribute WHERE attrelid = "
                  "to_regclass($1) AND attnum > 0 AND NOT attisdropped",
                  p, r, "open " + bare_)) {
    return e;
  }
  auto typeOf = [&](const std::string& quoted) -> std::int64_t {
    const std::string bare = quoted.substr(1, quoted.size() - 2);
    for (int i = 0; i < r.Rows(); ++i) {
      std::string_view name;
      std::int64_t type = 0;
      if (r.Text(i, 0, name) && r.Int(i, 1, type) && name == bare) return type;
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
    PgParams ip;
    ip.Text(IndexName(key));
    if (int e = Run("SELECT coalesce(obj_description(to_regclass($1), 'pg_class'), '')", ip, r,
                    "open " + bare_)) {
      return e;
    }
    std::string_view signature;
    if (r.Rows() != 1 || !r.Text(0, 0, signature) || signature != KeySignature(key)) {
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

// ---- Create, open, close, build ----

int PgDriver::Create() {
  if (bare_.empty() || bare_.size() > kMaxTableName) {
    SetError(kBadNameError, {}, "0", "a table name on the server has 1 to 48 bytes");
    return kBadNameError;
  }
  if (int e = Connect()) return e;
  // One creator at a time per table name, in every client: the others find it made.
  int result = conn_.Exec("BEGIN", "create " + bare_);
  if (!result) {
    PgParams p;
    p.Text("PGSTORE:" + bare_);
    PgResult r;
    result = conn_.Run("SELECT pg_advisory_xact_lock(hashtext($1)::int8)", p, r, "create " + bare_);
  }
  if (!result) {
    std::string table = "CREATE TABLE IF NOT EXISTS " + table_ +
                        " (_rid bigserial PRIMARY KEY, _ver bigint NOT NULL DEFAULT 1, _nulls "
                        "text COLLATE \"C\"";
    for (int b = 1; b <= file_.BlobCount(); ++b)
      table += ", _bsize" + std::to_string(b) + " bigint NOT NULL DEFAULT 0";
    for (int f = 1; f <= file_.Layout().FieldCount(); ++f)
      table += ", " + Column(f) + " " + ServerType(file_.Layout().Field(f).type);
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
        result = conn_.Exec("COMMENT ON TABLE " + table_ + " IS " + Literal(kFormatComment),
                            "create " + bare_);
      }
      if (!result) result = CreateIndexes(false);
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
  int result = Connect();
  if (!result) result = CheckSchema();
  if (!result) result = conn_.Exec("LISTEN " + table_, "open " + bare_);
  if (result) {
    conn_.Disconnect();
    return result;
  }
  open_ = true;
  cursor_ = Cursor{};
  currentRid_ = 0;
  ClearBlobs();
  ClearError();
  return kNoError;
}

int PgDriver::Close() {
  if (inTransaction_ && conn_.Connected()) conn_.Exec("ROLLBACK", "close");
  inTransaction_ = false;
  transactionStart_.reset();
  open_ = false;
  conn_.Disconnect();
  ownBackend_->store(0);
  ClearError();
  return kNoError;
}

int PgDriver::Build() {
  int result = Connect();
  if (!result) result = CheckSchema();
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
  reply = std::string(value);
  ClearError();
  return kNoError;
}

int PgDriver::Records(std::int64_t& count) {
  PgResult r;
  if (int e = Run("SELECT count(*) FROM " + table_, PgParams(), r, "records")) return e;
  if (r.Rows() != 1 || !r.Int(0, 0, count)) return Damaged(0, "record count of another type");
  ClearError();
  return kNoError;
}

bool PgDriver::Writable() const {
  return (mode_ & 0x0F) != kAccessReadOnly;
}

// ---- Values ----

std::vector<KeyValue> PgDriver::KeyValuesOf(const FileKey& key, const std::uint8_t* record) const {
  return KeyValues(file_.Layout(), key, record);
}

void PgDriver::BindKey(PgParams& p, const KeyComponent& c, const KeyValue& v) const {
  const FieldType type = file_.Layout().Field(c.field).type;
  if (IsText(type)) {
    const std::string* text = std::get_if<std::string>(&v);
    const std::string value = text ? *text : std::string();
    p.Text(c.noCase ? AsciiLower(value) : value);
  } else if (type == FieldType::Real) {
    const auto* d = std::get_if<double>(&v);
    const auto* i = std::get_if<std::int64_t>(&v);
    p.Real(d ? *d : (i ? static_cast<double>(*i) : 0.0));
  } else {
    const auto* i = std::get_if<std::int64_t>(&v);
    const auto* d = std::get_if<double>(&v);
    p.Int(i ? *i : (d ? static_cast<std::int64_t>(*d) : 0));
  }
}

void PgDriver::BindRecord(PgParams& p, bool modifiedBlobsOnly) const {
  p.Text(file_.GetNulls());
  for (const Blob& b : blobs_) {
    if (b.modified || !modifiedBlobsOnly) p.Int(b.size);
  }
  const RecordLayout& layout = file_.Layout();
  for (int f = 1; f <= layout.FieldCount(); ++f)
    p.Value(FieldValue(layout.Field(f), file_.Record()));
}

int PgDriver::Damaged(std::int64_t rid, const std::string& what) const {
  SetError(kBadFileError, {}, "0",
           "damaged table " + bare_ + ": record " + std::to_string(rid) + ": " + what);
  return kBadFileError;
}

int PgDriver::ReadRow(const PgResult& r, int at, Row& row) const {
  if (!r.Int(at, 0, row.rid) || row.rid <= 0) return Damaged(row.rid, "record id out of range");
  if (!r.Int(at, 1, row.version) || r.Null(at, 1)) {
    return Damaged(row.rid, "change counter missing");
  }
  std::string_view nulls;
  if (!r.Text(at, 2, nulls)) return Damaged(row.rid, "null flags of another type");
  row.nulls.assign(nulls);
  const int blobs = file_.BlobCount();
  row.blobSizes.resize(static_cast<std::size_t>(blobs));
  for (int b = 0; b < blobs; ++b) {
    if (!r.Int(at, 3 + b, row.blobSizes[b])) {
      return Damaged(row.rid, "BLOB " + std::to_string(b + 1) + " size of another type");
    }
    const std::string problem = BlobSizeProblem(b + 1, row.blobSizes[b]);
    if (!problem.empty()) return Damaged(row.rid, problem);
  }
  row.record.assign(file_.RecordSize(), 0);
  std::uint8_t* rec = row.record.data();
  const RecordLayout& layout = file_.Layout();
  for (int f = 1; f <= layout.FieldCount(); ++f) {
    const FieldDesc& d = layout.Field(f);
    const int col = 3 + blobs + f - 1;
    switch (d.type) {
      case FieldType::Real: {
        double v = 0;
        if (!r.Real(at, col, v)) return Damaged(row.rid, d.label + " of another type");
        PutReal(d, rec, v);
        break;
      }
      case FieldType::String:
      case FieldType::CString: {
        std::string_view t;
        if (!r.Text(at, col, t)) return Damaged(row.rid, d.label + " of another type");
        if (!PutText(d, rec, t)) return Damaged(row.rid, OutOfRange(d, t));
        break;
      }
      default: {
        std::int64_t v = 0;
        if (!r.Int(at, col, v)) return Damaged(row.rid, d.label + " of another type");
        if (!PutInteger(d, rec, v)) return Damaged(row.rid, OutOfRange(d, v));
        break;
      }
    }
  }
  return kNoError;
}

void PgDriver::Apply(Row& row) {
  std::memcpy(file_.Record(), row.record.data(), row.record.size());
  file_.SetNulls(row.nulls);
  currentRid_ = row.rid;
  currentVersion_ = row.version;
  watched_ = watchArmed_;
  watchArmed_ = false;
  for (std::size_t b = 0; b < blobs_.size(); ++b) {
    Blob fresh;
    if (!skipBlobs_) {
      fresh.storedRid = row.rid;
      fresh.version = row.version;
      fresh.size = row.blobSizes[b];
    }
    blobs_[b] = std::move(fresh);
  }
  skipBlobs_ = false;
}

int PgDriver::TakeRow(const PgResult& r) {
  Row row;
  if (int e = ReadRow(r, 0, row)) return e;
  Apply(row);
  ClearError();
  return kNoError;
}

int PgDriver::ReadByRid(std::int64_t rid, int missingCode) {
  PgParams p;
  p.Int(rid);
  PgResult r;
  if (int e = Run("SELECT " + selectList_ + " FROM " + table_ + " WHERE _rid = $1", p, r, "read"))
    return e;
  if (r.Rows() == 0) return Code(missingCode);
  return TakeRow(r);
}

int PgDriver::RequireCurrent() {
  if (currentRid_ != 0) return kNoError;
  return Code(kNoRecordError);
}

int PgDriver::StoredVersion(std::int64_t rid, std::int64_t& version) {
  version = 0;
  PgParams p;
  p.Int(rid);
  PgResult r;
  if (int e = Run("SELECT _ver FROM " + table_ + " WHERE _rid = $1", p, r, "read")) return e;
  if (r.Rows() > 0 && !r.Int(0, 0, version)) return Damaged(rid, "change counter of another type");
  return kNoError;
}

int PgDriver::NotWritten() {
  std::int64_t version = 0;
  if (int e = StoredVersion(currentRid_, version)) return e;
  if (version == 0) return Code(kNoRecordError, "The record was deleted by another station");
  return Code(kRecordChangedError);
}

int PgDriver::CheckBlobCurrent(const Blob& blob) {
  std::int64_t version = 0;
  if (int e = StoredVersion(blob.storedRid, version)) return e;
  if (version == 0) return Code(kNoRecordError, "The record was deleted by another station");
  if (version != blob.version) return Code(kRecordChangedError);
  return kNoError;
}

// ---- Transactions ----

int PgDriver::StartTransaction(int timeoutSeconds) {
  if (inTransaction_) {
    SetError(kDriverError, {}, "0", "a transaction is already running on this file");
    return kDriverError;
  }
  if (int e = Connect()) return e;
  if (int e = conn_.Exec(
          "BEGIN; SET LOCAL lock_timeout = " + std::to_string(std::max(1, timeoutSeconds) * 1000),
          "start transaction")) {
    return e;
  }
  inTransaction_ = true;
  transactionStart_ = Snapshot();
  Invalidate();
  ClearError();
  return kNoError;
}

int PgDriver::Commit() {
  if (!inTransaction_) {
    SetError(kDriverError, {}, "0", "no transaction is running on this file");
    return kDriverError;
  }
  Invalidate();
  int result = Connect();  // fails when the connection, and the transaction with it, is gone
  if (!result) result = conn_.Exec("COMMIT", "commit");
  inTransaction_ = false;
  if (result != kNoError) {
    const ErrorState failure = LastError();
    if (conn_.Connected()) conn_.Exec("ROLLBACK", "commit");
    if (transactionStart_) Restore(*transactionStart_);
    SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
  }
  transactionStart_.reset();
  return result;
}

int PgDriver::Rollback() {
  if (!inTransaction_) {
    SetError(kDriverError, {}, "0", "no transaction is running on this file");
    return kDriverError;
  }
  inTransaction_ = false;
  // A transaction lost with its connection is rolled back already.
  const int result = conn_.Connected() ? conn_.Exec("ROLLBACK", "rollback") : kNoError;
  if (transactionStart_) Restore(*transactionStart_);
  transactionStart_.reset();
  if (!result) ClearError();
  return result;
}

std::unique_ptr<FileDriverState> PgDriver::SaveState() {
  return Snapshot();
}

int PgDriver::RestoreState(const FileDriverState& saved) {
  const auto* state = dynamic_cast<const State*>(&saved);
  if (!state) {
    SetError(kDriverError, {}, "0", "the state was not saved by this driver");
    return kDriverError;
  }
  Restore(*state);
  ClearError();
  return kNoError;
}

int PgDriver::SetPrefetch(int count) {
  prefetch_ = static_cast<std::size_t>(std::max(0, count));
  Invalidate();
  ClearError();
  return kNoError;
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
