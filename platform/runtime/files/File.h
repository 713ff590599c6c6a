// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// platform/runtime/files: the record file API (File), the driver interface every file driver
// implements and its registry, keys, positions, transactions, callbacks around operations,
// and the plain-file drivers RAW and TEXT. Table drivers such as STORE live in platform/.
//
// A record file of the runtime: a label ("DEMODATA"), a prefix ("DEM"), a driver ("STORE",
// "RAW", "TEXT"), a record layout with its buffer, keys, BLOBs (numbered from 1) and a name
// property (the physical file name: the label by default; a driver with an extension, such as
// STORE's ".sqlite", adds it when the name has none; "\" is read as "/").
//
// A File is a plain object used by one thread: the application makes it thread-instanced
// (rt::ThreadLocal<rt::File>) so that each thread has its own record buffer, position and open
// state. A file declared shared (SetShared) is one object guarded by its own lock, which is
// held for each operation itself but not across its callbacks.
//
// Every operation sets the calling thread's error state (rt::SetError) and returns the code,
// 0 on success. Codes: 2 file not found, 5 access denied (also a write to a file opened
// read-only), 33 no record (end or start of the sequence, or no current record),
// 35 record not found by key values or position, 36 empty name, 37 file not open, 40 duplicate
// key, 46 key invalid (build the keys), 47 not a table of this driver, 52 already open,
// 80 not supported by the driver, 89 record changed by another station since the watched read,
// 90 driver failure (the driver's own code and text in rt::FileErrorCode/FileErrorText).
// Records are never held (locked), so 43 does not occur.
//
// Registered callbacks (FileCallback) are called before and after each operation.

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "platform/runtime/files/FileCallback.h"
#include "platform/runtime/files/FileDriver.h"
#include "platform/runtime/files/FileKey.h"
#include "platform/runtime/values/RecordLayout.h"

namespace rt {

// Open modes: access in the low bits, sharing in the high bits.
inline constexpr int kAccessReadOnly = 0x00;
inline constexpr int kAccessWriteOnly = 0x01;
inline constexpr int kAccessReadWrite = 0x02;
inline constexpr int kShareDenyAll = 0x10;
inline constexpr int kShareDenyWrite = 0x20;
inline constexpr int kShareDenyNone = 0x40;
inline constexpr int kDefaultOpenMode = kAccessReadWrite | kShareDenyWrite;  // 0x22
// Read/write while other stations read and write too: the usual mode of a shared table.
inline constexpr int kOpenReadWriteDenyNone = kAccessReadWrite | kShareDenyNone;  // 0x42
inline constexpr int kOpenReadOnlyDenyNone = kAccessReadOnly | kShareDenyNone;    // 0x40

class File {
 public:
  File(std::string label, std::string prefix, std::string driver, RecordLayout layout);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // ---- Declarations (before the first open) ----
  // Adds a key; its number is the count of keys so far. A primary key is unique.
  const FileKey& AddKey(std::string name, std::vector<KeyComponent> components, bool unique,
                        bool primary = false);
  // Adds a BLOB; returns its number (from 1).
  int AddBlob(std::string label);

  const std::string& Label() const { return label_; }
  const std::string& Prefix() const { return prefix_; }
  const std::string& DriverName() const { return driverName_; }
  const RecordLayout& Layout() const { return layout_; }
  int KeyCount() const { return static_cast<int>(keys_.size()); }
  // 1-based; nullptr when out of range.
  const FileKey* Key(int number) const;
  const FileKey* FindKey(std::string_view name) const;
  // The primary key, or nullptr.
  const FileKey* PrimaryKey() const;
  int BlobCount() const { return static_cast<int>(blobs_.size()); }
  const std::string& BlobLabel(int blob) const { return blobs_.at(blob - 1); }
  int FindBlob(std::string_view label) const;

  // The name property and the physical name the driver opens.
  const std::string& Name() const { return name_; }
  void SetName(std::string name);
  std::string PhysicalName() const;

  bool IsShared() const { return shared_; }
  void SetShared(bool shared) { shared_ = shared; }

