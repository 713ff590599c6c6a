// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The PGSTORE driver: a table on a database server, shared by every client connected to it.
// The table is named after the file's name (without folder or extension).
//
// What it shares with STORE (storage scheme, sequences, writes, BLOBs, transaction state) is
// SqlTableDriver.h; this is the connection, the schema and the running of statements.
//
// Storage, as STORE's (texts in byte order): the record id "_rid" comes from a sequence
// (never handed out twice, whichever client adds); BLOB contents are in "<table>$chunks";
// the table's comment marks it as a table of this driver, each key's index comment holds the
// key's definition. A missing table is created inside a transaction holding an advisory lock
// named after it, so clients starting at once end with one table.
//
// Every write runs in a transaction of its own (a savepoint inside the caller's) that also
// announces the change on the table's channel, so other clients hear of it when it commits
// (WatchOtherClients). Every value read is also checked against its column's type, so a
// reply of another type is refused as 47. A connection lost mid-operation reports 8 and the
// next operation connects again; a transaction it interrupted is over (its changes are gone
// on the server, and a rollback puts the driver's state back).

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/pgstore/PgConnection.h"
#include "platform/sqltable/SqlTableDriver.h"

namespace rt {

class PgViewCursor;

class PgDriver : public SqlTableDriver {
 public:
  PgDriver(File& file, std::string conninfo);
  ~PgDriver() override;

  int Create() override;
  bool SqlDriver() const override { return true; }
  int Open(int mode) override;
  int Close() override;
  int Build() override;
  int Send(std::string_view option, std::string_view value, std::string& reply) override;
  int Size(std::int64_t& bytes) override;

  std::unique_ptr<ChangeWatch> WatchOtherClients(std::function<void()> changed) override;
  int OpenViewCursor(const ViewQuery& query, std::unique_ptr<ViewCursor>& cursor) override;

  // The table's name on the server unquoted (the file name without folder and extension),
  // and quoted, which is also its notification channel.
  static std::string BareName(const std::string& physicalName);
  static std::string TableName(const std::string& physicalName);
  // The connection string the driver was registered with (RegisterPgDriver).
  static std::string RegisteredConninfo();

 private:
  friend class PgViewCursor;

  // An open table's connection runs its prepared statements with the plan the server made
  // once, without their parameters' values, instead of planning each run: the driver's
  // statements all read or write through an index whatever the values (the record id, a
  // key, the order of a view), and planning cost most of a short read's time on the server.
  // Reads whose plan depends on the values use RunPlannedPerRun.
  static constexpr const char* kGenericPlans = "SET plan_cache_mode = force_generic_plan";
  // Outside a transaction a statement waits this long for a row or table lock another client
  // holds, as STORE waits for a busy file (the RECOVER option sets both), then fails instead
  // of holding its thread for as long as the other client keeps the lock. Empty when the
  // connection string sets the server's lock_timeout itself.
  std::string LockTimeout() const;
  // What an open table's connection runs once connected (the LISTEN and the settings).
  std::vector<std::string> SessionStatements() const;

  // Texts compare in byte order; a case-free text component compares folded to lower case.
  std::string ComponentExpr(const KeyComponent& c) const override;
  // A key value as its component's column compares it (folded for a case-free text).
  KeyValue KeyArgument(const KeyComponent& c, const KeyValue& value) const override;
  std::string TableLabel() const override { return bare_; }
  int QueryRows(const std::string& sql, const SqlArgs& args, std::string_view what,
                std::deque<Row>& rows) override;
  int QueryInt(const std::string& sql, const SqlArgs& args, std::string_view what,
               std::int64_t& value, bool& found) override;
  int Execute(const std::string& sql, const SqlArgs& args, std::string_view what,
              std::int64_t* changed) override;
  int QueryChunks(const std::string& sql, const SqlArgs& args, const ChunkVisitor& each) override;
  // Runs the steps in a transaction of their own (a savepoint inside the caller's),
  // announcing the change.
  int InWrite(std::string_view what, const std::function<int()>& steps) override;
  int BeginTransaction(int timeoutSeconds) override;
  int CommitTransaction() override;
  int RollbackTransaction() override;

