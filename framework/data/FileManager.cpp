// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/data/FileManager.h"

#include <algorithm>
#include <cstring>

#include "framework/data/FileMessages.h"
#include "framework/data/FileOpenRegistry.h"
#include "framework/data/RelationManager.h"
#include "framework/data/ThreadFileMap.h"
#include "framework/error/ErrorManager.h"
#include "platform/runtime/expressions/Bindings.h"
#include "platform/runtime/files/FileTransaction.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

namespace {

// Longest key prefix compared by auto-numbering.
constexpr std::size_t kPrefixLength = 2000;
constexpr std::string_view kUnknownFile = "Unknown File = ";
constexpr int kOpenAttempts = 2;
constexpr int kAutoNumberAttempts = 3;

bool IsReadOperation(int code) {
  switch (code) {
    case rt::kOpNext:
    case rt::kOpPrevious:
    case rt::kOpGetByKey:
    case rt::kOpReget:
    case rt::kOpGetByPointer:
    case rt::kOpReset:
    case rt::kOpSet:
    case rt::kOpSetFile:
      return true;
    default:
      return false;
  }
}

bool ClearsBlobChanged(int code) {
  switch (code) {
    case rt::kOpAdd:
    case rt::kOpDelete:
    case rt::kOpOpen:
    case rt::kOpStartTransaction:
    case rt::kOpPut:
    case rt::kOpCommit:
    case rt::kOpRollback:
    case rt::kOpAppend:
      return true;
    default:
      return false;
  }
}

enum class Group { None, A, B, C, D, E };

Group GroupOf(int code) {
  switch (code) {
    case rt::kOpAdd:
    case rt::kOpDelete:
    case rt::kOpPut:
    case rt::kOpAppend:
      return Group::B;
    case rt::kOpBuild:
      return Group::E;
    case rt::kOpOpen:
      return Group::A;
    case rt::kOpStartTransaction:
    case rt::kOpCommit:
    case rt::kOpRollback:
      return Group::C;
    default:
      return IsReadOperation(code) ? Group::D : Group::None;
  }
}

std::string Clipped(std::string_view text) {
  return std::string(rt::ClipText(text));
}

// The runtime's answer for a record that is no longer in the table.
bool IsGone(int code) {
  return code == rt::kNoRecordError || code == rt::kRecordNotFoundError;
}

}  // namespace

// ---- Callbacks from the runtime around each file operation ----

int FileManager::OnOperationStart(int code, rt::FileCallbackParams& params) {
  if (!OwnThread() || File == nullptr) return 1;
  if (code == rt::kOpDestroy) {
    // The file object goes away: release what refers to it and forget it.
    ++InCallback;
    if (params.flag == 0) {
      ReleaseResources();
    } else if (Opener) {
      Opener->Release();
      Opener = nullptr;
    }
    --InCallback;
    File = nullptr;
    Used = 0;
    Opened = 0;
    return 1;
  }
  if (code == rt::kOpClose && InRestore && InClose == 0 && Opened > 0 && !params.marked) {
    Opened = 0;
    Used = 0;
    static_cast<void>(Close());
  }
  return DispatchBefore(code, params);
}

int FileManager::OnOperationEnd(int code, rt::FileCallbackParams& params) {
  if (!OwnThread() || File == nullptr) return 1;
  if (ClearsBlobChanged(code)) {
    BlobChanged = 0;
  } else if (code == rt::kOpBlobWrite ||
             (code == rt::kOpPropertySet && params.property == rt::kPropBlobContents)) {
    BlobChanged = 1;
  } else if (IsReadOperation(code) && SavePreviousBuffer && Buffer.Address) {
    PreviousBuffer.assign(reinterpret_cast<const char*>(Buffer.Address), Buffer.Size);
  }
  return DispatchAfter(code, params);
}

// ---- Lifecycle ----

FileManager::~FileManager() {
  if (!Killed) FileManager::Shutdown();
  FileName = rt::AnyRef();
}

void FileManager::BindFields() {
  if (!File || !Buffer.Address) return;
  rt::Bindings::Current().BindRecord(Buffer.Layout ? *Buffer.Layout : File->Layout(),
                                     Buffer.Address);
}

void FileManager::Init() {
  Opened = 0;
  LazyOpen = 1;
  Killed = 0;
  UseMrp = 0;
  MrpSize = 10;
  owner_ = std::this_thread::get_id();
  ThreadFileMap::Current().RegisterFile(*this);
  registered_ = true;
}

