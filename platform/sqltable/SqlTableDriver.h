// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the SQL table drivers share, STORE on a database file of its own and PGSTORE on a
// server: the storage scheme, the driver state that transactions save and put back, the
// sequences, positions, writes and BLOBs. A driver adds its connection, its schema, its
// transactions and the running of statements (the hooks below); the SQL it runs is built
// here, with the driver's table names and placeholders ("?" or "$n").
//
// Storage: a table with a column per field (named after the field label without its prefix),
// a record id "_rid" never handed out twice, a change counter "_ver" raised by every write,
// the null flags "_nulls" and a size column "_bsize<n>" per BLOB; BLOB contents in a chunk
// table of (rid, blob, chunk, bytes, sum) rows of kTableChunkSize bytes, "sum" being the
// chunk's checksum (ChunkChecksum.h), verified on every read.
//
// Reads in key order continue from the last record's key values and record id (KeysetSql.h),
// one level of the key at a time, never with OFFSET; every value read passes the range checks
// of TableValues.h, so damage (or a reply no driver wrote) is refused as 47 naming the record.
// Writes of a watched record change it only as it was read: 89 when another station changed
// it meanwhile, 33 when it is gone. BLOBs are read lazily; one is held in memory only once it
// is written, and written back on Add/Put. A rollback (or a failed commit) puts the record,
// version, watch, BLOB and position state back as it was at transaction start.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/runtime/files/File.h"
#include "platform/runtime/files/FileDriver.h"
#include "platform/runtime/files/FilePosition.h"
#include "platform/sqltable/SqlArgs.h"
#include "platform/sqltable/TableValues.h"

namespace rt {

class SqlTableDriver : public FileDriver {
 public:
  ~SqlTableDriver() override;

  bool CreateKeepsExisting() const override { return true; }
  int Records(std::int64_t& count) override;

  int SetFile() override;
  int SetKey(const FileKey& key, SetFrom from) override;
  int Next() override;
  int Previous() override;
  int GetByKey(const FileKey& key) override;
  int GetByPointer(std::int64_t pointer, std::uint32_t length) override;
  int Position(const FileKey* key, std::string& position) override;
  int Reset(const FileKey* key, std::string_view position) override;
  int Reget(const FileKey* key, std::string_view position) override;
  std::int64_t Pointer() const override { return currentRid_; }

  int Add(std::uint32_t length) override;
  int Put() override;
  int Delete() override;
  int Duplicate(const FileKey* key, bool& duplicate) override;
  int Watch() override;

  bool SupportsTransactions() const override { return true; }
  int StartTransaction(int timeoutSeconds) override;
  int Commit() override;
  int Rollback() override;

  std::unique_ptr<FileDriverState> SaveState() override;
  int RestoreState(const FileDriverState& state) override;

  void SkipBlobsOnNextRead() override { skipBlobs_ = true; }
  void CancelSkipBlobs() override { skipBlobs_ = false; }
  int SetPrefetch(int count) override;
  void ClearBlobs() override;
  int BlobSize(int blob, std::int64_t& size) override;
  int SetBlobSize(int blob, std::int64_t size) override;
  int ReadBlob(int blob, std::int64_t offset, void* destination, std::size_t length,
               std::size_t& got) override;
  int WriteBlob(int blob, std::int64_t offset, const void* source, std::size_t length) override;

 protected:
  // A record read from the table, range-checked.
  struct Row {
    std::int64_t rid = 0;
    std::int64_t version = 0;
    std::vector<std::uint8_t> record;
    std::string nulls;
    std::vector<std::int64_t> blobSizes;
  };
  struct Blob {
    std::int64_t storedRid = 0;  // record whose stored contents this is (0: none)
    std::int64_t version = 0;    // that record's change counter the contents belong to
    std::int64_t size = 0;
    std::shared_ptr<std::vector<char>> data;  // contents in memory once loaded or written
    bool modified = false;
  };
  // One stored BLOB chunk as a query of the chunk table reads it: typed false when the chunk
  // number or bytes are of another type, hasSum false when the checksum is.
  struct StoredChunk {
    bool typed = true;
    std::int64_t chunk = 0;
    std::string_view bytes;
    bool hasSum = false;
    std::uint64_t sum = 0;
  };
  using ChunkVisitor = std::function<int(const StoredChunk&)>;
  // The current record and what goes with it, as a view's read saves it before trying rows
  // and puts it back when the read takes none.
  struct Current {
    std::vector<std::uint8_t> record;
    std::string nulls;
    std::int64_t rid = 0;
    std::int64_t version = 0;
    bool watched = false;
    std::vector<Blob> blobs;
  };
  void SaveCurrent(Current& into) const;
  // Puts `from` back as the current record; its BLOBs are swapped in, not copied.
  void RestoreCurrent(Current& from);
  enum class Anchor : std::uint8_t { Start, End, Values, Record, Inclusive };
  struct Cursor {
    int key = 0;  // 0: record order
    Anchor anchor = Anchor::Start;
    std::vector<KeyValue> values;
    std::int64_t rid = 0;
  };
  class State;

