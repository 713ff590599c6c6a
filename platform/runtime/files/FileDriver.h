// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The driver interface behind rt::File and the process-wide registry of drivers by name.
// A driver object serves one File object: the File creates it at create or open time and it
// borrows the File for its declarations (name, layout, keys, BLOBs), its record buffer and its
// null flags. Every operation returns a runtime error code and leaves the thread's error
// state set (0 success). Operations a driver does not offer return kNoDriverError (80).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/runtime/files/FileKey.h"
#include "platform/runtime/threads/ErrorCodes.h"

namespace rt {

class File;
class ViewCursor;
struct ViewQuery;

// The opaque driver part of a saved file state.
class FileDriverState {
 public:
  virtual ~FileDriverState() = default;
};

// A subscription to other clients' changes (FileDriver::WatchOtherClients); destroying it
// ends the subscription and waits until no call of its callback is running.
class ChangeWatch {
 public:
  virtual ~ChangeWatch() = default;
};

// Where a keyed sequence starts.
enum class SetFrom : std::uint8_t {
  Start,   // next reads the first record, previous the last one
  Values,  // next reads the first record >= the buffer's key values, previous the last <=
  End,     // next reports end of file, previous reads the last record
};

class FileDriver {
 public:
  explicit FileDriver(File& file) : file_(file) {}
  virtual ~FileDriver() = default;
  FileDriver(const FileDriver&) = delete;
  FileDriver& operator=(const FileDriver&) = delete;

  [[nodiscard]] virtual int Create();
  // True when Create keeps a file that already exists instead of replacing it, so that it is
  // safe while another open uses the file.
  virtual bool CreateKeepsExisting() const { return false; }
  // True for a driver whose tables live on an SQL server that evaluates SQL() calls in
  // filters itself (the file's SQL-driver property).
  virtual bool SqlDriver() const { return false; }
  [[nodiscard]] virtual int Open(int mode) = 0;
  [[nodiscard]] virtual int Close() = 0;
  [[nodiscard]] virtual int Build();
  // A driver command "option=value"; the option arrives upper-cased.
  [[nodiscard]] virtual int Send(std::string_view option, std::string_view value,
                                 std::string& reply);
  [[nodiscard]] virtual int Records(std::int64_t& count);

  [[nodiscard]] virtual int SetFile();
  [[nodiscard]] virtual int SetKey(const FileKey& key, SetFrom from);
  [[nodiscard]] virtual int Next();
  [[nodiscard]] virtual int Previous();
  [[nodiscard]] virtual int GetByKey(const FileKey& key);
  [[nodiscard]] virtual int GetByPointer(std::int64_t pointer, std::uint32_t length);
  [[nodiscard]] virtual int Position(const FileKey* key, std::string& position);
  [[nodiscard]] virtual int Reset(const FileKey* key, std::string_view position);
  [[nodiscard]] virtual int Reget(const FileKey* key, std::string_view position);
  // Record id (or byte pointer) of the current record; 0 when there is none.
  virtual std::int64_t Pointer() const;

  [[nodiscard]] virtual int Add(std::uint32_t length);
  [[nodiscard]] virtual int Put();
  [[nodiscard]] virtual int WriteAt(std::int64_t pointer, std::uint32_t length);
  [[nodiscard]] virtual int Delete();
  [[nodiscard]] virtual int Duplicate(const FileKey* key, bool& duplicate);
  [[nodiscard]] virtual int Watch();

  virtual bool SupportsTransactions() const { return false; }
  [[nodiscard]] virtual int StartTransaction(int timeoutSeconds);
  [[nodiscard]] virtual int Commit();
  [[nodiscard]] virtual int Rollback();

  virtual std::unique_ptr<FileDriverState> SaveState();
  [[nodiscard]] virtual int RestoreState(const FileDriverState& state);

  virtual void SkipBlobsOnNextRead() {}
  // A read attempt failed: a pending skip-BLOBs request must not carry over to a later read.
  virtual void CancelSkipBlobs() {}
  [[nodiscard]] virtual int SetPrefetch(int count);
  virtual void ClearBlobs() {}
  [[nodiscard]] virtual int BlobSize(int blob, std::int64_t& size);
  [[nodiscard]] virtual int SetBlobSize(int blob, std::int64_t size);
  [[nodiscard]] virtual int ReadBlob(int blob, std::int64_t offset, void* destination,
                                     std::size_t length, std::size_t& got);
  [[nodiscard]] virtual int WriteBlob(int blob, std::int64_t offset, const void* source,
                                      std::size_t length);

  // Size of the physical file in bytes.
  [[nodiscard]] virtual int Size(std::int64_t& bytes);
  // Bytes moved by the last read of a raw or text record.
  virtual std::uint32_t BytesRead() const { return 0; }

  // Calls `changed`, on a thread of the driver's own, each time another client commits an
  // insert, change or delete to the table, until the returned watch is destroyed. nullptr when
  // the driver cannot tell (a local file has no other clients to announce).
  virtual std::unique_ptr<ChangeWatch> WatchOtherClients(std::function<void()> changed) {
    (void)changed;
    return nullptr;
  }

  // A reader of the file in a view's order (ViewCursor.h); drivers without one answer 80.
  [[nodiscard]] virtual int OpenViewCursor(const ViewQuery& query,
                                           std::unique_ptr<ViewCursor>& cursor);

 protected:
  // Sets the thread's error to "function not supported" and returns its code.
  static int NotSupported();
  File& file_;
};

using FileDriverFactory = std::function<std::unique_ptr<FileDriver>(File&)>;

// Registers (or replaces) a driver under a name matched without regard to case. The extension
// (such as ".sqlite") is added to a file name that has none. RAW and TEXT are built in.
void RegisterFileDriver(std::string name, std::string extension, FileDriverFactory factory);
bool FileDriverRegistered(std::string_view name);
// A new driver object for the file, or nullptr when no driver has that name.
std::unique_ptr<FileDriver> MakeFileDriver(std::string_view name, File& file);
// The driver's extension ("" when none or unknown).
std::string FileDriverExtension(std::string_view name);

}  // namespace rt