void FileManager::InitFile(rt::File& file, ErrorManager& errors) {
  if (Opener) Opener->Release();
  if (File && File != &file) File->RemoveCallback(*this);
  Errors = &errors;
  File = &file;
  if (!Buffer.Address) Buffer = {file.Record(), file.RecordSize(), &file.Layout()};
  Opener = FileOpenRegistry::GetOpener(file);
  Keys = std::make_unique<std::vector<KeyEntry>>();
  Buffers = std::make_unique<std::vector<SavedBufferEntry>>();
  Saved = std::make_unique<std::vector<SavedStateEntry>>();
  Fields = std::make_unique<std::vector<FieldListEntry>>();
  SkipHeldRecords = 0;
  if (!OpenModeOverridden) OpenMode = kDefaultFileOpenMode;
  Create = 1;
  LockRecover = kDefaultLockRecover;
  PrimaryKey = 0;
  HasAutoInc = 0;
  FileNameValue = file.Label();
  CleanedUp = 0;
  Initialized = 1;
  Killed = 0;
  UseMrp = 0;
  MrpSize = 20;
  owner_ = std::this_thread::get_id();
  // The map knows the manager by its file: register again now that the file is known.
  if (registered_) ThreadFileMap::Current().RegisterFile(*this);
  file.AddCallback(*this);
}

void FileManager::Shutdown() {
  if (!Initialized || Killed) {
    // Never set up: only make sure the thread's map does not keep a stale entry.
    if (registered_ && ThreadFileMap::Exists()) ThreadFileMap::Current().UnregisterFile(*this);
    registered_ = false;
    return;
  }
  ReleaseResources();
  if (File) File->RemoveCallback(*this);
  Killed = 1;
  Initialized = 0;
}

void FileManager::ReleaseResources() {
  if (CleanedUp) return;
  CleanedUp = 1;
  while (Opened > 0)
    static_cast<void>(Close());
  if (Used && Opener) Opener->Close();
  Used = 0;
  if (registered_ && ThreadFileMap::Exists()) ThreadFileMap::Current().UnregisterFile(*this);
  registered_ = false;
  Keys.reset();
  HasAutoInc = 0;
  PrimaryKey = 0;
  PreviousBuffer.clear();
  Buffers.reset();
  if (Saved && File) {
    for (const auto& entry : *Saved)
      File->FreeState(entry.State);
  }
  Saved.reset();
  Fields.reset();
  if (Opener) {
    Opener->Release();
    Opener = nullptr;
  }
  FileName = rt::AnyRef();
  OpenModeOverridden = 0;
}

bool FileManager::OwnThread() const {
  return owner_ == std::thread::id() || owner_ == std::this_thread::get_id();
}

// ---- Use, open and close ----

ErrorLevel FileManager::Use(std::uint8_t level) {
  if (!Initialized || File == nullptr) {
    // Nothing to use: the manager was never set up or its file is gone.
    LastError = kMsgFileUsage;
    return LevelFatal;
  }
  InUseFile = 1;
  if (level == kUseSetUp) {
    if (LazyOpen && Opened < 1) {
      if (Used) {
        // The open shows its own failure and leaves Opened at 0, which the next use sees.
        static_cast<void>(OpenLogical(false, true));
      } else {
        ++Opened;  // so that the open's own Use(kUseSetUp) does not come back here
        static_cast<void>(OpenLogical(true, true));
        --Opened;
      }
    }
    InUseFile = 0;
    return LevelQuiet;
  }
  if (level != kUseUnrecorded) ThreadFileMap::Current().BeginUse(*this, level);
  if (LazyOpen && !Used) {
    if (Opened < 1) {
      InUseFile = 0;
      return Throw(kMsgFileUsage);
    }
    // The driver open may touch the record buffer: keep the caller's record.
    std::vector<std::uint8_t> record(Buffer.Address, Buffer.Address + Buffer.Size);
    const ErrorLevel result = OpenDriver(true);
    if (Buffer.Address) std::copy(record.begin(), record.end(), Buffer.Address);
    InUseFile = 0;
    return result;
  }
  InUseFile = 0;
  return LevelQuiet;
}

ErrorLevel FileManager::Open() {
  return OpenLogical(false, true);
}

ErrorLevel FileManager::TryOpen() {
  return OpenLogical(false, false);
}

ErrorLevel FileManager::OpenLogical(bool force, bool handle) {
  ThreadFileMap::Current().NestOpen(*this);
  BindFields();
  if (force || (!LazyOpen && Opened == 0)) {
    const ErrorLevel result = OpenDriver(handle);
    if (result != LevelQuiet) return result;
  }
  ++Opened;
  return LevelQuiet;
}

ErrorLevel FileManager::OpenDriver(bool handle) {
  auto fail = [&] { return handle ? ThrowLast() : LevelNotify; };
  if (Use(kUseSetUp) != LevelQuiet || !Opener || !File) {
    SetError(kMsgOpenError);
    return fail();
  }
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    int result = Opener->Open(OpenMode);
    if (result == rt::kAccessDenied) {
      // The retried open reports whatever the option could not mend.
      static_cast<void>(File->Send("Recover=" + std::to_string(LockRecover)));
      result = Opener->Open(OpenMode);
    }
    if (result == rt::kNoError) {
      Used = 1;
      AtEof = 0;
      AutoIncDone = 0;
      return LevelQuiet;
    }
    if (result == rt::kAccessDenied) {
      if ((OpenMode & 0x03) == rt::kAccessReadOnly) break;
      OpenMode = static_cast<std::uint8_t>((OpenMode & 0xF0) | rt::kAccessReadOnly);
      if (handle) static_cast<void>(Throw(kMsgAccessDenied));
      continue;
    }
    if (result == rt::kNoFileError) {
      if (!Create) break;
      if (File->Create() != rt::kNoError) {
        SetError(kMsgCreateError);
        return fail();
      }
      continue;
    }
    if (result == rt::kInvalidKeyError) {
      SetError(kMsgInvalidKey);
      if (!handle) return LevelNotify;
      static_cast<void>(ThrowLast());
      if (File->Build() != rt::kNoError) return Throw(kMsgKeyNotBuilt);
      continue;
    }
    if (result == rt::kBadFileError) {
      SetError(kMsgInvalidFile);
      return fail();
    }
    break;
  }
  SetError(kMsgOpenError);
  return fail();
}