  // `table` and `chunks` name the record and chunk tables in SQL; `numbered`: placeholders
  // "$1", "$2", ... instead of "?".
  SqlTableDriver(File& file, std::string table, std::string chunks, bool numbered);

  // ---- What each driver provides ----
  // The expression a key component is compared and ordered by (with its case rule).
  virtual std::string ComponentExpr(const KeyComponent& c) const = 0;
  // The value a key component's expression is compared with (by default the value itself).
  virtual KeyValue KeyArgument(const KeyComponent& c, const KeyValue& value) const;
  // The table as messages name it.
  virtual std::string TableLabel() const = 0;
  // Runs a query of whole rows (the select list first) and appends them, range-checked.
  virtual int QueryRows(const std::string& sql, const SqlArgs& args, std::string_view what,
                        std::deque<Row>& rows) = 0;
  // Runs a statement answering at most one integer (found: whether it answered one).
  virtual int QueryInt(const std::string& sql, const SqlArgs& args, std::string_view what,
                       std::int64_t& value, bool& found) = 0;
  // Runs a statement answering no rows; `changed` (when given): the rows it changed.
  virtual int Execute(const std::string& sql, const SqlArgs& args, std::string_view what,
                      std::int64_t* changed = nullptr) = 0;
  // Runs a query of (chunk, bytes, sum) rows, calling each for every row in order until it
  // answers an error code; the first error.
  virtual int QueryChunks(const std::string& sql, const SqlArgs& args,
                          const ChunkVisitor& each) = 0;
  // Runs the steps of one write all or nothing (inside the caller's transaction, if any).
  virtual int InWrite(std::string_view what, const std::function<int()>& steps) = 0;
  // Begins, commits and rolls back the caller's transaction; a failed commit rolls back and
  // keeps its error.
  virtual int BeginTransaction(int timeoutSeconds) = 0;
  virtual int CommitTransaction() = 0;
  virtual int RollbackTransaction() = 0;

  // ---- For the drivers ----
  // Sets the error (code, text) and returns code.
  static int Code(int code, std::string_view text = {});
  // Sets 47 naming the table and the record; returns it.
  int Damaged(std::int64_t rid, const std::string& what) const;
  // The column of a field.
  std::string Column(int field) const;
  KeyValue FieldValue(int field, const std::uint8_t* record) const;
  std::vector<KeyValue> KeyValuesOf(const FileKey& key, const std::uint8_t* record) const;
  // The next placeholder.
  std::string Placeholder(int& next) const;
  bool Writable() const;
  // Forgets the current record, the sequence and the BLOBs (a table just opened).
  void Forget();
  // Ends the caller's transaction without its changes (a table closing).
  void AbandonTransaction();

  // Reads a row into `row` with the range checks, from a driver's reader of the columns of
  // the select list: Int, Real, Text (false for a value of another type) and Counter (false
  // unless the column holds an integer).
  template <typename Columns>
  int ReadRowFrom(const Columns& columns, Row& row) const;
  // Makes the row the current record.
  void Apply(Row& row);
  int ReadByRid(std::int64_t rid, int missingCode);

  std::string table_;
  std::string chunks_;
  std::string selectList_;
  int mode_ = 0;
  bool inTransaction_ = false;
  bool checksums_ = true;  // the table stores chunk checksums
  // BLOB chunks read per query (0: all at once), for a driver whose replies are held whole.
  std::int64_t chunksPerQuery_ = 0;
  std::int64_t currentRid_ = 0;
  std::int64_t currentVersion_ = 0;
  bool watchArmed_ = false;
  bool watched_ = false;
  bool skipBlobs_ = false;
  std::vector<Blob> blobs_;
  // Expires with the driver, so that view cursors notice the table was closed.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);

