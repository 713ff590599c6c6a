// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The STORE driver: a table in an SQLite database of its own (WAL mode), one file per table
// named after the file's name property plus kStoreExtension. What it shares with the server
// driver (storage scheme, sequences, writes, BLOBs, transaction state) is SqlTableDriver.h;
// this is the database file, its schema and the running of statements.
//
// Storage: table "records" and the chunk table "blob_chunks" as SqlTableDriver.h says, so
// that a partial BLOB read loads only the chunks it needs (format 1 tables have no chunk
// checksums); "store_meta" marks the file as a table of this driver and holds its format.
// Each key is an index with its components' directions and case rules.
//
// Safety: a table is created in a temporary file and moved into place only when no table
// exists yet, so an open never sees a half-made table and a create never replaces one. Only
// regular files are opened. Each write runs in a savepoint of its own.
// Known limits: records are not held (no 43); a lazily read BLOB reflects the table at the
// time it is read; share modes are honoured between File objects of one process only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/sqltable/SqlTableDriver.h"
#include "platform/store/Store.h"

// The database library's connection stays an opaque type outside this folder's sources.
struct sqlite3;

namespace rt {

class StoreStatement;
class StoreStatementGuard;
class StoreViewCursor;

class StoreDriver : public SqlTableDriver {
 public:
  explicit StoreDriver(File& file);
  ~StoreDriver() override;

  int Create() override;
  int Open(int mode) override;
  int Close() override;
  int Build() override;
  int Send(std::string_view option, std::string_view value, std::string& reply) override;
  int Size(std::int64_t& bytes) override;

  // Reads in a view's order (StoreViewCursor.h).
  int OpenViewCursor(const ViewQuery& query, std::unique_ptr<ViewCursor>& cursor) override;

 private:
  friend class StoreViewCursor;

  std::string ComponentExpr(const KeyComponent& c) const override;
  std::string TableLabel() const override;
  int QueryRows(const std::string& sql, const SqlArgs& args, std::string_view what,
                std::deque<Row>& rows) override;
  int QueryInt(const std::string& sql, const SqlArgs& args, std::string_view what,
               std::int64_t& value, bool& found) override;
  int Execute(const std::string& sql, const SqlArgs& args, std::string_view what,
              std::int64_t* changed) override;
  int QueryChunks(const std::string& sql, const SqlArgs& args, const ChunkVisitor& each) override;
  // Ends a quick scan and runs the steps in a savepoint, released when they succeed and
  // rolled back otherwise.
  int InWrite(std::string_view what, const std::function<int()>& steps) override;
  int BeginTransaction(int timeoutSeconds) override;
  int CommitTransaction() override;
  int RollbackTransaction() override;

  // Schema.
  std::string IndexSql(const FileKey& key) const;
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
  int Fail(int rc, std::string_view what);
  StoreStatementGuard Statement(const std::string& sql);
  int Exec(const std::string& sql);
  // Prepares a statement (from the cache) and binds the arguments.
  StoreStatementGuard Bound(const std::string& sql, const SqlArgs& args);
  void BindValue(StoreStatement& s, int index, const KeyValue& v);
  // Reads and range-checks a row; 47 when the table holds a value out of range.
  int ReadRow(StoreStatement& s, Row& row) const;

  sqlite3* db_ = nullptr;
  // The table's entry in LockedFileRegistry while db_ is connected to it (0: none).
  std::uint64_t lockedEntry_ = 0;
  std::map<std::string, std::unique_ptr<StoreStatement>> statements_;
  int busyMs_ = 5000;
  bool quickScan_ = false;
  std::uint64_t quickScans_ = 0;  // quick scans begun, numbering the current one
};

}  // namespace rt