ErrorLevel FileManager::Close() {
  ++InClose;
  ThreadFileMap::Current().EndUse(*this);
  if (UseMrp) {
    UseMrp = 0;
    if (File) static_cast<void>(File->SetPrefetch(0));  // a read-ahead hint only
  }
  if (Opened > 0) {
    --Opened;
    if (Opened == 0) {
      if (Initialized && Opener) Opener->Close();  // a failing close is not reported here
      Used = 0;
    }
  }
  --InClose;
  return LevelQuiet;
}

// ---- Reporting ----

void FileManager::SetError(std::int32_t id) {
  if (Errors) Errors->SetErrors();
  LastError = id;
}

ErrorLevel FileManager::Throw(std::uint16_t id) {
  SetError(id);
  return ThrowLast();
}

ErrorLevel FileManager::ThrowLast() {
  if (!Errors) return LevelNotify;
  Errors->SetFile(GetFileName());
  return Errors->TakeError(static_cast<std::uint16_t>(LastError));
}

ErrorLevel FileManager::ThrowMessage(std::uint16_t id, std::string_view text) {
  LastError = id;
  if (!Errors) return LevelNotify;
  Errors->SetFile(GetFileName());
  return Errors->ThrowMessage(id, text);
}

std::string FileManager::GetFileName() {
  if (!FileName.IsNull()) return Clipped(FileName.Text());
  std::string value = FileNameValue.Clip();
  if (!value.empty()) return value;
  if (File && !File->Name().empty()) return File->Name();
  return std::string(kUnknownFile.substr(0, 12));
}

// ---- Keys ----

void FileManager::AddKey(const rt::FileKey& key, std::string_view description,
                         std::uint8_t autoNumber) {
  if (!Keys) Keys = std::make_unique<std::vector<KeyEntry>>();
  std::uint8_t* record = Buffer.Address ? Buffer.Address : (File ? File->Record() : nullptr);
  const rt::RecordLayout* layout =
      Buffer.Layout ? Buffer.Layout : (File ? &File->Layout() : nullptr);
  KeyEntry entry;
  entry.Key = &key;
  entry.Description = std::string(description.substr(0, kKeyDescriptionLength));
  // A component number beyond the key is no auto-numbering at all.
  entry.AutoInc = autoNumber <= key.ComponentCount() ? autoNumber : 0;
  entry.Dups = key.Dups() ? 1 : 0;
  entry.NoCase = key.NoCase() ? 1 : 0;
  for (const rt::KeyComponent& component : key.Components()) {
    KeyComponentEntry c;
    c.Ascend = component.ascending ? 1 : 0;
    if (layout && record && component.field >= 1 && component.field <= layout->FieldCount()) {
      const rt::FieldDesc& field = layout->Field(component.field);
      c.Field = rt::AnyRef(record, field);
      c.FieldName =
          component.noCase && rt::IsText(field.type) ? "UPPER(" + field.label + ")" : field.label;
    }
    entry.Fields.push_back(std::move(c));
  }
  if (entry.AutoInc) HasAutoInc = 1;
  Keys->push_back(std::move(entry));
  if (key.Primary()) PrimaryKey = static_cast<std::uint8_t>(Keys->size());
}

const KeyEntry* FileManager::FindKey(const rt::FileKey& key) const {
  if (!Keys) return nullptr;
  for (const auto& entry : *Keys) {
    if (entry.Key == &key) return &entry;
  }
  return nullptr;
}

int FileManager::KeyPosition(const rt::FileKey& key) const {
  if (!Keys) return 0;
  for (std::size_t i = 0; i < Keys->size(); ++i) {
    if ((*Keys)[i].Key == &key) return static_cast<int>(i) + 1;
  }
  return 0;
}

int FileManager::ComponentCount(const rt::FileKey& key) const {
  const KeyEntry* entry = FindKey(key);
  return entry ? static_cast<int>(entry->Fields.size()) : 0;
}

rt::AnyRef FileManager::ComponentField(const rt::FileKey& key, int component) const {
  const KeyEntry* entry = FindKey(key);
  if (!entry || component < 1 || component > static_cast<int>(entry->Fields.size())) return {};
  return entry->Fields[component - 1].Field;
}

std::string FileManager::ComponentLabel(const rt::FileKey& key, int component) const {
  const KeyEntry* entry = FindKey(key);
  if (!entry || component < 1 || component > static_cast<int>(entry->Fields.size())) return {};
  return entry->Fields[component - 1].FieldName;
}