  // Schema.
  std::string IndexName(const FileKey& key) const;
  std::string IndexSql(const FileKey& key) const;
  std::string KeySignature(const FileKey& key) const;
  // The table's schema checked in one query; the statements `then` run in the same round
  // trip. `announced` tells whether the table has its change trigger.
  int CheckSchema(const std::vector<std::string>& then, bool* announced = nullptr);
  int CreateIndexes(bool replace);
  // Every writer's change to the rows is announced on the table's channel, another
  // program's (a script, an administrator's session) as the driver's own: a statement
  // trigger notifies as the driver's writes do, and the server delivers one notification per
  // transaction and channel. Made with the table, in its creation transaction.
  std::string NotifyName() const;
  int CreateNotifyTrigger();
  // Gives a table made before it had one its trigger, under the creation lock; best effort
  // (only the table's owner may): the driver's own writes are announced without it.
  void AddNotifyTrigger();
  // Starts a transaction holding the lock that makes and alters the table one client at a
  // time.
  int LockTableCreation(std::string_view what);
  int Connect();

  // Runs a statement: outside a write on a connection made again if it was lost, inside one
  // on the write's own connection only.
  int Run(const std::string& sql, const PgParams& params, PgResult& out, std::string_view what);
  // Runs a statement planned for its parameters' values at this run (a read whose best plan
  // depends on them), unprepared, in one round trip.
  int RunPlannedPerRun(const std::string& sql, const PgParams& params, PgResult& out,
                       std::string_view what);
  int Run(const std::string& sql, const SqlArgs& args, PgResult& out, std::string_view what);
  int ReadRow(const PgResult& r, int row, Row& out) const;
  // Other clients' changes heard since the last call (main connection), plus this driver's own.
  std::uint64_t ChangeCount();
  // The same without reading from the server: the changes heard with the replies so far.
  std::uint64_t HeardChanges();
  // Writes committed to any server table by this process's drivers so far. Another driver's
  // commit is heard on this connection only when its notification arrives, which may be after
  // this thread has gone on (its writer told it so at once); the count tells it sooner.
  static std::uint64_t CommitsInProcess();
  static void CountCommit();

  // A row of a view's read: the record and the values of the view's order.
  struct ViewRow {
    Row row;
    std::vector<KeyValue> values;
  };
  // A view read's statement and the order values its parameters take (the index of each, -1
  // for the record id), made once per read shape.
  struct ViewStatement {
    std::string sql;
    std::vector<int> binds;
  };
  // What a closed view cursor leaves to the next one: the statements of its read shapes, for
  // a view of the same order and filter text (a filter's values are parameters), and its row
  // cache's storage. A filter applied anew then builds no statement and allocates little.
  struct ViewSpare {
    std::string shape;
    std::unordered_map<std::uint64_t, ViewStatement> statements;
    std::vector<ViewRow> rows;
  };
  ViewSpare viewSpare_;
  // The first or the last row of a view's order, read along with other rows and kept until
  // the table changes (or the view's batch time runs out).
  struct OrderEnd {
    bool valid = false;
    bool found = false;     // false: the view has no row
    bool leadNull = false;  // the order's first value is NULL on the server
    ViewRow entry;
    std::uint64_t changes = 0;   // ChangeCount() after the read
    std::uint64_t commits = 0;   // CommitsInProcess() before the read
    bool inTransaction = false;  // read inside a transaction: gone with its rollback
    std::chrono::steady_clock::time_point time;
  };
  // The first and the last row of each view order (by its signature) among all the table's
  // rows, as a view last read them: a view whose filter cannot move one of them takes it
  // from here instead of reading it again.
  std::unordered_map<std::string, std::array<OrderEnd, 2>> orderEnds_;

  std::string conninfo_;
  PgConnection conn_;
  std::string bare_;  // the name without quotes: channel and lock name
  bool open_ = false;
  bool writing_ = false;  // the steps of a write are running
  int lockWaitMs_ = 5000;
  std::uint64_t changes_ = 0;
  // The backend of the main connection, read by change watches to leave its own changes out.
  std::shared_ptr<std::atomic<int>> ownBackend_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace rt
