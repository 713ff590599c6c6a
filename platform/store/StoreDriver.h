// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The STORE driver: a table in an SQLite database of its own (WAL mode), one file per table
// named after the file's name property plus kStoreExtension.
//
// Storage: table "records" with a column per field (named after the field label without its
// prefix), a hidden record id "_rid" (never reused), a change counter "_ver" raised by every
// write, the null flags "_nulls" and a size column "_bsize<n>" per BLOB; BLOB contents in
// "blob_chunks" as (rid, blob, chunk, sum) rows of kStoreChunkSize bytes, so that any size
// works and a partial read loads only the chunks it needs; "sum" is the chunk's checksum
// (platform/sqltable/ChunkChecksum.h), verified on every read (format 1 tables have none).
// "store_meta" marks the file as a table of this driver and holds its format. Each key is an index
// with its components' directions and case rules.
//
// Safety: a table is created in a temporary file and moved into place only when no table
// exists yet, so an open never sees a half-made table and a create never replaces one. Every
// number read from a table is range-checked; damage is reported as 47 naming the record. A
// rollback (or a failed commit) puts the driver's record, version, BLOB and position state
// back as it was at transaction start. Only regular files are opened.
//
// Reads in key order continue from the last record's key values and record id through the
// index (never OFFSET, never the whole table), one level of the key at a time, so each read
// costs the same anywhere in a table of any size. BLOBs are read lazily from the table; a
// BLOB is held in memory only once it is written, and written back on Add/Put.
// Known limits: records are not held (no 43); a lazily read BLOB reflects the table at the
// time it is read; share modes are honoured between File objects of one process only.

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/runtime/files/FileDriver.h"
#include "platform/runtime/files/FilePosition.h"
#include "platform/store/Store.h"

// The database library's connection stays an opaque type outside this folder's sources.
struct sqlite3;

namespace rt {

class StoreStatement;
class StoreStatementGuard;
class StoreViewCursor;

class StoreDriver : public FileDriver {
 public:
  explicit StoreDriver(File& file);
  ~StoreDriver() override;

  int Create() override;
  bool CreateKeepsExisting() const override { return true; }
  int Open(int mode) override;
  int Close() override;
  int Build() override;
  int Send(std::string_view option, std::string_view value, std::string& reply) override;
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
  int Size(std::int64_t& bytes) override;

  // Reads in a view's order (StoreViewCursor.h).
  int OpenViewCursor(const ViewQuery& query, std::unique_ptr<ViewCursor>& cursor) override;

 private:
  friend class StoreViewCursor;

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
  enum class Anchor : std::uint8_t { Start, End, Values, Record, Inclusive };
  struct Cursor {
    int key = 0;  // 0: record order
    Anchor anchor = Anchor::Start;
    std::vector<KeyValue> values;
    std::int64_t rid = 0;
  };
  class State;
  std::unique_ptr<State> Snapshot() const;
  void Restore(const State& state);

  // Schema.
  std::string Column(int field) const;
  std::string ComponentExpr(const KeyComponent& c) const;
  std::string IndexSql(const FileKey& key) const;
  std::string SelectList() const;
  int CheckSchema();
  int CreateIndexes(bool replace);
  // Commits when the result is success and else (or when the commit fails) rolls back; the
  // error of the failure stays set. Returns the final result.
  int CommitOrRollback(int result);
  // Finalizes the statements and closes the connection, if any.
  void Disconnect();
  // Quick scan: the reads between "QUICKSCAN=on" and "QUICKSCAN=off" share one read
  // transaction, so a run of reads sees one state of the file and takes the file's locks
  // once. Any write, transaction or close ends it first.
  void BeginQuickScan();
  void EndQuickScan();