  // ---- Record buffer and null flags ----
  std::uint8_t* Record() { return record_.data(); }
  const std::uint8_t* Record() const { return record_.data(); }
  std::uint32_t RecordSize() const { return layout_.Size(); }
  // Clears the record (blanks and zeros), its null flags and its BLOBs.
  void ClearRecord();
  bool IsNull(int field) const;
  void SetNull(int field, bool null = true);
  // One byte per field, '1' null, '0' not null.
  std::string GetNulls() const;
  void SetNulls(std::string_view flags);

  // ---- Callbacks ----
  void AddCallback(FileCallback& callback);
  // Once it returns, no thread calls the callback any more: it waits for callbacks that other
  // threads are running on this file (so a callback must not wait for a thread removing one).
  void RemoveCallback(FileCallback& callback);

  // ---- File operations ----
  [[nodiscard]] int Create();
  [[nodiscard]] int Open(int mode = kDefaultOpenMode);
  [[nodiscard]] int Close();
  bool IsOpen() const { return driver_ != nullptr && open_; }
  int OpenMode() const { return openMode_; }
  bool ReadOnly() const { return (openMode_ & 0x0F) == kAccessReadOnly; }
  // Builds (or rebuilds) the keys of a file that is not open.
  [[nodiscard]] int Build();
  // A driver command "OPTION=value" ("Recover=10", "QUICKSCAN=on", "FILEBUFFERS=4",
  // "CREATE=on": a TEXT file opened for writing is created when missing).
  [[nodiscard]] int Send(std::string_view command, std::string* reply = nullptr);
  // The last value sent for a driver option (upper-case name), "" when none.
  std::string Option(std::string_view name) const;
  // The SQL-driver property: the driver hands SQL() calls in filters to its server.
  bool SqlDriver() const;
  // Calls `changed`, on a thread of the driver's, each time another client commits a change to
  // the table, until the returned watch is destroyed (FileDriver::WatchOtherClients). nullptr
  // when the file is not open or its driver cannot tell.
  std::unique_ptr<ChangeWatch> WatchOtherClients(std::function<void()> changed);
  [[nodiscard]] int Records(std::int64_t& count);

  // ---- Sequences and reads ----
  // Record order from the start.
  [[nodiscard]] int Set();
  // Key order from the start (next reads the first, previous the last record).
  [[nodiscard]] int Set(const FileKey& key);
  // Key order from the record buffer's key values.
  [[nodiscard]] int SetFromValues(const FileKey& key);
  // Key order from the end (previous reads the last record).
  [[nodiscard]] int SetToEnd(const FileKey& key);
  [[nodiscard]] int Next();
  [[nodiscard]] int Previous();
  // Reads the first record whose key values equal the buffer's.
  [[nodiscard]] int Get(const FileKey& key);
  // Reads by record pointer (STORE: record id; RAW: 1-based byte position, `length` bytes).
  [[nodiscard]] int GetByPointer(std::int64_t pointer, std::uint32_t length = 0);
  // Position of the current record in a key (nullptr: in record order). Empty on failure.
  std::string Position(const FileKey* key = nullptr);
  // The next Next or Previous in that order reads the record at the position, or its
  // neighbour when that record is gone.
  [[nodiscard]] int Reset(const FileKey* key, std::string_view position);
  // Reads the record at the position.
  [[nodiscard]] int Reget(const FileKey* key, std::string_view position);
  std::int64_t Pointer() const;

  // ---- Writes ----
  [[nodiscard]] int Add();
  // Raw and text files: appends `length` bytes of the record (0: the whole record).
  [[nodiscard]] int Add(std::uint32_t length);
  [[nodiscard]] int Put();
  // Raw files: writes `length` bytes of the record at a 1-based byte position.
  [[nodiscard]] int WriteAt(std::int64_t pointer, std::uint32_t length = 0);
  [[nodiscard]] int Delete();
  // Whether the buffer's values would duplicate another record in a unique key (nullptr:
  // any unique key). Returns the error code; the answer goes to `duplicate`.
  [[nodiscard]] int Duplicate(const FileKey* key, bool& duplicate);
  // Arms change detection for the next read: a later Put of that record fails with 89 when
  // another station (thread or process) changed it meanwhile.
  [[nodiscard]] int Watch();

