// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/files/File.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/runtime/files/FileHandle.h"
#include "platform/runtime/files/FileTransaction.h"
#include "platform/runtime/files/ViewCursor.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/Text.h"

namespace rt {

namespace {

// The callbacks of a file as they were when an operation began, so that they run without the
// file's lock (a callback may add or remove callbacks, or use the file from another thread).
// A short list is copied without allocating: every file operation takes one.
class CallbackSnapshot {
 public:
  void Take(const std::vector<FileCallback*>& callbacks) {
    size_ = callbacks.size();
    if (size_ > kInline) {
      heap_ = callbacks;
    } else {
      std::copy(callbacks.begin(), callbacks.end(), inline_.begin());
    }
  }

  bool Empty() const { return size_ == 0; }

  // Calls `fn` on each callback until it returns false.
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    FileCallback* const* list = size_ > kInline ? heap_.data() : inline_.data();
    for (std::size_t i = 0; i < size_; ++i) {
      if (!fn(list[i])) return;
    }
  }

 private:
  static constexpr std::size_t kInline = 8;
  std::size_t size_ = 0;
  std::array<FileCallback*, kInline> inline_{};
  std::vector<FileCallback*> heap_;
};

// Puts back the error state saved before callbacks ran, when they changed it.
void RestoreError(const ErrorState& saved) {
  const ErrorState& now = LastError();
  if (now.code == saved.code && now.text == saved.text && now.driverCode == saved.driverCode &&
      now.driverText == saved.driverText) {
    return;
  }
  SetError(saved.code, saved.text, saved.driverCode, saved.driverText);
}

bool KnownOption(const std::string& option) {
  return option == "RECOVER" || option == "QUICKSCAN" || option == "FILEBUFFERS" ||
         option == "CREATE";
}

// The process's open files by physical path with their open modes, so that share modes are
// honoured between File objects of the process (threads included).
class ShareTable {
 public:
  static ShareTable& Instance() {
    static ShareTable table;
    return table;
  }

  static std::string Canonical(const std::string& path) {
    std::error_code ec;
    auto p = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
    return ec ? path : p.string();
  }

  // Registers an open; false when the mode conflicts with an open already registered.
  bool Acquire(const std::string& path, const void* owner, int mode) {
    std::lock_guard lock(mutex_);
    auto& opens = opens_[path];
    for (const auto& [other, otherMode] : opens) {
      if (other != owner && Conflicts(otherMode, mode)) return false;
    }
    opens.emplace_back(owner, mode);
    return true;
  }

  void Release(const std::string& path, const void* owner) {
    std::lock_guard lock(mutex_);
    auto it = opens_.find(path);
    if (it == opens_.end()) return;
    std::erase_if(it->second, [&](const auto& e) { return e.first == owner; });
    if (it->second.empty()) opens_.erase(it);
  }

  bool InUse(const std::string& path) {
    std::lock_guard lock(mutex_);
    return opens_.count(path) != 0;
  }

 private:
  static bool Writes(int mode) { return (mode & 0x0F) != kAccessReadOnly; }
  static bool Conflicts(int existing, int wanted) {
    const int es = existing & 0xF0;
    const int ws = wanted & 0xF0;
    if (es == kShareDenyAll || ws == kShareDenyAll) return true;
    if (es == kShareDenyWrite && Writes(wanted)) return true;
    if (ws == kShareDenyWrite && Writes(existing)) return true;
    return false;
  }

  std::mutex mutex_;
  std::unordered_map<std::string, std::vector<std::pair<const void*, int>>> opens_;
};

int ShareDenied() {
  SetError(kAccessDenied, "File is in use by another open that denies this access");
  return kAccessDenied;
}

int NegativeBlobValue(std::string_view what) {
  SetError(kDriverError, {}, "0", "Negative BLOB " + std::string(what));
  return kDriverError;
}

int BadKey() {
  SetError(kInvalidKeyError, "Key does not belong to this file");
  return kInvalidKeyError;
}

}  // namespace