bool FileManager::ComponentAscending(const rt::FileKey& key, int component) const {
  const KeyEntry* entry = FindKey(key);
  if (!entry || component < 1 || component > static_cast<int>(entry->Fields.size())) return true;
  return entry->Fields[component - 1].Ascend != 0;
}

std::string FileManager::KeyOrder(const rt::FileKey& key, int fromComponent) {
  const KeyEntry* entry = FindKey(key);
  if (!entry) return {};
  std::string order;
  const int count = static_cast<int>(entry->Fields.size());
  for (int c = std::max(fromComponent, 1); c <= count; ++c) {
    if (c > std::max(fromComponent, 1)) order += ',';
    if (!entry->Fields[c - 1].Ascend) order += '-';
    order += entry->Fields[c - 1].FieldName;
  }
  if (order.size() > kKeyOrderLength) order.resize(kKeyOrderLength);
  return order;
}

std::string FileManager::KeyName(const KeyEntry& entry) {
  std::string name = Clipped(entry.Description);
  if (name.empty() && entry.Key) name = entry.Key->Name();
  return name;
}

const KeyEntry* FileManager::FindDuplicateKey(bool adding) {
  if (!Keys || !File) return nullptr;
  // Only a unique key (the primary key is one) can be duplicated: a key that allows
  // duplicates has many records with the same values by design.
  auto canClash = [](const KeyEntry& entry) {
    return entry.Key && (entry.Key->Unique() || entry.Key->Primary());
  };
  for (const auto& entry : *Keys) {
    if (!canClash(entry)) continue;
    bool duplicate = false;
    if (File->Duplicate(entry.Key, duplicate) == rt::kNoError && duplicate) return &entry;
  }
  if (!adding) return nullptr;
  // The driver leaves the current record out of its check, but a record being added is not
  // the current one: look each unique key's values up, then put the file state back.
  const KeyEntry* found = nullptr;
  const int state = File->SaveState();
  if (state == 0) return nullptr;
  for (const auto& entry : *Keys) {
    if (!canClash(entry)) continue;
    static_cast<void>(File->RestoreState(state));  // a handle saved above: kept in memory
    if (File->Get(*entry.Key) == rt::kNoError) {
      found = &entry;
      break;
    }
  }
  static_cast<void>(File->RestoreState(state));  // a handle saved above: kept in memory
  File->FreeState(state);
  return found;
}

const rt::FileKey* FileManager::PrimaryFileKey() const {
  if (!Keys || PrimaryKey == 0 || PrimaryKey > Keys->size()) return nullptr;
  return (*Keys)[PrimaryKey - 1].Key;
}

std::string FileManager::CurrentPosition() {
  return File->Position(PrimaryFileKey());
}

// ---- Reads ----

ErrorLevel FileManager::ReadNext() {
  return Read(1, true);
}
ErrorLevel FileManager::ReadPrevious() {
  return Read(-1, true);
}
ErrorLevel FileManager::TryReadNext() {
  return Read(1, false);
}
ErrorLevel FileManager::TryReadPrevious() {
  return Read(-1, false);
}

ErrorLevel FileManager::Read(int direction, bool handle) {
  if (Use(kUseManagerRead) != LevelQuiet) return LevelFatal;
  for (;;) {
    AtEof = 0;
    if (UseMrp && File->Prefetch() == 0) static_cast<void>(File->SetPrefetch(MrpSize));  // a hint
    const int result = direction > 0 ? File->Next() : File->Previous();
    if (result == rt::kNoRecordError) {
      AtEof = 1;
      return LevelNotify;
    }
    if (result == rt::kNoError) return LevelQuiet;
    if (result == rt::kRecordHeldError) {
      if (SkipHeldRecords) continue;
      SetError(kMsgRecordNotRead);
      return handle ? ThrowLast() : LevelNotify;
    }
    SetError(kMsgRetrievalError);
    return handle ? ThrowLast() : LevelFatal;
  }
}

ErrorLevel FileManager::TryFetchByKey(const rt::FileKey& key) {
  if (Use(kUseManagerRead) != LevelQuiet) return LevelFatal;
  return File->Get(key) == rt::kNoError ? LevelQuiet : LevelNotify;
}

ErrorLevel FileManager::FetchByKey(const rt::FileKey& key) {
  const ErrorLevel result = TryFetchByKey(key);
  if (result != LevelQuiet) ClearBuffer();
  return result;
}

void FileManager::ClearBuffer() {
  if (File && Buffer.Address == File->Record()) {
    File->ClearRecord();
    return;
  }
  if (!Buffer.Address || !Buffer.Layout) return;
  for (const rt::FieldDesc& field : Buffer.Layout->Fields()) {
    if (field.offset + field.size <= Buffer.Size) rt::ClearField(field, Buffer.Address);
  }
}

// ---- Delete ----

