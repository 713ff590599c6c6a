// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The PGSTORE driver: a table on a database server, shared by every client connected to it.
// The table is named after the file's name (without folder or extension).
//
// Storage, as STORE's: a column per field (named after the field label without its prefix;
// texts in byte order), a record id "_rid" from a sequence (never handed out twice, whichever
// client adds), a change counter "_ver" raised by every write, the null flags "_nulls" and a
// size column "_bsize<n>" per BLOB; BLOB contents in "<table>$chunks" as (rid, blob, chunk,
// bytes, sum) rows of kTableChunkSize bytes with their checksums; the table's comment marks it
// as a table of this driver, each key's index comment holds the key's definition. A missing
// table is created inside a transaction holding an advisory lock named after it, so clients
// starting at once end with one table.
//
// Every write runs in a transaction of its own (a savepoint inside the caller's) that also
// announces the change on the table's channel, so other clients hear of it when it commits
// (WatchOtherClients). Reads continue from the last record's key values and record id (never
// OFFSET); every value read is checked against its column's type and its field's range, so a
// reply no driver wrote is refused as 47. A connection lost mid-operation reports 8 and the
// next operation connects again; a transaction it interrupted is over (its changes are gone
// on the server, and a rollback puts the driver's state back).

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/pgstore/PgConnection.h"
#include "platform/runtime/files/FileDriver.h"
#include "platform/runtime/files/FilePosition.h"

namespace rt {

class PgViewCursor;

class PgDriver : public FileDriver {
 public:
  PgDriver(File& file, std::string conninfo);
  ~PgDriver() override;

  int Create() override;
  bool CreateKeepsExisting() const override { return true; }
  bool SqlDriver() const override { return true; }
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

  std::unique_ptr<ChangeWatch> WatchOtherClients(std::function<void()> changed) override;
  int OpenViewCursor(const ViewQuery& query, std::unique_ptr<ViewCursor>& cursor) override;

  // The table's name on the server (quoted) and its notification channel.
  static std::string TableName(const std::string& physicalName);

 private:
  friend class PgViewCursor;

  struct Row {
    std::int64_t rid = 0;
    std::int64_t version = 0;
    std::vector<std::uint8_t> record;
    std::string nulls;
    std::vector<std::int64_t> blobSizes;
  };
  struct Blob {
    std::int64_t storedRid = 0;
    std::int64_t version = 0;
    std::int64_t size = 0;
    std::shared_ptr<std::vector<char>> data;
    bool modified = false;
  };
  enum class Anchor : std::uint8_t { Start, End, Values, Record, Inclusive };
  struct Cursor {
    int key = 0;
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
  std::string IndexName(const FileKey& key) const;
  std::string IndexSql(const FileKey& key) const;
  std::string KeySignature(const FileKey& key) const;
  int CheckSchema();
  int CreateIndexes(bool replace);
  int Connect();

  static int Code(int code, std::string_view text = {});
  // Runs steps in a transaction of their own (a savepoint inside the caller's), announcing
  // the change; the error code.
  template <typename Steps>
  int InWrite(std::string_view what, Steps&& steps);
  int Run(const std::string& sql, const PgParams& params, PgResult& out, std::string_view what);
  void BindRecord(PgParams& p, bool modifiedBlobsOnly) const;
  // A key value as its component's column compares it (folded for a case-free text).
  void BindKey(PgParams& p, const KeyComponent& c, const KeyValue& v) const;
  std::vector<KeyValue> KeyValuesOf(const FileKey& key, const std::uint8_t* record) const;
  int ReadRow(const PgResult& r, int row, Row& out) const;
  int Damaged(std::int64_t rid, const std::string& what) const;
  void Apply(Row& row);
  int TakeRow(const PgResult& r);
  int ReadByRid(std::int64_t rid, int missingCode);

  int Step(int direction);
  int Fetch(int direction, std::size_t limit, std::deque<Row>& rows);
  int FetchLevel(int direction, int level, std::size_t limit, std::deque<Row>& rows);
  void Invalidate() { cache_.clear(); }

  int LoadBlob(Blob& blob, int number);
  int MakeWritable(Blob& blob, int number);
  int WriteBlobs(std::int64_t rid, bool onlyModified);
  int WriteChunks(std::int64_t rid, int number, const Blob& blob);
  int ReadChunks(const Blob& blob, int number, std::int64_t offset, char* out, std::size_t n,
                 std::int64_t first, std::int64_t last);
  int CheckBlobCurrent(const Blob& blob);
  int BlobReadResult(const Blob& blob, int result);

  bool Writable() const;
  int RequireCurrent();
  int StoredVersion(std::int64_t rid, std::int64_t& version);
  int NotWritten();
  // Other clients' changes heard since the last call (main connection), plus this driver's own.
  std::uint64_t ChangeCount();

  std::string conninfo_;
  PgConnection conn_;
  std::string table_;   // quoted
  std::string chunks_;  // quoted
  std::string bare_;    // the name without quotes: channel and lock name
  std::string selectList_;
  std::string insertSql_;
  bool open_ = false;
  int mode_ = 0;
  bool inTransaction_ = false;
  std::unique_ptr<State> transactionStart_;
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
  std::uint64_t changes_ = 0;
  // The backend of the main connection, read by change watches to leave its own changes out.
  std::shared_ptr<std::atomic<int>> ownBackend_ = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace rt