  // ---- Transactions (the file alone; see FileTransaction for the thread's set) ----
  bool SupportsTransactions() const;
  [[nodiscard]] int StartTransaction(int timeoutSeconds);
  [[nodiscard]] int Commit();
  [[nodiscard]] int Rollback();
  // Whether the file takes part in the thread's transactions; 80 when unsupported.
  [[nodiscard]] int SetTransactionMember(bool member);
  bool TransactionMember() const { return transactionMember_; }

  // ---- File state ----
  // Saves the position, current record, record buffer, null flags and BLOB state; returns a
  // handle (from 1) or 0 on failure.
  int SaveState();
  [[nodiscard]] int RestoreState(int handle);
  void FreeState(int handle);

  // ---- Options ----
  void SkipBlobsOnNextRead();
  [[nodiscard]] int SetPrefetch(int count);
  int Prefetch() const { return prefetch_; }

  // ---- BLOBs ----
  std::int64_t BlobSize(int blob);
  [[nodiscard]] int SetBlobSize(int blob, std::int64_t size);
  // Reads up to `length` bytes from `offset`; `got` receives the count (short at the end).
  [[nodiscard]] int ReadBlob(int blob, std::int64_t offset, void* destination, std::size_t length,
                             std::size_t& got);
  [[nodiscard]] int WriteBlob(int blob, std::int64_t offset, const void* source,
                              std::size_t length);
  [[nodiscard]] int GetBlobContents(int blob, std::string& contents);
  [[nodiscard]] int SetBlobContents(int blob, std::string_view contents);

  // ---- Views ----
  // A reader of the file in a view's order for rt::View; 80 when the driver has none.
  [[nodiscard]] int OpenViewCursor(const ViewQuery& query, std::unique_ptr<ViewCursor>& cursor);

  // ---- Raw and text files ----
  [[nodiscard]] int Size(std::int64_t& bytes);
  std::uint32_t BytesRead() const;

 private:
  struct SavedState {
    std::unique_ptr<FileDriverState> driver;
    std::vector<std::uint8_t> record;
    std::vector<std::uint8_t> nulls;
  };
  class Operation;
  class CallbackRun;

  int Before(FileCallbackParams& params);
  int After(FileCallbackParams& params, int result);
  int UnknownDriver() const;
  // 52 when open, 36 when the name is empty or holds a NUL.
  int RequireClosedAndNamed() const;
  int RequireOpen();
  int ReadAttempt(int result);
  int RequireWritable();
  // The file is open and has that BLOB.
  int RequireBlob(int blob);
  // A keyed sequence from the start, the buffer's values or the end.
  int SetKey(const FileKey& key, SetFrom from);
  bool OwnKey(const FileKey* key) const;

  std::string label_;
  std::string prefix_;
  std::string driverName_;
  RecordLayout layout_;
  std::vector<std::unique_ptr<FileKey>> keys_;
  std::vector<std::string> blobs_;
  std::string name_;
  bool shared_ = false;
  std::vector<std::uint8_t> record_;
  std::vector<std::uint8_t> nulls_;
  std::vector<FileCallback*> callbacks_;
  std::unique_ptr<FileDriver> driver_;
  bool open_ = false;
  std::string shareName_;  // canonical physical name while open
  int openMode_ = 0;
  int prefetch_ = 0;
  bool transactionMember_ = false;
  std::map<int, SavedState> states_;
  int lastState_ = 0;
  std::map<std::string, std::string> options_;
  // Guards everything above but the callback list; never held while a callback runs.
  mutable std::recursive_mutex mutex_;
  // Guards the callback list and the passes over it in progress (ticket, thread); held only
  // to copy or change them.
  std::mutex callbackMutex_;
  std::condition_variable callbackRunsDone_;
  std::vector<std::pair<std::uint64_t, std::thread::id>> callbackRuns_;
  std::uint64_t lastCallbackRun_ = 0;
};

}  // namespace rt