ErrorLevel FileManager::DeleteCurrent(bool confirm) {
  if (!File) return LevelFatal;
  if (confirm && Throw(kMsgConfirmDelete) != LevelQuiet) return LevelCancel;
  const std::string position = File->Position(PrimaryFileKey());
  const int result = File->Delete();
  if (result == rt::kNoError) return LevelQuiet;
  if (result == rt::kRecordChangedError) {
    // As for an update: the other station's version is shown for the user to decide on.
    SetError(kMsgRecordChanged);
    changedPosition_ = position;
    if (!rt::InTransaction()) RereadChangedRecord();
    return LevelNotify;
  }
  SetError(IsGone(result) && !position.empty() ? kMsgRecordGone : kMsgNotDeleted);
  return LevelNotify;
}

bool FileManager::CurrentRecordGone() {
  if (!File || !File->IsOpen()) return false;
  const std::string position = File->Position(nullptr);
  if (position.empty()) return false;
  // Look without disturbing the record buffer, its BLOBs or the watch on the record.
  const int state = File->SaveState();
  if (state == 0) return false;
  const int result = File->Reget(nullptr, position);
  const rt::ErrorState failure = rt::LastError();
  static_cast<void>(File->RestoreState(state));  // a handle saved above: kept in memory
  File->FreeState(state);
  if (!IsGone(result)) return false;
  rt::SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
  return true;
}

ErrorLevel FileManager::DeleteCheck() {
  return LevelQuiet;
}

ErrorLevel FileManager::CancelAutoNumber(RelationManager* relationManager) {
  if (Use(kUseManagerRead) != LevelQuiet || !HasAutoInc || !AutoIncDone) return LevelQuiet;
  if (CurrentRecordGone()) {
    // Another station deleted it already: there is nothing left to remove.
    AutoIncDone = 0;
    return LevelQuiet;
  }
  ErrorLevel result = LevelQuiet;
  if (relationManager) {
    result = relationManager->Delete(false);
  } else {
    result = DeleteCurrent(false);
  }
  if (result == LevelQuiet) AutoIncDone = 0;
  return result;
}

// ---- Auto-numbering ----

ErrorLevel FileManager::AutoNumber() {
  return DoAutoNumber(true);
}
ErrorLevel FileManager::TryAutoNumber() {
  return DoAutoNumber(false);
}

ErrorLevel FileManager::NumberKey(const KeyEntry& entry, bool handle) {
  if (Errors) Errors->SetKey(KeyName(entry));
  const rt::FileKey& key = *entry.Key;
  const KeyComponentEntry& numbered = entry.Fields[entry.AutoInc - 1];
  std::int32_t saved = SaveBuffer();
  File->SkipBlobsOnNextRead();
  const bool several = entry.Fields.size() > 1;
  std::string prefix;
  int result = rt::kNoError;
  if (!several) {
    result = File->Set(key);
  } else {
    for (int c = 0; c < entry.AutoInc - 1; ++c)
      prefix += Clipped(entry.Fields[c].Field.Text()) + "|";
    if (prefix.size() > kPrefixLength) prefix.resize(kPrefixLength);
    numbered.Field.Clear(1);
    result = File->SetFromValues(key);
  }
  if (result == rt::kNoError) result = numbered.Ascend ? File->Previous() : File->Next();
  std::int64_t value = 1;
  if (result == rt::kNoError) {
    std::string found;
    for (int c = 0; several && c < entry.AutoInc - 1; ++c) {
      found += Clipped(entry.Fields[c].Field.Text()) + "|";
    }
    if (found.size() > kPrefixLength) found.resize(kPrefixLength);
    if (!several || found == prefix) value = numbered.Field.Integer() + 1;
  } else if (result != rt::kNoRecordError) {
    SetError(kMsgRetrievalError);
    RestoreBuffer(saved, true);
    return handle ? ThrowLast() : LevelNotify;
  }
  RestoreBuffer(saved, true);
  if (numbered.Field.SetInteger(value) != rt::FieldFit::Fits) {
    // The key's highest number is taken: a wrapped number would come from the other end.
    rt::SetError(rt::kDupKeyError,
                 "No number is left above " + std::to_string(value - 1) + " in this key");
    SetError(kMsgAutoIncrement);
    if (handle) static_cast<void>(ThrowLast());  // nothing to try again: no number is left
    return LevelNotify;
  }
  return LevelQuiet;
}

ErrorLevel FileManager::DoAutoNumber(bool handle) {
  if (Use(kUseManagerRead) != LevelQuiet) return LevelFatal;
  if (!HasAutoInc || AutoIncDone || !Keys) return LevelQuiet;
  static_cast<void>(File->SetPrefetch(0));  // a read-ahead hint only
  int attempts = 0;
  for (;;) {
    for (const KeyEntry& entry : *Keys) {
      if (entry.AutoInc == 0) continue;
      const ErrorLevel numbered = NumberKey(entry, handle);
      if (numbered != LevelQuiet) return numbered;
    }
    const int result = File->Add();
    if (result == rt::kNoError) {
      AutoIncDone = 1;
      return LevelQuiet;
    }
    if (++attempts < kAutoNumberAttempts) continue;
    SetError(kMsgAutoIncrement);
    if (result == rt::kDupKeyError) {
      if (const KeyEntry* duplicate = FindDuplicateKey(true); duplicate && Errors) {
        Errors->SetKey(KeyName(*duplicate));
      }
    }
    if (!handle) return LevelNotify;
    // A silent error manager answers every question with Yes: asking again would never end.
    const bool silent = Errors == nullptr || Errors->GetSilent();
    if (ThrowLast() == LevelQuiet && !silent) {
      attempts = 0;
      continue;
    }
    return LevelNotify;
  }
}