// One pass over a file's callbacks. The callbacks run without any of the file's locks; the
// pass is registered so that RemoveCallback on another thread waits until it is over.
class File::CallbackRun {
 public:
  explicit CallbackRun(File& file) : file_(file) {
    std::lock_guard lock(file_.callbackMutex_);
    callbacks_.Take(file_.callbacks_);
    if (callbacks_.Empty()) return;
    ticket_ = ++file_.lastCallbackRun_;
    file_.callbackRuns_.emplace_back(ticket_, std::this_thread::get_id());
  }
  ~CallbackRun() {
    if (ticket_ == 0) return;
    std::lock_guard lock(file_.callbackMutex_);
    std::erase_if(file_.callbackRuns_, [&](const auto& run) { return run.first == ticket_; });
    file_.callbackRunsDone_.notify_all();
  }
  CallbackRun(const CallbackRun&) = delete;
  CallbackRun& operator=(const CallbackRun&) = delete;

  bool Empty() const { return callbacks_.Empty(); }
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    callbacks_.ForEach(std::forward<Fn>(fn));
  }

 private:
  File& file_;
  CallbackSnapshot callbacks_;
  std::uint64_t ticket_ = 0;
};

// Runs one operation between the before and after callbacks. The file's lock covers the
// operation itself, not the callbacks: a callback may wait for another thread that uses the
// same file.
class File::Operation {
 public:
  Operation(File& file, int code, std::string text = {}) : file_(file) {
    params_.operation = code;
    params_.text = std::move(text);
  }

  template <typename Fn>
  int Run(Fn&& body) {
    if (file_.Before(params_) != 0) return LastError().code;
    int result = kNoError;
    {
      std::lock_guard lock(file_.mutex_);
      result = body();
    }
    return file_.After(params_, result);
  }

  // Runs the body when the file is open.
  template <typename Fn>
  int RunOpen(Fn&& body) {
    return Run([&] {
      if (int e = file_.RequireOpen()) return e;
      return body();
    });
  }

  // Runs the body when the file is open and the key (nullptr: none) is one of its own.
  template <typename Fn>
  int RunKeyed(const FileKey* key, Fn&& body) {
    return RunOpen([&] { return file_.OwnKey(key) ? body() : BadKey(); });
  }

  // Runs the body when the file is open for writing.
  template <typename Fn>
  int RunWritable(Fn&& body) {
    return Run([&] {
      if (int e = file_.RequireWritable()) return e;
      return body();
    });
  }

  FileCallbackParams& Params() { return params_; }

 private:
  File& file_;
  FileCallbackParams params_;
};

File::File(std::string label, std::string prefix, std::string driver, RecordLayout layout)
    : label_(std::move(label)),
      prefix_(std::move(prefix)),
      driverName_(std::move(driver)),
      layout_(std::move(layout)),
      name_(label_),
      record_(layout_.Size()),
      nulls_(static_cast<std::size_t>(layout_.FieldCount()), 0) {
  for (const FieldDesc& f : layout_.Fields())
    ClearField(f, record_.data());
}

File::~File() {
  FileCallbackParams params;
  params.operation = kOpDestroy;
  const ErrorState saved = LastError();
  {
    const CallbackRun run(*this);
    run.ForEach([&](FileCallback* cb) {
      cb->OnOperationStart(kOpDestroy, params);
      return true;
    });
    run.ForEach([&](FileCallback* cb) {
      cb->OnOperationEnd(kOpDestroy, params);
      return true;
    });
  }
  std::lock_guard lock(mutex_);
  if (driver_) static_cast<void>(driver_->Close());  // a destructor has no one to tell
  driver_.reset();
  if (!shareName_.empty()) ShareTable::Instance().Release(shareName_, this);
  RemoveTransactionMember(*this);
  RestoreError(saved);
}

// ---- Declarations ----

const FileKey& File::AddKey(std::string name, std::vector<KeyComponent> components, bool unique,
                            bool primary) {
  keys_.push_back(std::make_unique<FileKey>(static_cast<int>(keys_.size()) + 1, std::move(name),
                                            std::move(components), unique, primary));
  return *keys_.back();
}

