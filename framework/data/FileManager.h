// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The one object through which the framework touches a table: opening and closing with its
// failure dialogues, keys, reads, auto-numbering, insert, update with detection of another
// station's change, delete, saved record buffers and saved file states. One manager serves
// one table on one thread.
//
// Failures never throw: operations return an ErrorLevel. The plain form of an operation shows
// its failure through the error manager and returns what the user chose; the Try form only
// records the message identifier in LastError and returns LevelNotify (or LevelFatal where
// noted), leaving the caller to decide.
//
// Use levels: 1 and 2 the procedure reads the table, 3 it changes records, 4 use without
// recording it, 5 make sure the file is set up and open.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "framework/data/FieldListEntry.h"
#include "framework/data/IFileOpenServer.h"
#include "framework/data/KeyEntry.h"
#include "framework/data/RecordGroup.h"
#include "framework/data/SavedBufferEntry.h"
#include "framework/data/SavedStateEntry.h"
#include "framework/error/ErrorLevel.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/files/FileCallback.h"
#include "platform/runtime/values/AnyRef.h"
#include "platform/runtime/values/FixedString.h"

class ErrorManager;
class RelationManager;

inline constexpr std::uint8_t kDefaultFileOpenMode = rt::kOpenReadWriteDenyNone;

// Levels of Use, the gate every record operation passes first.
inline constexpr std::uint8_t kUseRead = 1;         // the calling procedure reads the table
inline constexpr std::uint8_t kUseManagerRead = 2;  // the manager's own operations read it
inline constexpr std::uint8_t kUseChange = 3;       // the procedure changes records (forms)
inline constexpr std::uint8_t kUseUnrecorded = 4;   // use without recording it
inline constexpr std::uint8_t kUseSetUp = 5;        // set up and open the file, nothing else
inline constexpr std::int16_t kDefaultLockRecover = 10;
inline constexpr std::size_t kKeyOrderLength = 512;
inline constexpr std::size_t kKeyDescriptionLength = 80;

class FileManager : public rt::FileCallback {
 public:
  FileManager* AliasedFile = nullptr;
  RecordGroup Buffer;
  std::unique_ptr<std::vector<SavedBufferEntry>> Buffers;
  std::uint8_t Create = 1;
  ErrorManager* Errors = nullptr;
  std::unique_ptr<std::vector<FieldListEntry>> Fields;
  rt::File* File = nullptr;
  rt::AnyRef FileName;
  rt::FixedString<256> FileNameValue;
  std::uint8_t HasAutoInc = 0;
  std::uint8_t InUseFile = 0;
  std::uint8_t InCallback = 0;
  std::uint8_t InClose = 0;
  std::uint8_t InRestore = 0;
  std::uint8_t InView = 0;
  std::uint8_t Used = 0;
  std::int32_t Opened = 0;
  std::uint8_t AtEof = 0;
  std::uint8_t AutoIncDone = 0;
  std::int32_t LastError = 0;
  std::uint8_t DoNotAssertOnCloseMisuse = 0;
  std::uint8_t LazyOpen = 1;
  std::int16_t LockRecover = kDefaultLockRecover;
  std::uint8_t OpenMode = kDefaultFileOpenMode;
  std::uint8_t OpenModeOverridden = 0;
  std::uint8_t PrimaryKey = 0;
  std::unique_ptr<std::vector<SavedStateEntry>> Saved;
  std::uint8_t SkipHeldRecords = 0;
  std::uint8_t CleanedUp = 0;
  std::unique_ptr<std::vector<KeyEntry>> Keys;
  std::uint8_t BlobChanged = 0;
  std::string PreviousBuffer;
  std::uint8_t SavePreviousBuffer = 0;
  std::uint8_t Initialized = 0;
  std::uint8_t Killed = 0;
  IFileOpenServer* Opener = nullptr;
  std::uint8_t UseMrp = 0;
  std::uint8_t MrpSize = 10;
  std::uint8_t StopOperation = 0;

  FileManager() = default;
  FileManager(const FileManager&) = delete;
  FileManager& operator=(const FileManager&) = delete;