// ---- Insert and update ----

ErrorLevel FileManager::Insert() {
  return DoInsert(true);
}
ErrorLevel FileManager::TryInsert() {
  return DoInsert(false);
}

ErrorLevel FileManager::DoInsert(bool handle) {
  if (Use(kUseManagerRead) != LevelQuiet) return LevelFatal;
  if (ValidateRecord() != LevelQuiet) return LevelNotify;
  static_cast<void>(File->SetPrefetch(0));  // a read-ahead hint only
  int result = rt::kNoError;
  if (!HasAutoInc) {
    result = File->Add();
  } else if (AutoIncDone) {
    result = File->Put();
  } else if ((handle ? AutoNumber() : TryAutoNumber()) != LevelQuiet) {
    return LevelNotify;
  }
  if (result == rt::kNoError) {
    AutoIncDone = 0;
    return LevelQuiet;
  }
  if (IsGone(result)) {
    // The record added when it was numbered was deleted by another station.
    SetError(kMsgRecordGone);
    return handle ? ThrowLast() : LevelNotify;
  }
  if (result == rt::kDupKeyError) {
    SetError(kMsgDuplicateKey);
    if (!handle) return LevelNotify;
    const rt::ErrorState failure = rt::LastError();
    const KeyEntry* duplicate = FindDuplicateKey(!HasAutoInc);
    if (duplicate && Errors) Errors->SetKey(KeyName(*duplicate));
    // The message keeps the add's error, not that of the duplicate check.
    rt::SetError(failure.code, failure.text, failure.driverCode, failure.driverText);
    static_cast<void>(
        ThrowMessage(kMsgDuplicateKey, duplicate ? duplicate->Description : std::string()));
    return LevelNotify;
  }
  SetError(kMsgInsertError);
  return handle ? ThrowLast() : LevelNotify;
}

ErrorLevel FileManager::Update() {
  return DoUpdate(true);
}
ErrorLevel FileManager::TryUpdate() {
  return DoUpdate(false);
}

ErrorLevel FileManager::DoUpdate(bool handle) {
  if (Use(kUseManagerRead) != LevelQuiet) return LevelFatal;
  if (ValidateRecord() != LevelQuiet) return LevelAsk;
  const rt::FileKey* key = PrimaryFileKey();
  const std::string position = File->Position(key);
  const int result = File->Put();
  if (result == rt::kNoError) return LevelQuiet;
  if (result == rt::kRecordChangedError) {
    SetError(kMsgRecordChanged);
    if (handle) static_cast<void>(ThrowLast());
    changedPosition_ = position;
    if (!rt::InTransaction()) RereadChangedRecord();
    return LevelNotify;
  }
  if (IsGone(result)) {
    SetError(kMsgRecordGone);
    if (handle) static_cast<void>(ThrowLast());
    return LevelNotify;
  }
  SetError(kMsgNotUpdated);
  return handle ? ThrowLast() : LevelNotify;
}

void FileManager::RereadChangedRecord() {
  if (!changedPosition_ || !File) return;
  // Show the other station's version and watch it for the next write.
  // A record that cannot be read again makes the next write fail, and that is reported.
  static_cast<void>(File->Watch());
  static_cast<void>(File->Reget(PrimaryFileKey(), *changedPosition_));
  changedPosition_.reset();
}

// ---- Saved buffers ----

std::int32_t FileManager::SaveBuffer() {
  if (!Buffers || !File || !Buffer.Address) return 0;
  const std::int32_t id = Buffers->empty() ? 1 : Buffers->back().Id + 1;
  std::string record =
      Clipped(std::string_view(reinterpret_cast<const char*>(Buffer.Address), Buffer.Size));
  if (record.empty()) record = " ";
  Buffers->push_back({id, std::move(record)});
  const int blobs = File->BlobCount();
  for (int i = 1; i <= blobs; ++i) {
    std::string contents;
    // A BLOB that cannot be read is not saved at all: giving back an empty copy later would
    // wipe the document, and without a copy the buffer never counts as unchanged.
    if (File->IsOpen() && File->GetBlobContents(i, contents) != rt::kNoError) continue;
    Buffers->push_back({id + i, std::move(contents)});
  }
  Buffers->push_back({id + blobs + 1, File->GetNulls()});
  return id;
}