int File::AddBlob(std::string label) {
  blobs_.push_back(std::move(label));
  return static_cast<int>(blobs_.size());
}

const FileKey* File::Key(int number) const {
  if (number < 1 || number > KeyCount()) return nullptr;
  return keys_[number - 1].get();
}

const FileKey* File::FindKey(std::string_view name) const {
  for (const auto& k : keys_) {
    if (SameName(k->Name(), name)) return k.get();
  }
  return nullptr;
}

const FileKey* File::PrimaryKey() const {
  for (const auto& k : keys_) {
    if (k->Primary()) return k.get();
  }
  return nullptr;
}

int File::FindBlob(std::string_view label) const {
  for (std::size_t i = 0; i < blobs_.size(); ++i) {
    if (SameName(blobs_[i], label)) return static_cast<int>(i) + 1;
  }
  return 0;
}

void File::SetName(std::string name) {
  std::lock_guard lock(mutex_);
  std::replace(name.begin(), name.end(), '\\', '/');
  name_ = std::string(Trim(name, kWhitespace));
}

std::string File::PhysicalName() const {
  std::lock_guard lock(mutex_);
  std::string name = name_;
  if (name.empty()) return name;
  const std::string ext = FileDriverExtension(driverName_);
  if (ext.empty()) return name;
  const auto slash = name.find_last_of('/');
  const auto base = slash == std::string::npos ? 0 : slash + 1;
  if (name.find('.', base) == std::string::npos) name += ext;
  return name;
}

// ---- Record buffer ----

void File::ClearRecord() {
  std::lock_guard lock(mutex_);
  std::fill(record_.begin(), record_.end(), 0);
  for (const FieldDesc& f : layout_.Fields())
    ClearField(f, record_.data());
  std::fill(nulls_.begin(), nulls_.end(), 0);
  if (driver_) driver_->ClearBlobs();
}

bool File::IsNull(int field) const {
  std::lock_guard lock(mutex_);
  if (field < 1 || field > layout_.FieldCount()) return false;
  return nulls_[field - 1] != 0;
}

void File::SetNull(int field, bool null) {
  std::lock_guard lock(mutex_);
  if (field < 1 || field > layout_.FieldCount()) return;
  nulls_[field - 1] = null ? 1 : 0;
}

std::string File::GetNulls() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (auto n : nulls_)
    out.push_back(n ? '1' : '0');
  return out;
}

void File::SetNulls(std::string_view flags) {
  std::lock_guard lock(mutex_);
  for (std::size_t i = 0; i < nulls_.size(); ++i) {
    nulls_[i] = (i < flags.size() && flags[i] == '1') ? 1 : 0;
  }
}

// ---- Callbacks ----

void File::AddCallback(FileCallback& callback) {
  std::lock_guard lock(callbackMutex_);
  if (std::find(callbacks_.begin(), callbacks_.end(), &callback) == callbacks_.end()) {
    callbacks_.push_back(&callback);
  }
}

void File::RemoveCallback(FileCallback& callback) {
  std::unique_lock lock(callbackMutex_);
  std::erase(callbacks_, &callback);
  // Passes that began on other threads before the removal may still call it: wait for them,
  // so that the caller may destroy the callback. This thread's own passes (the removal may
  // come from inside a callback) and passes that begin later are not waited for.
  const std::uint64_t begunBefore = lastCallbackRun_;
  const std::thread::id self = std::this_thread::get_id();
  callbackRunsDone_.wait(lock, [&] {
    return std::none_of(callbackRuns_.begin(), callbackRuns_.end(), [&](const auto& run) {
      return run.first <= begunBefore && run.second != self;
    });
  });
}

// Returns non-zero (and sets the error) when a callback stopped the operation.
int File::Before(FileCallbackParams& params) {
  const CallbackRun run(*this);
  if (run.Empty()) return 0;
  const ErrorState saved = LastError();
  run.ForEach([&](FileCallback* cb) {
    cb->OnOperationStart(params.operation, params);
    return !params.stop;
  });
  if (params.stop) {
    SetError(params.stopCode);
    return params.stopCode == 0 ? -1 : params.stopCode;
  }
  RestoreError(saved);
  return 0;
}