 private:
  std::unique_ptr<State> Snapshot() const;
  void Restore(const State& state);
  int TakeRow(Row& row);
  int RequireCurrent();
  // The change counter record rid holds in the table now (0 when it is gone).
  int StoredVersion(std::int64_t rid, std::int64_t& version);
  // Why a write of the current record changed no row: 89 when another station changed the
  // watched record, 33 when the record is gone.
  int NotWritten();

  // Sequences.
  int Step(int direction);
  int Fetch(int direction, std::size_t limit, std::deque<Row>& rows);
  int FetchLevel(int direction, int level, std::size_t limit, std::deque<Row>& rows);
  void Invalidate() { cache_.clear(); }
  // Appends the record's null flags, BLOB sizes (all, or the modified ones) and fields.
  void RecordArgs(SqlArgs& args, bool modifiedBlobsOnly) const;
  // Appends the comparison of each of a key's components with a placeholder (" AND " between
  // them) and the values it takes.
  void KeyEquals(const FileKey& key, std::string& sql, int& next, SqlArgs& args) const;

  // BLOBs.
  int LoadBlob(Blob& blob, int number);
  int MakeWritable(Blob& blob, int number);
  int WriteBlobs(std::int64_t rid, bool onlyModified);
  int WriteChunks(std::int64_t rid, int number, const Blob& blob);
  // Copies chunks first..last of a stored BLOB, bytes offset..offset+n, to out.
  int ReadChunks(const Blob& blob, int number, std::int64_t offset, char* out, std::size_t n,
                 std::int64_t first, std::int64_t last);
  // Whether the stored contents of a BLOB just read still belong to the record as it was
  // read: 89 or 33 when another station changed or deleted it meanwhile.
  int CheckBlobCurrent(const Blob& blob);
  // The result of a BLOB read that ended with `result`: the currency check above first.
  int BlobReadResult(const Blob& blob, int result);

  bool numbered_;
  std::string insertSql_;
  std::unique_ptr<State> transactionStart_;  // state to put back when the transaction fails
  Cursor cursor_;
  std::deque<Row> cache_;
  int cacheDirection_ = 0;
  std::size_t prefetch_ = 0;
};

template <typename Columns>
int SqlTableDriver::ReadRowFrom(const Columns& columns, Row& row) const {
  if (!columns.Int(0, row.rid) || row.rid <= 0) return Damaged(row.rid, "record id out of range");
  if (!columns.Counter(1, row.version)) return Damaged(row.rid, "change counter missing");
  std::string_view nulls;
  if (!columns.Text(2, nulls)) return Damaged(row.rid, "null flags of another type");
  row.nulls.assign(nulls);
  const auto blobs = static_cast<int>(blobs_.size());
  row.blobSizes.resize(blobs_.size());
  for (int b = 0; b < blobs; ++b) {
    if (!columns.Int(3 + b, row.blobSizes[b])) {
      return Damaged(row.rid, "BLOB " + std::to_string(b + 1) + " size of another type");
    }
    const std::string problem = BlobSizeProblem(b + 1, row.blobSizes[b]);
    if (!problem.empty()) return Damaged(row.rid, problem);
  }
  // A NULL column reads as 0, 0.0 or no text, which stores the same bytes as a cleared field.
  const RecordLayout& layout = file_.Layout();
  row.record.assign(file_.RecordSize(), 0);
  std::uint8_t* rec = row.record.data();
  for (int f = 1; f <= layout.FieldCount(); ++f) {
    const FieldDesc& d = layout.Field(f);
    const int col = 3 + blobs + f - 1;
    switch (d.type) {
      case FieldType::Real: {
        double v = 0;
        if (!columns.Real(col, v)) return Damaged(row.rid, d.label + " of another type");
        PutReal(d, rec, v);
        break;
      }
      case FieldType::String:
      case FieldType::CString: {
        std::string_view t;
        if (!columns.Text(col, t)) return Damaged(row.rid, d.label + " of another type");
        if (!PutText(d, rec, t)) return Damaged(row.rid, OutOfRange(d, t));
        break;
      }
      default: {
        std::int64_t v = 0;
        if (!columns.Int(col, v)) return Damaged(row.rid, d.label + " of another type");
        if (!PutInteger(d, rec, v)) return Damaged(row.rid, OutOfRange(d, v));
        break;
      }
    }
  }
  return kNoError;
}

}  // namespace rt