void FileManager::RestoreBuffer(std::int32_t& id, bool restore) {
  if (id == 0) return;
  if (!Buffers || !File) {
    id = 0;
    return;
  }
  auto take = [&](std::int32_t wanted, std::string& out) {
    auto it = std::find_if(Buffers->begin(), Buffers->end(),
                           [&](const SavedBufferEntry& e) { return e.Id == wanted; });
    if (it == Buffers->end()) return false;
    out = std::move(it->Buffer);
    Buffers->erase(it);
    return true;
  };
  std::string saved;
  if (!take(id, saved)) {
    id = 0;  // not a saved run: nothing to give back
    return;
  }
  if (restore && Buffer.Address) {
    // The copy was clipped of trailing blanks: the rest of the record is blanks.
    std::memset(Buffer.Address, ' ', Buffer.Size);
    std::memcpy(Buffer.Address, saved.data(), std::min<std::size_t>(saved.size(), Buffer.Size));
  }
  // Putting saved bytes back is no edit of the BLOB: its changed mark stays as it was.
  const std::uint8_t blobChanged = BlobChanged;
  const int blobs = File->BlobCount();
  for (int i = 1; i <= blobs; ++i) {
    // A BLOB that cannot be put back keeps what the file gives it; nothing is written here.
    if (take(id + i, saved) && restore && File->IsOpen())
      static_cast<void>(File->SetBlobContents(i, saved));
  }
  BlobChanged = blobChanged;
  if (take(id + blobs + 1, saved)) File->SetNulls(saved);
  id = 0;
}

bool FileManager::BufferUnchanged(std::int32_t id) {
  if (Use(kUseManagerRead) != LevelQuiet || BlobChanged || !Buffers) return false;
  auto find = [&](std::int32_t wanted) -> const SavedBufferEntry* {
    for (const auto& e : *Buffers) {
      if (e.Id == wanted) return &e;
    }
    return nullptr;
  };
  const SavedBufferEntry* record = find(id);
  if (!record || !Buffer.Address) return false;
  std::string current(reinterpret_cast<const char*>(Buffer.Address), Buffer.Size);
  std::string saved = record->Buffer;
  saved.resize(Buffer.Size, ' ');
  if (current != saved) return false;
  for (int i = 1; i <= File->BlobCount(); ++i) {
    const SavedBufferEntry* blob = find(id + i);
    if (!blob) return false;
    std::string contents;
    const int read = File->IsOpen() ? File->GetBlobContents(i, contents) : rt::kNoError;
    // A BLOB another station rewrote or deleted cannot be read until the record is read
    // again; not written here since (BlobChanged is clear), it is still the one saved.
    if (read == rt::kRecordChangedError || IsGone(read)) continue;
    if (blob->Buffer != contents) return false;
  }
  return true;
}

// ---- Saved file states ----

std::uint16_t FileManager::SaveFile() {
  if (Use(kUseManagerRead) != LevelQuiet || !Saved) return 0;
  SavedStateEntry entry;
  entry.Id = Saved->empty() ? 1 : static_cast<std::uint16_t>(Saved->back().Id + 1);
  entry.Buffer = static_cast<std::uint16_t>(SaveBuffer());
  entry.State = File->SaveState();
  entry.Pos = CurrentPosition();
  entry.AutoIncDone = AutoIncDone;
  entry.BlobChanged = BlobChanged;
  Saved->push_back(entry);
  return entry.Id;
}

void FileManager::RestoreFile(std::uint16_t& id, bool restore) {
  if (id == 0) return;
  if (Use(kUseManagerRead) != LevelQuiet || !Saved) return;
  auto it = std::find_if(Saved->begin(), Saved->end(),
                         [&](const SavedStateEntry& e) { return e.Id == id; });
  if (it == Saved->end()) {
    id = 0;
    return;
  }
  SavedStateEntry entry = *it;
  Saved->erase(it);
  if (restore) {
    if (AliasedFile) {
      // Putting the caller's position back is best effort: its next read reports a failure.
      static_cast<void>(File->Reset(PrimaryFileKey(), entry.Pos));
      static_cast<void>(File->Next());
    } else {
      static_cast<void>(File->RestoreState(entry.State));
    }
  }
  std::int32_t buffer = entry.Buffer;
  RestoreBuffer(buffer, restore);
  if (restore) {
    AutoIncDone = entry.AutoIncDone;
    BlobChanged = entry.BlobChanged;
  }
  File->FreeState(entry.State);
  id = 0;
}

// ---- New records and validation ----

void FileManager::InitFields() {}

ErrorLevel FileManager::PrepareRecord(bool keepValues) {
  if (Use(kUseManagerRead) != LevelQuiet) return LevelFatal;
  if (AliasedFile) {
    return OnAlias(true, [&](FileManager& aliased) { return aliased.PrepareRecord(keepValues); });
  }
  if (!keepValues) ClearBuffer();
  InitFields();
  if (HasAutoInc) {
    AutoIncDone = 0;
    return AutoNumber();
  }
  return LevelQuiet;
}

void FileManager::CopyRecordTo(FileManager& other) const {
  if (!Buffer.Address || !other.Buffer.Address || Buffer.Address == other.Buffer.Address) return;
  std::memcpy(other.Buffer.Address, Buffer.Address, std::min(Buffer.Size, other.Buffer.Size));
}