int File::After(FileCallbackParams& params, int result) {
  const CallbackRun run(*this);
  if (run.Empty()) return result;
  const ErrorState saved = LastError();
  params.result = result;
  run.ForEach([&](FileCallback* cb) {
    cb->OnOperationEnd(params.operation, params);
    return true;
  });
  RestoreError(saved);
  return result;
}

int File::UnknownDriver() const {
  SetError(kNoDriverError, "Unknown file driver " + driverName_);
  return kNoDriverError;
}

int File::RequireClosedAndNamed() const {
  if (IsOpen()) {
    SetError(kIsOpenError);
    return kIsOpenError;
  }
  const std::string name = PhysicalName();
  if (name.empty()) {
    SetError(kBadNameError);
    return kBadNameError;
  }
  return FileHandle::CheckName(name);
}

int File::RequireOpen() {
  if (IsOpen()) return kNoError;
  SetError(kFileNotOpenError);
  return kFileNotOpenError;
}

int File::RequireWritable() {
  if (int e = RequireOpen()) return e;
  if (!ReadOnly()) return kNoError;
  SetError(kAccessDenied, "File opened read-only");
  return kAccessDenied;
}

int File::RequireBlob(int blob) {
  if (int e = RequireOpen()) return e;
  if (blob >= 1 && blob <= BlobCount()) return kNoError;
  SetError(kDriverError, {}, "0", "No BLOB number " + std::to_string(blob));
  return kDriverError;
}

bool File::OwnKey(const FileKey* key) const {
  if (key == nullptr) return true;
  return key->Number() >= 1 && key->Number() <= KeyCount() && keys_[key->Number() - 1].get() == key;
}

// ---- File operations ----

int File::Create() {
  Operation op(*this, kOpCreate);
  return op.Run([&] {
    if (int e = RequireClosedAndNamed()) return e;
    auto driver = MakeFileDriver(driverName_, *this);
    if (!driver) return UnknownDriver();
    // A driver that never replaces an existing file may create while another open uses it.
    if (!driver->CreateKeepsExisting() &&
        ShareTable::Instance().InUse(ShareTable::Canonical(PhysicalName()))) {
      return ShareDenied();
    }
    return driver->Create();
  });
}

int File::Open(int mode) {
  Operation op(*this, kOpOpen);
  return op.Run([&] {
    if (int e = RequireClosedAndNamed()) return e;
    const int access = mode & 0x0F;
    if (access > kAccessReadWrite) {
      SetError(kAccessDenied, "Invalid open mode");
      return kAccessDenied;
    }
    auto driver = MakeFileDriver(driverName_, *this);
    if (!driver) return UnknownDriver();
    const std::string shareName = ShareTable::Canonical(PhysicalName());
    if (!ShareTable::Instance().Acquire(shareName, this, mode)) return ShareDenied();
    openMode_ = mode;
    const int result = driver->Open(mode);
    if (result != kNoError) {
      ShareTable::Instance().Release(shareName, this);
      return result;
    }
    shareName_ = shareName;
    driver_ = std::move(driver);
    open_ = true;
    // Prefetching is a hint: a driver that cannot do it still reads every record.
    if (prefetch_ > 0) static_cast<void>(driver_->SetPrefetch(prefetch_));
    ClearError();
    return kNoError;
  });
}

int File::Close() {
  Operation op(*this, kOpClose);
  return op.Run([&] {
    if (!IsOpen()) {
      ClearError();
      return kNoError;
    }
    const int result = driver_->Close();
    const ErrorState err = LastError();
    driver_.reset();
    open_ = false;
    ShareTable::Instance().Release(shareName_, this);
    shareName_.clear();
    states_.clear();
    SetError(err.code, err.text, err.driverCode, err.driverText);
    return result;
  });
}

