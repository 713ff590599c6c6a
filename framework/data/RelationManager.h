// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The relation manager of one table on one thread: it opens and closes the table together
// with every related table, writes and deletes records while keeping related tables
// consistent (clear, restrict or cascade on the linking fields), and frames those changes in
// a runtime transaction when UseLogout is set.
//
// The relation graph may have cycles. Open, Close and SetQuickScan walk it in passes: a
// top-level call (marker 0) raises the thread's pass counter, a recursive one (marker 1)
// stops at a manager that the current pass has already visited.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "framework/data/BufferedPairs.h"
#include "framework/data/RelationEntry.h"
#include "framework/error/ErrorLevel.h"
#include "platform/runtime/files/FileKey.h"

class FileManager;

inline constexpr std::uint8_t kDefaultLogoutTimeout = 2;
// Keys have at most this many components that a cascade positions on.
inline constexpr int kMaxKeyComponents = 22;
// Set in SetQuickScan's propagate value by a recursive call.
inline constexpr std::uint8_t kQuickScanRecursive = 0x80;

class RelationManager {
 public:
  FileManager* Me = nullptr;
  std::unique_ptr<std::vector<RelationEntry>> Relations;
  FileManager* AliasFile = nullptr;
  std::uint8_t PrevUseLogout = 0;
  std::uint8_t UseLogout = 0;
  std::uint8_t UseLogoutOnInsert = 0;
  std::uint8_t LogoutTimeout = kDefaultLogoutTimeout;
  std::int32_t LastTouched = 0;
  std::uint8_t ForcingOpen = 0;
  std::uint8_t DeferedRelationsDone = 0;

  RelationManager() = default;
  RelationManager(const RelationManager&) = delete;
  RelationManager& operator=(const RelationManager&) = delete;

  // ---- Virtual operations ----
  // Declared in the order of the class's published interface, which derived classes and
  // their callers are written against: new operations go at the end and none is moved.
  // Deletes Me's pre-added auto-numbered record through Delete, without confirmation.
  virtual ErrorLevel CancelAutoNumber();
  virtual ErrorLevel Close(std::uint8_t marker = 0);
  // Deletes the current record with the delete rules of every relation; asks "Record Delete
  // Error" on failure and starts again (with a new transaction) on Yes.
  virtual ErrorLevel Delete(bool confirm = true);
  // The related side of a delete: applies `mode` to every record of this table linked to
  // the parent by `pairs`.
  virtual ErrorLevel CascadeDelete(const rt::FileKey* hisKey, BufferedPairs& pairs,
                                   std::uint8_t mode, bool confirm);
  // Leaves the thread's relation map and releases the relation list. A second call does
  // nothing.
  virtual void Kill();
  virtual ErrorLevel Open(std::uint8_t marker = 0);
  // Remembers the current linking values of every relation (Buffer := Left).
  virtual void SaveLinkValues();
  // Sends "QUICKSCAN=on|off" to Me's file when it is open; propagate 0 stops there, 1 goes
  // on to relations without HisKey, 2 to those with one, other values to all.
  virtual void SetQuickScan(std::uint8_t on, std::uint8_t propagate = 0);
  virtual ErrorLevel Insert();
  // Writes the changed record and applies the update rules. LevelNotify when another
  // station changed the record (shown), 1 for other failures the caller may retry.
  virtual ErrorLevel Update(bool redisplay = false);
  // The related side of an update.
  virtual ErrorLevel CascadeUpdate(const rt::FileKey* hisKey, BufferedPairs& pairs,
                                   std::uint8_t mode);
  // Fills Relations; called once, before the first use of the list. Nothing by default.
  virtual void DeferredAddRelations();

  virtual ~RelationManager();

  // ---- Non-virtual operations ----
  void Init(FileManager& fileManager, std::uint8_t useLogout);
  void EnsureRelations();
  ErrorLevel OpenForcing(std::uint8_t marker);
  // Writes the current related record, first carrying its own changed links further.
  ErrorLevel WriteRelated();

 private:
  enum class Rule : std::uint8_t { Update, Delete, Insert };

  // A top-level pass raises the thread's counter; a recursive one stops (returns false) at a
  // manager already visited. Marks this manager visited.
  bool EnterPass(bool topLevel);
  // Makes the tables a change may touch take part in the thread's transaction and starts
  // it. LevelQuiet also when the driver has no transactions (UseLogout is then cleared).
  ErrorLevel BeginTransaction(Rule rule);
  // Prepares this table and, by the rule, its related tables; `visited` breaks cycles.
  ErrorLevel Prepare(Rule rule, RelationManager& owner, std::vector<RelationManager*>& visited);
  // Ends the thread's running transaction, if any. A failed commit is rolled back and
  // returns false.
  static bool CommitChanges();
  static void RollbackChanges();
  // The linked records of this table: positions (in file order) of every record of
  // `hisKey` whose linking fields match, read from the key's start at those values.
  // LevelNotify (shown) when the reading failed.
  ErrorLevel FindLinked(const rt::FileKey& hisKey, BufferedPairs& pairs, bool useBuffer,
                        std::vector<std::string>& positions);
  // Uses this table for reading and calls `each` on every linked record, read again at its
  // position (one a deeper cascade changed or removed meanwhile is skipped); the file's state
  // is restored after. Stops at the first result of `each` that is not LevelQuiet and returns
  // it; LevelNotify (shown) when the table cannot be used or read.
  ErrorLevel ForEachLinked(const rt::FileKey& hisKey, BufferedPairs& pairs, bool useBuffer,
                           const std::function<ErrorLevel()>& each);
  // Deletes, by their delete modes, the records related to this table's current record.
  ErrorLevel CascadeDeleteRelated(bool confirm);
  void ClearRecord();

  bool killed_ = false;
  bool registered_ = false;
};