  // ---- Virtual operations ----
  // Declared in the order of the class's published interface, which derived classes and
  // their callers are written against: new operations go at the end and none is moved.
  int OnOperationStart(int code, rt::FileCallbackParams& params) override;
  int OnOperationEnd(int code, rt::FileCallbackParams& params) override;
  ~FileManager() override;  // where the interface has Destroy
  virtual void BindFields();
  virtual ErrorLevel CancelAutoNumber(RelationManager* relationManager = nullptr);
  virtual ErrorLevel Close();
  virtual bool BufferUnchanged(std::int32_t id);
  virtual ErrorLevel FetchByKey(const rt::FileKey& key);
  virtual void Init();
  virtual void InitFile(rt::File& file, ErrorManager& errors);
  virtual ErrorLevel Insert();
  virtual void Shutdown();
  virtual ErrorLevel ReadNext();
  virtual ErrorLevel Open();
  virtual ErrorLevel ReadPrevious();
  virtual ErrorLevel AutoNumber();
  virtual void InitFields();
  virtual ErrorLevel PrepareRecord(bool keepValues = false);
  virtual void RestoreBuffer(std::int32_t& id, bool restore = true);
  virtual std::int32_t SaveBuffer();
  virtual ErrorLevel Throw(std::uint16_t id);
  virtual ErrorLevel ThrowLast();
  virtual ErrorLevel ThrowMessage(std::uint16_t id, std::string_view text);
  virtual ErrorLevel TryFetchByKey(const rt::FileKey& key);
  virtual ErrorLevel TryInsert();
  virtual ErrorLevel TryReadNext();
  virtual ErrorLevel TryOpen();
  virtual ErrorLevel TryReadPrevious();
  virtual ErrorLevel TryAutoNumber();
  virtual ErrorLevel TryUpdate();
  virtual ErrorLevel Update();
  virtual ErrorLevel Use(std::uint8_t level = kUseRead);
  virtual ErrorLevel CheckField(int field);
  virtual ErrorLevel TryCheckField(int field);
  virtual ErrorLevel ValidateField(int field, bool report);
  virtual ErrorLevel ValidateFields(int from, int to, int* failed = nullptr);
  virtual ErrorLevel ValidateRecord(int* failed = nullptr);
  virtual ErrorLevel DeleteCurrent(bool confirm);
  virtual ErrorLevel DeleteCheck();
  virtual void SetUseMrp(bool on);
  virtual bool GetUseMrp();
  virtual void SetMrpSize(std::uint8_t size);
  virtual std::uint8_t GetMrpSize();
  virtual bool GetAutoNumberDone();
  virtual bool GetHasAutoNumber();
  virtual int DispatchBefore(int code, rt::FileCallbackParams& params);
  virtual int DispatchAfter(int code, rt::FileCallbackParams& params);
  // Application hooks, one pair per group of runtime operations (see FileCallback.h):
  // A open; B add, delete, put, append; C transactions; D reads and positioning (the
  // params carry the key or position text); E key build. Each returns 1 to carry on; a
  // hook sets StopOperation to make the runtime skip the operation.
  virtual int BeforeOpA(int code, rt::FileCallbackParams& params);
  virtual int AfterOpA(int code, rt::FileCallbackParams& params);
  virtual int BeforeOpB(int code, rt::FileCallbackParams& params);
  virtual int AfterOpB(int code, rt::FileCallbackParams& params);
  virtual int BeforeOpC(int code, rt::FileCallbackParams& params);
  virtual int AfterOpC(int code, rt::FileCallbackParams& params);
  virtual int BeforeOpD(int code, rt::FileCallbackParams& params);
  virtual int AfterOpD(int code, rt::FileCallbackParams& params);
  virtual int BeforeOpE(int code, rt::FileCallbackParams& params);
  virtual int AfterOpE(int code, rt::FileCallbackParams& params);

  // ---- Non-virtual operations ----
  // Appends a key; autoNumber is the 1-based number of its auto-numbered component (0 none).
  void AddKey(const rt::FileKey& key, std::string_view description, std::uint8_t autoNumber = 0);
  // Captures the runtime's error state in the error manager and records the message id.
  void SetError(std::int32_t id);
  // Saves the table's whole state; returns its id (0 on failure).
  std::uint16_t SaveFile();
  // Puts back (when restore) and frees a saved state; sets id to 0.
  void RestoreFile(std::uint16_t& id, bool restore = true);
  // The name shown as %File.
  std::string GetFileName();
  // The sort text of a key from a component on: "DEM:ID", "-DEM:ID", "UPPER(TST:NAME)".
  std::string KeyOrder(const rt::FileKey& key, int fromComponent = 1);
  // Key component access (keys by their runtime key, components from 1).
  int KeyPosition(const rt::FileKey& key) const;
  int ComponentCount(const rt::FileKey& key) const;
  rt::AnyRef ComponentField(const rt::FileKey& key, int component) const;
  std::string ComponentLabel(const rt::FileKey& key, int component) const;
  bool ComponentAscending(const rt::FileKey& key, int component) const;
  bool IsOpen() const { return Initialized && Opened > 0; }
  // Shows the other station's version of a record whose update failed with "changed by
  // another station": re-reads and watches it. Inside a transaction the re-read waits for
  // the rollback (which would otherwise put the stale version back); the relation manager
  // calls this once it has rolled back.
  void RereadChangedRecord();
  // Whether the current record is gone from the table (another station deleted it); the
  // record buffer, its BLOBs and the watch stay as they are. The runtime's error is left set
  // when it is.
  bool CurrentRecordGone();

 protected:
  // The logical open (shared by Open and TryOpen); force runs the driver open at once.
  ErrorLevel OpenLogical(bool force, bool handle);
  // The driver open with its retries, read-only fall-back and creation.
  ErrorLevel OpenDriver(bool handle);

 private:
  ErrorLevel Read(int direction, bool handle);
  ErrorLevel DoAutoNumber(bool handle);
  ErrorLevel DoInsert(bool handle);
  ErrorLevel DoUpdate(bool handle);
  // Computes the next value of an auto-numbered key into the record buffer.
  ErrorLevel NumberKey(const KeyEntry& entry, bool handle);
  // Name given for %Key: the description, or the key's label when it is blank.
  static std::string KeyName(const KeyEntry& entry);
  // The first key that reports a duplicate for the buffer, or nullptr; `adding` when the
  // buffer is a record being added rather than the current record.
  const KeyEntry* FindDuplicateKey(bool adding);
  const KeyEntry* FindKey(const rt::FileKey& key) const;
  const rt::FileKey* PrimaryFileKey() const;
  std::string CurrentPosition();
  void ClearBuffer();
  void ReleaseResources();
  bool OwnThread() const;
  // Runs an operation on the aliased manager with this record buffer (alias delegation).
  template <typename Fn>
  ErrorLevel OnAlias(bool openFirst, Fn&& operation);
  void CopyRecordTo(FileManager& other) const;

  std::thread::id owner_;  // the thread whose callbacks this manager handles
  // Position of the record to re-read after a failed update, until it is re-read.
  std::optional<std::string> changedPosition_;
  bool registered_ = false;
};