int File::Build() {
  Operation op(*this, kOpBuild);
  return op.Run([&] {
    if (IsOpen()) {
      SetError(kIsOpenError);
      return kIsOpenError;
    }
    auto driver = MakeFileDriver(driverName_, *this);
    if (!driver) return UnknownDriver();
    return driver->Build();
  });
}

std::string File::Option(std::string_view name) const {
  std::lock_guard lock(mutex_);
  auto it = options_.find(Upper(name));
  return it == options_.end() ? std::string() : it->second;
}

int File::Send(std::string_view command, std::string* reply) {
  Operation op(*this, kOpSend, std::string(command));
  return op.Run([&] {
    const auto eq = command.find('=');
    const std::string option = Upper(Trim(command.substr(0, eq), kWhitespace));
    const std::string value = eq == std::string_view::npos
                                  ? std::string()
                                  : std::string(Trim(command.substr(eq + 1), kWhitespace));
    std::string answer;
    int result = kNoError;
    if (KnownOption(option)) {
      if (eq != std::string_view::npos) options_[option] = value;
      // The file keeps these options itself; the driver only hears of them.
      if (IsOpen()) static_cast<void>(driver_->Send(option, value, answer));
      answer = eq != std::string_view::npos ? value : Option(option);
      ClearError();
    } else if (IsOpen()) {
      result = driver_->Send(option, value, answer);
    } else {
      SetError(kNoDriverError, "Unknown driver option " + option);
      result = kNoDriverError;
    }
    if (reply) *reply = answer;
    return result;
  });
}

bool File::SqlDriver() const {
  std::lock_guard lock(mutex_);
  return IsOpen() && driver_->SqlDriver();
}

std::unique_ptr<ChangeWatch> File::WatchOtherClients(std::function<void()> changed) {
  std::lock_guard lock(mutex_);
  if (!IsOpen()) return nullptr;
  return driver_->WatchOtherClients(std::move(changed));
}

int File::Records(std::int64_t& count) {
  Operation op(*this, kOpRecords);
  return op.Run([&] {
    count = 0;
    if (int e = RequireOpen()) return e;
    return driver_->Records(count);
  });
}

// ---- Sequences and reads ----

int File::Set() {
  Operation op(*this, kOpSetFile);
  return op.RunOpen([&] { return driver_->SetFile(); });
}

int File::SetKey(const FileKey& key, SetFrom from) {
  Operation op(*this, kOpSet, key.Name());
  return op.RunKeyed(&key, [&] { return driver_->SetKey(key, from); });
}

int File::Set(const FileKey& key) {
  return SetKey(key, SetFrom::Start);
}

int File::SetFromValues(const FileKey& key) {
  return SetKey(key, SetFrom::Values);
}

int File::SetToEnd(const FileKey& key) {
  return SetKey(key, SetFrom::End);
}

int File::Next() {
  Operation op(*this, kOpNext);
  return op.RunOpen([&] { return ReadAttempt(driver_->Next()); });
}

int File::Previous() {
  Operation op(*this, kOpPrevious);
  return op.RunOpen([&] { return ReadAttempt(driver_->Previous()); });
}

int File::Get(const FileKey& key) {
  Operation op(*this, kOpGetByKey, key.Name());
  return op.RunKeyed(&key, [&] { return ReadAttempt(driver_->GetByKey(key)); });
}

int File::GetByPointer(std::int64_t pointer, std::uint32_t length) {
  Operation op(*this, kOpGetByPointer, std::to_string(pointer));
  return op.RunOpen([&] { return ReadAttempt(driver_->GetByPointer(pointer, length)); });
}

std::string File::Position(const FileKey* key) {
  Operation op(*this, kOpPosition, key ? key->Name() : std::string());
  std::string position;
  op.RunKeyed(key, [&] { return driver_->Position(key, position); });
  if (ErrorCode() != kNoError) position.clear();
  return position;
}

int File::Reset(const FileKey* key, std::string_view position) {
  Operation op(*this, kOpReset, std::string(position));
  return op.RunKeyed(key, [&] { return driver_->Reset(key, position); });
}

