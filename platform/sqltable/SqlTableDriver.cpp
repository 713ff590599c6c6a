// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sqltable/SqlTableDriver.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/runtime/threads/ErrorState.h"
#include "platform/sqltable/SqlText.h"

namespace rt {

namespace {

constexpr std::string_view kDeletedElsewhere = "The record was deleted by another station";

}  // namespace

// The driver part of a saved file state.
class SqlTableDriver::State : public FileDriverState {
 public:
  Cursor cursor;
  std::int64_t rid = 0;
  std::int64_t version = 0;
  bool watched = false;
  bool watchArmed = false;
  std::vector<Blob> blobs;
};

SqlTableDriver::SqlTableDriver(File& file, std::string table, std::string chunks, bool numbered)
    : FileDriver(file), table_(std::move(table)), chunks_(std::move(chunks)), numbered_(numbered) {
  blobs_.resize(static_cast<std::size_t>(file.BlobCount()));
  selectList_ = "_rid, _ver, _nulls";
  for (int b = 1; b <= file_.BlobCount(); ++b)
    selectList_ += ", _bsize" + std::to_string(b);
  for (int f = 1; f <= file_.Layout().FieldCount(); ++f)
    selectList_ += ", " + Column(f);
}

SqlTableDriver::~SqlTableDriver() = default;

std::unique_ptr<SqlTableDriver::State> SqlTableDriver::Snapshot() const {
  auto state = std::make_unique<State>();
  state->cursor = cursor_;
  state->rid = currentRid_;
  state->version = currentVersion_;
  state->watched = watched_;
  state->watchArmed = watchArmed_;
  state->blobs = blobs_;  // contents shared, copied on the next write
  return state;
}

void SqlTableDriver::Restore(const State& state) {
  cursor_ = state.cursor;
  currentRid_ = state.rid;
  currentVersion_ = state.version;
  watched_ = state.watched;
  watchArmed_ = state.watchArmed;
  blobs_ = state.blobs;
  Invalidate();
}

int SqlTableDriver::Code(int code, std::string_view text) {
  SetError(code, text);
  return code;
}

int SqlTableDriver::Damaged(std::int64_t rid, const std::string& what) const {
  SetError(kBadFileError, {}, "0",
           "damaged table " + TableLabel() + ": record " + std::to_string(rid) + ": " + what);
  return kBadFileError;
}

std::string SqlTableDriver::Column(int field) const {
  return SqlColumnName(file_.Layout().Field(field).label);
}

KeyValue SqlTableDriver::FieldValue(int field, const std::uint8_t* record) const {
  return rt::FieldValue(file_.Layout().Field(field), record);
}

std::vector<KeyValue> SqlTableDriver::KeyValuesOf(const FileKey& key,
                                                  const std::uint8_t* record) const {
  return KeyValues(file_.Layout(), key, record);
}

KeyValue SqlTableDriver::KeyArgument(const KeyComponent&, const KeyValue& value) const {
  return value;
}

std::string SqlTableDriver::Placeholder(int& next) const {
  return numbered_ ? "$" + std::to_string(next++) : (++next, "?");
}

bool SqlTableDriver::Writable() const {
  return (mode_ & 0x0F) != kAccessReadOnly;
}

void SqlTableDriver::Forget() {
  cursor_ = Cursor{};
  currentRid_ = 0;
  Invalidate();
  ClearBlobs();
}

void SqlTableDriver::AbandonTransaction() {
  if (inTransaction_) (void)RollbackTransaction();
  inTransaction_ = false;
  transactionStart_.reset();
}

int SqlTableDriver::Records(std::int64_t& count) {
  bool found = false;
  if (int e = QueryInt("SELECT count(*) FROM " + table_, SqlArgs(), "records", count, found)) {
    return e;
  }
  if (!found) return Damaged(0, "no record count");
  ClearError();
  return kNoError;
}

// ---- Records ----

void SqlTableDriver::Apply(Row& row) {
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

int SqlTableDriver::TakeRow(Row& row) {
  Apply(row);
  ClearError();
  return kNoError;
}

int SqlTableDriver::ReadByRid(std::int64_t rid, int missingCode) {
  int next = 1;
  const std::string sql =
      "SELECT " + selectList_ + " FROM " + table_ + " WHERE _rid = " + Placeholder(next);
  SqlArgs args;
  args.Int(rid);
  std::deque<Row> rows;
  if (int e = QueryRows(sql, args, "read", rows)) return e;
  if (rows.empty()) return Code(missingCode);
  return TakeRow(rows.front());
}

void SqlTableDriver::RecordArgs(SqlArgs& args, bool modifiedBlobsOnly) const {
  args.Text(file_.GetNulls());
  for (const Blob& b : blobs_) {
    if (b.modified || !modifiedBlobsOnly) args.Int(b.size);
  }
  const RecordLayout& layout = file_.Layout();
  for (int f = 1; f <= layout.FieldCount(); ++f)
    args.Value(rt::FieldValue(layout.Field(f), file_.Record()));
}

void SqlTableDriver::KeyEquals(const FileKey& key, std::string& sql, int& next,
                               SqlArgs& args) const {
  const std::vector<KeyValue> values = KeyValuesOf(key, file_.Record());
  for (int i = 1; i <= key.ComponentCount(); ++i) {
    const KeyComponent& c = key.Component(i);
    if (i > 1) sql += " AND ";
    sql += ComponentExpr(c) + " = " + Placeholder(next);
    args.Value(KeyArgument(c, values[static_cast<std::size_t>(i - 1)]));
  }
}

int SqlTableDriver::RequireCurrent() {
  if (currentRid_ != 0) return kNoError;
  return Code(kNoRecordError);
}

int SqlTableDriver::StoredVersion(std::int64_t rid, std::int64_t& version) {
  version = 0;
  int next = 1;
  SqlArgs args;
  args.Int(rid);
  bool found = false;
  return QueryInt("SELECT _ver FROM " + table_ + " WHERE _rid = " + Placeholder(next), args, "read",
                  version, found);
}

int SqlTableDriver::NotWritten() {
  std::int64_t version = 0;
  if (int e = StoredVersion(currentRid_, version)) return e;
  if (version == 0) return Code(kNoRecordError, kDeletedElsewhere);
  return Code(kRecordChangedError);
}

int SqlTableDriver::CheckBlobCurrent(const Blob& blob) {
  std::int64_t version = 0;
  if (int e = StoredVersion(blob.storedRid, version)) return e;
  if (version == 0) return Code(kNoRecordError, kDeletedElsewhere);
  if (version != blob.version) return Code(kRecordChangedError);
  return kNoError;
}

// ---- Transactions ----

int SqlTableDriver::StartTransaction(int timeoutSeconds) {
  if (inTransaction_) {
    SetError(kDriverError, {}, "0", "a transaction is already running on this file");
    return kDriverError;
  }
  if (int e = BeginTransaction(timeoutSeconds)) return e;
  inTransaction_ = true;
  transactionStart_ = Snapshot();
  Invalidate();
  ClearError();
  return kNoError;
}

int SqlTableDriver::Commit() {
  if (!inTransaction_) {
    SetError(kDriverError, {}, "0", "no transaction is running on this file");
    return kDriverError;
  }
  Invalidate();
  const int result = CommitTransaction();
  inTransaction_ = false;
  // A failed commit rolled the table back: so must the driver's state be, so that a retry
  // writes everything again.
  if (result != kNoError && transactionStart_) Restore(*transactionStart_);
  transactionStart_.reset();
  return result;
}

int SqlTableDriver::Rollback() {
  if (!inTransaction_) {
    SetError(kDriverError, {}, "0", "no transaction is running on this file");
    return kDriverError;
  }
  inTransaction_ = false;
  const int result = RollbackTransaction();
  if (transactionStart_) Restore(*transactionStart_);
  transactionStart_.reset();
  if (result == kNoError) ClearError();
  return result;
}

// ---- State ----

std::unique_ptr<FileDriverState> SqlTableDriver::SaveState() {
  return Snapshot();
}

int SqlTableDriver::RestoreState(const FileDriverState& saved) {
  const auto* state = dynamic_cast<const State*>(&saved);
  if (!state || state->blobs.size() != blobs_.size()) {
    SetError(kDriverError, {}, "0", "the state was not saved by this driver");
    return kDriverError;
  }
  Restore(*state);
  ClearError();
  return kNoError;
}

int SqlTableDriver::SetPrefetch(int count) {
  prefetch_ = static_cast<std::size_t>(std::max(0, count));
  Invalidate();
  ClearError();
  return kNoError;
}

void SqlTableDriver::SaveCurrent(Current& into) const {
  into.record.assign(file_.Record(), file_.Record() + file_.RecordSize());
  into.nulls = file_.GetNulls();
  into.rid = currentRid_;
  into.version = currentVersion_;
  into.watched = watched_;
  into.blobs = blobs_;
}

void SqlTableDriver::RestoreCurrent(Current& from) {
  std::memcpy(file_.Record(), from.record.data(), from.record.size());
  file_.SetNulls(from.nulls);
  currentRid_ = from.rid;
  currentVersion_ = from.version;
  watched_ = from.watched;
  blobs_.swap(from.blobs);
}

}  // namespace rt