template <typename Fn>
ErrorLevel FileManager::OnAlias(bool openFirst, Fn&& operation) {
  FileManager& aliased = *AliasedFile;
  if (openFirst && aliased.Open() != LevelQuiet) return LevelFatal;
  std::uint16_t state = aliased.SaveFile();
  CopyRecordTo(aliased);
  const ErrorLevel result = operation(aliased);
  aliased.CopyRecordTo(*this);
  if (openFirst && result == LevelQuiet && aliased.File && File) {
    // The aliased manager may have added the record: this manager takes it as current.
    AutoIncDone = aliased.AutoIncDone;
    if (aliased.AutoIncDone) {
      const std::string position = aliased.File->Position(nullptr);
      if (!position.empty()) static_cast<void>(File->Reget(nullptr, position));
    }
  }
  aliased.RestoreFile(state, true);
  if (openFirst) static_cast<void>(aliased.Close());
  return result;
}

ErrorLevel FileManager::CheckField(int field) {
  return ValidateField(field, true);
}

ErrorLevel FileManager::TryCheckField(int field) {
  return ValidateField(field, false);
}

ErrorLevel FileManager::ValidateField(int field, bool report) {
  if (AliasedFile) {
    return OnAlias(false,
                   [&](FileManager& aliased) { return aliased.ValidateField(field, report); });
  }
  return LevelQuiet;
}

ErrorLevel FileManager::ValidateFields(int from, int to, int* failed) {
  if (AliasedFile) {
    return OnAlias(false,
                   [&](FileManager& aliased) { return aliased.ValidateFields(from, to, failed); });
  }
  for (int field = from; field <= to; ++field) {
    const ErrorLevel result = CheckField(field);
    if (result != LevelQuiet) {
      if (failed) *failed = field;
      return result;
    }
  }
  return LevelQuiet;
}

ErrorLevel FileManager::ValidateRecord(int* failed) {
  if (AliasedFile) {
    if (Use(kUseManagerRead) != LevelQuiet) return LevelFatal;
    return OnAlias(false, [&](FileManager& aliased) { return aliased.ValidateRecord(failed); });
  }
  const int count = File ? File->Layout().FieldCount() : 0;
  return ValidateFields(1, count, failed);
}

// ---- Read-ahead and flags ----

void FileManager::SetUseMrp(bool on) {
  UseMrp = on ? 1 : 0;
}
bool FileManager::GetUseMrp() {
  return UseMrp != 0;
}
void FileManager::SetMrpSize(std::uint8_t size) {
  MrpSize = size;
}
std::uint8_t FileManager::GetMrpSize() {
  return MrpSize;
}
bool FileManager::GetAutoNumberDone() {
  return AutoIncDone != 0;
}
bool FileManager::GetHasAutoNumber() {
  return HasAutoInc != 0;
}

// ---- Hook routing ----

int FileManager::DispatchBefore(int code, rt::FileCallbackParams& params) {
  if (InView) return 1;
  StopOperation = params.stop ? 1 : 0;
  // Operations the runtime performs inside a marked one reach no hook.
  if (params.marked) InView = 1;
  int result = 1;
  switch (GroupOf(code)) {
    case Group::A:
      result = BeforeOpA(code, params);
      break;
    case Group::B:
      result = BeforeOpB(code, params);
      break;
    case Group::C:
      result = BeforeOpC(code, params);
      break;
    case Group::D:
      result = BeforeOpD(code, params);
      break;
    case Group::E:
      result = BeforeOpE(code, params);
      break;
    case Group::None:
      break;
  }
  params.stop = StopOperation != 0;
  // A skipped operation has done nothing: it must not pass for a success.
  if (params.stop && params.stopCode == rt::kNoError) params.stopCode = rt::kOperationStopped;
  return result;
}

int FileManager::DispatchAfter(int code, rt::FileCallbackParams& params) {
  if (InView) {
    if (!params.marked) return 1;
    InView = 0;
  }
  switch (GroupOf(code)) {
    case Group::A:
      return AfterOpA(code, params);
    case Group::B:
      return AfterOpB(code, params);
    case Group::C:
      return AfterOpC(code, params);
    case Group::D:
      return AfterOpD(code, params);
    case Group::E:
      return AfterOpE(code, params);
    case Group::None:
      return 1;
  }
  return 1;
}

int FileManager::BeforeOpA(int, rt::FileCallbackParams&) {
  return 1;
}
int FileManager::AfterOpA(int, rt::FileCallbackParams&) {
  return 1;
}
int FileManager::BeforeOpB(int, rt::FileCallbackParams&) {
  return 1;
}
int FileManager::AfterOpB(int, rt::FileCallbackParams&) {
  return 1;
}
int FileManager::BeforeOpC(int, rt::FileCallbackParams&) {
  return 1;
}
int FileManager::AfterOpC(int, rt::FileCallbackParams&) {
  return 1;
}
int FileManager::BeforeOpD(int, rt::FileCallbackParams&) {
  return 1;
}
int FileManager::AfterOpD(int, rt::FileCallbackParams&) {
  return 1;
}
int FileManager::BeforeOpE(int, rt::FileCallbackParams&) {
  return 1;
}
int FileManager::AfterOpE(int, rt::FileCallbackParams&) {
  return 1;
}