int File::Reget(const FileKey* key, std::string_view position) {
  Operation op(*this, kOpReget, std::string(position));
  return op.RunKeyed(key, [&] { return ReadAttempt(driver_->Reget(key, position)); });
}

std::int64_t File::Pointer() const {
  std::lock_guard lock(mutex_);
  return IsOpen() ? driver_->Pointer() : 0;
}

// ---- Writes ----

int File::Add() {
  return Add(0);
}

int File::Add(std::uint32_t length) {
  Operation op(*this, kOpAdd);
  return op.RunWritable([&] { return driver_->Add(length); });
}

int File::Put() {
  Operation op(*this, kOpPut);
  return op.RunWritable([&] { return driver_->Put(); });
}

int File::WriteAt(std::int64_t pointer, std::uint32_t length) {
  Operation op(*this, kOpPut, std::to_string(pointer));
  return op.RunWritable([&] { return driver_->WriteAt(pointer, length); });
}

int File::Delete() {
  Operation op(*this, kOpDelete);
  return op.RunWritable([&] { return driver_->Delete(); });
}

int File::Duplicate(const FileKey* key, bool& duplicate) {
  Operation op(*this, kOpDuplicate, key ? key->Name() : std::string());
  return op.Run([&] {
    duplicate = false;
    if (int e = RequireOpen()) return e;
    if (!OwnKey(key)) return BadKey();
    return driver_->Duplicate(key, duplicate);
  });
}

int File::Watch() {
  Operation op(*this, kOpWatch);
  return op.RunOpen([&] { return driver_->Watch(); });
}

// ---- Transactions ----

bool File::SupportsTransactions() const {
  std::lock_guard lock(mutex_);
  if (driver_) return driver_->SupportsTransactions();
  File& self = const_cast<File&>(*this);
  auto probe = MakeFileDriver(driverName_, self);
  return probe && probe->SupportsTransactions();
}

int File::StartTransaction(int timeoutSeconds) {
  Operation op(*this, kOpStartTransaction);
  return op.RunWritable([&] { return driver_->StartTransaction(timeoutSeconds); });
}

int File::Commit() {
  Operation op(*this, kOpCommit);
  return op.RunOpen([&] { return driver_->Commit(); });
}

int File::Rollback() {
  Operation op(*this, kOpRollback);
  return op.RunOpen([&] { return driver_->Rollback(); });
}

int File::SetTransactionMember(bool member) {
  std::lock_guard lock(mutex_);
  if (member && !SupportsTransactions()) {
    SetError(kNoDriverError);
    return kNoDriverError;
  }
  transactionMember_ = member;
  if (member) {
    AddTransactionMember(*this);
  } else {
    RemoveTransactionMember(*this);
  }
  ClearError();
  return kNoError;
}

// ---- File state ----

int File::SaveState() {
  Operation op(*this, kOpSaveState);
  int handle = 0;
  op.Run([&] {
    SavedState state;
    if (IsOpen()) state.driver = driver_->SaveState();
    state.record = record_;
    state.nulls = nulls_;
    handle = ++lastState_;
    states_.emplace(handle, std::move(state));
    ClearError();
    return kNoError;
  });
  return ErrorCode() == kNoError ? handle : 0;
}

int File::RestoreState(int handle) {
  Operation op(*this, kOpRestoreState);
  return op.Run([&] {
    auto it = states_.find(handle);
    if (it == states_.end()) {
      SetError(kDriverError, {}, "0", "No saved file state " + std::to_string(handle));
      return kDriverError;
    }
    record_ = it->second.record;
    nulls_ = it->second.nulls;
    if (IsOpen() && it->second.driver) return driver_->RestoreState(*it->second.driver);
    ClearError();
    return kNoError;
  });
}

void File::FreeState(int handle) {
  Operation op(*this, kOpFreeState);
  op.Run([&] {
    states_.erase(handle);
    ClearError();
    return kNoError;
  });
}

// ---- Options ----

int File::ReadAttempt(int result) {
  // The read-without-BLOBs option covers the next read attempt only, failed or not.
  if (result != kNoError && driver_) driver_->CancelSkipBlobs();
  return result;
}