  // SQL helpers.
  // Sets the error (code, text) and returns code.
  static int Code(int code, std::string_view text = {});
  int Fail(int rc, std::string_view what);
  // Ends a quick scan and runs steps (returning an error code) in a savepoint, released when
  // they succeed and rolled back otherwise; the error code.
  template <typename Steps>
  int InSavepoint(std::string_view what, Steps&& steps);
  StoreStatementGuard Statement(const std::string& sql);
  int Exec(const std::string& sql);
  // Runs a statement that returns no rows and resets it; the error code (0 when done).
  int Change(StoreStatement& s, std::string_view what);
  // Binds the null flags, the BLOB sizes (all, or the modified ones) and the fields from
  // parameter 1 on; returns the next parameter number.
  int BindRecord(StoreStatement& s, bool modifiedBlobsOnly);
  void BindValue(StoreStatement& s, int index, const KeyValue& v);
  std::vector<KeyValue> KeyValues(const FileKey& key, const std::uint8_t* record) const;
  KeyValue FieldValue(int field, const std::uint8_t* record) const;
  // Reads and range-checks a row; 47 when the table holds a value out of range.
  int ReadRow(StoreStatement& s, Row& row) const;
  int Damaged(std::int64_t rid, const std::string& what) const;
  void Apply(Row& row);
  // Reads the row the statement stands on, makes it the current record and resets the statement.
  int TakeRow(StoreStatement& s);
  int ReadByRid(std::int64_t rid, int missingCode);

  // Sequences.
  int Step(int direction);
  int Fetch(int direction, std::size_t limit, std::deque<Row>& rows);
  int FetchLevel(int direction, int level, std::size_t limit, std::deque<Row>& rows);
  void Invalidate() { cache_.clear(); }

  // BLOBs.
  int LoadBlob(Blob& blob, int number);
  int MakeWritable(Blob& blob, int number);
  int WriteBlobs(std::int64_t rid, bool onlyModified);
  int WriteChunks(std::int64_t rid, int number, const Blob& blob);
  // Checks one stored chunk of BLOB number of record rid (index, length, checksum).
  int CheckChunk(std::int64_t rid, int number, std::int64_t size, std::int64_t chunk,
                 std::string_view bytes, const StoreStatement& s, int sumColumn) const;

  bool Writable() const;
  int RequireCurrent();
  // The change counter record rid holds in the table now (0 when it is gone).
  int StoredVersion(std::int64_t rid, std::int64_t& version);
  // Why a write of the current record changed no row: 89 when another station changed the
  // watched record, 33 when the record is gone.
  int NotWritten();
  // Whether the stored contents of a BLOB just read still belong to the record as it was
  // read: 89 or 33 when another station changed or deleted it meanwhile.
  int CheckBlobCurrent(const Blob& blob);
  // The result of a BLOB read that ended with `result`: the currency check above first.
  int BlobReadResult(const Blob& blob, int result);
  // Copies chunks first..last of a stored BLOB, bytes offset..offset+n, to out.
  int ReadChunks(const Blob& blob, int number, std::int64_t offset, char* out, std::size_t n,
                 std::int64_t first, std::int64_t last);

  sqlite3* db_ = nullptr;
  // The table's entry in LockedFileRegistry while db_ is connected to it (0: none).
  std::uint64_t lockedEntry_ = 0;
  std::map<std::string, std::unique_ptr<StoreStatement>> statements_;
  std::string selectList_;
  std::string insertSql_;
  int mode_ = 0;
  int busyMs_ = 5000;
  bool inTransaction_ = false;
  std::unique_ptr<State> transactionStart_;  // state to put back when the transaction fails
  bool checksums_ = true;                    // the table stores chunk checksums
  bool quickScan_ = false;
  std::uint64_t quickScans_ = 0;  // quick scans begun, numbering the current one
  Cursor cursor_;
  std::deque<Row> cache_;
  int cacheDirection_ = 0;
  std::size_t prefetch_ = 0;
  std::int64_t currentRid_ = 0;
  std::int64_t currentVersion_ = 0;
  bool watchArmed_ = false;
  bool watched_ = false;
  bool skipBlobs_ = false;
  std::vector<Blob> blobs_;
  // Expires with the driver, so that view cursors notice the table was closed.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace rt