void File::SkipBlobsOnNextRead() {
  std::lock_guard lock(mutex_);
  if (driver_) driver_->SkipBlobsOnNextRead();
}

int File::SetPrefetch(int count) {
  std::lock_guard lock(mutex_);
  prefetch_ = std::max(0, count);
  if (driver_) return driver_->SetPrefetch(prefetch_);
  ClearError();
  return kNoError;
}

// ---- BLOBs ----

std::int64_t File::BlobSize(int blob) {
  std::lock_guard lock(mutex_);
  if (RequireBlob(blob) != kNoError) return 0;
  std::int64_t size = 0;
  if (driver_->BlobSize(blob, size) != kNoError) return 0;
  return size;
}

int File::SetBlobSize(int blob, std::int64_t size) {
  Operation op(*this, kOpBlobWrite);
  op.Params().property = blob;
  return op.Run([&] {
    if (int e = RequireBlob(blob)) return e;
    if (size < 0) return NegativeBlobValue("size");
    return driver_->SetBlobSize(blob, size);
  });
}

int File::ReadBlob(int blob, std::int64_t offset, void* destination, std::size_t length,
                   std::size_t& got) {
  std::lock_guard lock(mutex_);
  got = 0;
  if (int e = RequireBlob(blob)) return e;
  if (offset < 0) return NegativeBlobValue("offset");
  return driver_->ReadBlob(blob, offset, destination, length, got);
}

int File::WriteBlob(int blob, std::int64_t offset, const void* source, std::size_t length) {
  Operation op(*this, kOpBlobWrite);
  op.Params().property = blob;
  return op.Run([&] {
    if (int e = RequireBlob(blob)) return e;
    if (offset < 0) return NegativeBlobValue("offset");
    if (length > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - offset)) {
      SetError(kDriverError, {}, "0", "BLOB offset and length out of range");
      return kDriverError;
    }
    return driver_->WriteBlob(blob, offset, source, length);
  });
}

int File::GetBlobContents(int blob, std::string& contents) {
  std::lock_guard lock(mutex_);
  contents.clear();
  if (int e = RequireBlob(blob)) return e;
  std::int64_t size = 0;
  if (int e = driver_->BlobSize(blob, size)) return e;
  if (size < 0 || static_cast<std::uint64_t>(size) > contents.max_size()) {
    SetError(kBadFileError, {}, "0", "BLOB size " + std::to_string(size) + " out of range");
    return kBadFileError;
  }
  try {
    contents.resize(static_cast<std::size_t>(size));
  } catch (const std::exception&) {
    SetError(kFileSystemError, {}, "0",
             "not enough memory for a BLOB of " + std::to_string(size) + " bytes");
    return kFileSystemError;
  }
  std::size_t got = 0;
  const int result = driver_->ReadBlob(blob, 0, contents.data(), contents.size(), got);
  contents.resize(got);
  return result;
}

int File::SetBlobContents(int blob, std::string_view contents) {
  Operation op(*this, kOpPropertySet);
  op.Params().property = kPropBlobContents;
  return op.Run([&] {
    if (int e = RequireBlob(blob)) return e;
    if (int e = driver_->SetBlobSize(blob, static_cast<std::int64_t>(contents.size()))) return e;
    return driver_->WriteBlob(blob, 0, contents.data(), contents.size());
  });
}

// ---- Raw and text files ----

int File::Size(std::int64_t& bytes) {
  Operation op(*this, kOpSize);
  return op.Run([&] {
    bytes = 0;
    if (int e = RequireOpen()) return e;
    return driver_->Size(bytes);
  });
}

std::uint32_t File::BytesRead() const {
  std::lock_guard lock(mutex_);
  return IsOpen() ? driver_->BytesRead() : 0;
}

int File::OpenViewCursor(const ViewQuery& query, std::unique_ptr<ViewCursor>& cursor) {
  std::lock_guard lock(mutex_);
  if (int e = RequireOpen()) return e;
  return driver_->OpenViewCursor(query, cursor);
}

}  // namespace rt
