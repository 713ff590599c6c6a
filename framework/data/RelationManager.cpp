// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/data/RelationManager.h"

#include <algorithm>
#include <functional>

#include "framework/data/FileManager.h"
#include "framework/data/FileMessages.h"
#include "framework/data/ThreadFileMap.h"
#include "platform/runtime/files/File.h"
#include "platform/runtime/files/FileTransaction.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/windows/Dialogs.h"

namespace {

constexpr std::uint16_t kMsgTransactionCancelled = 27;  // "Transaction cancelled"
constexpr std::uint16_t kMsgRestrictDelete = 36;        // "Referential Integrity Delete Error"
constexpr std::uint16_t kMsgRestrictUpdate = 37;        // "Referential Integrity Update Error"
constexpr std::uint16_t kMsgDeleteError = 39;           // "Record Delete Error"

// The thread's pass counter, shared by every relation manager of the thread.
std::int32_t& PassCounter() {
  thread_local std::int32_t counter = 0;
  return counter;
}

bool ActsOn(std::uint8_t mode) {
  return mode >= kRelationClear && mode <= kRelationCascade;
}

// Puts a file manager's saved state back at every exit of a scope.
class SavedFileState {
 public:
  explicit SavedFileState(FileManager& manager) : manager_(manager), id_(manager.SaveFile()) {}
  ~SavedFileState() { manager_.RestoreFile(id_, true); }
  SavedFileState(const SavedFileState&) = delete;
  SavedFileState& operator=(const SavedFileState&) = delete;

 private:
  FileManager& manager_;
  std::uint16_t id_;
};

// Shows the busy cursor while it lives.
class BusyCursor {
 public:
  BusyCursor() { rt::SetWaitCursor(true); }
  ~BusyCursor() { rt::SetWaitCursor(false); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;
};

}  // namespace

RelationManager::~RelationManager() {
  if (!killed_) RelationManager::Kill();
}

// ---- Set-up and release ----

void RelationManager::Init(FileManager& fileManager, std::uint8_t useLogout) {
  Me = &fileManager;
  Relations = std::make_unique<std::vector<RelationEntry>>();
  UseLogout = useLogout;
  LogoutTimeout = kDefaultLogoutTimeout;
  killed_ = false;
  ThreadFileMap::Current().RegisterRelation(*this, fileManager);
  registered_ = true;
}

void RelationManager::Kill() {
  if (killed_) return;
  killed_ = true;
  if (registered_ && ThreadFileMap::Exists()) ThreadFileMap::Current().UnregisterRelation(*this);
  registered_ = false;
  if (Relations) {
    for (RelationEntry& entry : *Relations) {
      if (entry.Fields) entry.Fields->Kill();
      entry.Fields.reset();
    }
  }
  Relations.reset();
}

void RelationManager::DeferredAddRelations() {}

void RelationManager::EnsureRelations() {
  if (!Relations) Relations = std::make_unique<std::vector<RelationEntry>>();
  if (DeferedRelationsDone) return;
  DeferedRelationsDone = 1;  // first, so that a hook that opens other tables cannot recurse
  DeferredAddRelations();
}

// ---- Passes: open, close, quick scan ----

bool RelationManager::EnterPass(bool topLevel) {
  std::int32_t& counter = PassCounter();
  if (topLevel) {
    ++counter;
  } else if (counter == LastTouched) {
    return false;
  }
  LastTouched = counter;
  return true;
}

ErrorLevel RelationManager::OpenForcing(std::uint8_t marker) {
  ForcingOpen = 1;
  return Open(marker);
}

ErrorLevel RelationManager::Open(std::uint8_t marker) {
  if (!Me) return LevelFatal;
  if (!Me->LazyOpen) ForcingOpen = 1;
  const bool topLevel = marker == 0;
  if (!EnterPass(topLevel)) {
    ForcingOpen = 0;
    return LevelQuiet;
  }
  ErrorLevel result = Me->Open();
  // A lazily opened table is really opened only by its first use.
  if (topLevel && result == LevelQuiet) result = Me->Use(kUseManagerRead);
  if (topLevel || ForcingOpen) EnsureRelations();
  if (Relations) {
    for (RelationEntry& entry : *Relations) {
      if (result != LevelQuiet) break;
      if (!entry.File || !entry.File->Me) continue;
      const std::int32_t before = entry.File->Me->Opened;
      result = ForcingOpen ? entry.File->OpenForcing(1) : entry.File->Open(1);
      if (entry.File->Me->Opened > before) ++entry.Opened;
    }
  }
  ForcingOpen = 0;
  return result;
}

ErrorLevel RelationManager::Close(std::uint8_t marker) {
  if (!Me) return LevelQuiet;
  const bool topLevel = marker == 0;
  if (!EnterPass(topLevel)) return LevelQuiet;
  static_cast<void>(Me->Close());  // never fails: a driver close is not reported
  if (topLevel || ForcingOpen) EnsureRelations();
  if (Relations) {
    for (RelationEntry& entry : *Relations) {
      if (entry.Opened == 0 || !entry.File || !entry.File->Me) continue;
      const std::int32_t before = entry.File->Me->Opened;
      static_cast<void>(entry.File->Close(1));  // as above; Opened shows what it did
      if (entry.File->Me->Opened < before) --entry.Opened;
    }
  }
  return LevelQuiet;
}

void RelationManager::SetQuickScan(std::uint8_t on, std::uint8_t propagate) {
  if (!Me) return;
  // A read-ahead hint: a driver without it reads the same records.
  if (Me->File && Me->IsOpen())
    static_cast<void>(Me->File->Send(on ? "QUICKSCAN=on" : "QUICKSCAN=off"));
  if (propagate == 0) return;
  const bool topLevel = (propagate & kQuickScanRecursive) == 0;
  if (!EnterPass(topLevel)) return;
  propagate |= kQuickScanRecursive;
  EnsureRelations();
  const std::uint8_t which = propagate & ~kQuickScanRecursive;
  for (RelationEntry& entry : *Relations) {
    if (!entry.File) continue;
    if (which == 1 && entry.HisKey) continue;
    if (which == 2 && !entry.HisKey) continue;
    entry.File->SetQuickScan(on, propagate);
  }
}

void RelationManager::SaveLinkValues() {
  EnsureRelations();
  for (RelationEntry& entry : *Relations) {
    if (entry.Fields) entry.Fields->AssignLeftToBuffer();
  }
}

// ---- Transactions ----

ErrorLevel RelationManager::BeginTransaction(Rule rule) {
  std::vector<RelationManager*> visited;
  const ErrorLevel prepared = Prepare(rule, *this, visited);
  if (prepared != LevelQuiet || !UseLogout) return prepared;
  if (rt::StartTransaction(LogoutTimeout) != rt::kNoError) {
    static_cast<void>(Me->Throw(kMsgTransactionCancelled));
    return LevelNotify;
  }
  return LevelQuiet;
}

ErrorLevel RelationManager::Prepare(Rule rule, RelationManager& owner,
                                    std::vector<RelationManager*>& visited) {
  if (std::find(visited.begin(), visited.end(), this) != visited.end()) return LevelQuiet;
  visited.push_back(this);
  if (!Me || Me->Use(kUseManagerRead) != LevelQuiet) return LevelNotify;
  rt::File* file = Me->File;
  // An alias whose own file cannot take part joins through the file it stands for.
  if (Me->AliasedFile && Me->AliasedFile->File && !file->SupportsTransactions()) {
    file = Me->AliasedFile->File;
  }
  if (rule == Rule::Insert && this == &owner && file->TransactionMember()) return LevelQuiet;
  if (!file->TransactionMember()) {
    const int result = file->SetTransactionMember(true);
    if (result == rt::kNoDriverError) {
      // No transactions here: the whole change goes on without one.
      UseLogout = 0;
      owner.UseLogout = 0;
      return LevelQuiet;
    }
    if (result != rt::kNoError) {
      static_cast<void>(Me->Throw(kMsgTransactionCancelled));
      return LevelNotify;
    }
  }
  EnsureRelations();
  for (RelationEntry& entry : *Relations) {
    if (!owner.UseLogout) break;
    if (!entry.File) continue;
    Rule next = rule;
    switch (rule) {
      case Rule::Update:
        if (entry.UpdateMode != kRelationClear && entry.UpdateMode != kRelationCascade) continue;
        break;
      case Rule::Delete:
        if (entry.DeleteMode == kRelationCascade) {
          next = Rule::Delete;
        } else if (entry.DeleteMode == kRelationClear) {
          next = Rule::Update;
        } else {
          continue;
        }
        break;
      case Rule::Insert:
        break;
    }
    const ErrorLevel result = entry.File->Prepare(next, owner, visited);
    if (result != LevelQuiet) return result;
  }
  return LevelQuiet;
}

bool RelationManager::CommitChanges() {
  if (!rt::InTransaction()) return true;
  if (rt::CommitTransaction() == rt::kNoError) return true;
  // What did not reach the table must not stay half-written.
  if (rt::InTransaction()) rt::RollbackTransaction();
  return false;
}

void RelationManager::RollbackChanges() {
  if (rt::InTransaction()) rt::RollbackTransaction();
}

// ---- Insert and update ----

ErrorLevel RelationManager::Insert() {
  if (!Me) return LevelFatal;
  if (!UseLogoutOnInsert || !UseLogout) return Me->Insert();
  ErrorLevel result = OpenForcing(0);
  if (result == LevelQuiet) result = BeginTransaction(Rule::Insert);
  if (result != LevelQuiet) {
    static_cast<void>(Close(0));
    return result;
  }
  result = Me->TryInsert();
  if (result == LevelQuiet && !CommitChanges()) {
    Me->SetError(kMsgInsertError);
    result = LevelNotify;
  }
  if (result != LevelQuiet) {
    RollbackChanges();
    if (result == LevelNotify) static_cast<void>(Me->ThrowLast());
    result = IsOtherStationMessage(Me->LastError) ? LevelNotify : LevelAsk;
  }
  static_cast<void>(Close(0));
  return result;
}

ErrorLevel RelationManager::Update(bool redisplay) {
  if (!Me) return LevelFatal;
  ErrorLevel result = OpenForcing(0);
  if (result == LevelQuiet && UseLogout) result = BeginTransaction(Rule::Update);
  if (result != LevelQuiet) {
    static_cast<void>(Close(0));
    return result;
  }
  result = Me->TryUpdate();
  if (result != LevelQuiet) {
    RollbackChanges();
    // A record another station changed is re-read only now, so the rollback keeps its version.
    Me->RereadChangedRecord();
    // The other station's changes are displayed now; the user recalls his own with Ditto.
    if (redisplay && Me->LastError == kMsgRecordChanged) Me->LastError = kMsgRecordChangedShown;
    if (result == LevelNotify) static_cast<void>(Me->ThrowLast());
    result = IsOtherStationMessage(Me->LastError) ? LevelNotify : LevelAsk;
    static_cast<void>(Close(0));
    return result;
  }
  EnsureRelations();
  for (RelationEntry& entry : *Relations) {
    if (!ActsOn(entry.UpdateMode) || !entry.File || !entry.Fields) continue;
    if (entry.Fields->EqualLeftBuffer()) continue;
    result = entry.File->CascadeUpdate(entry.HisKey, *entry.Fields, entry.UpdateMode);
    if (result != LevelQuiet) {
      RollbackChanges();
      // The related records still carry the remembered values: the links get them back.
      entry.Fields->AssignBufferToLeft();
      static_cast<void>(Close(0));
      return result;
    }
  }
  if (!CommitChanges()) {
    static_cast<void>(Me->Throw(kMsgNotUpdated));
    result = LevelAsk;
  }
  static_cast<void>(Close(0));
  return result;
}

void RelationManager::ClearRecord() {
  if (!Me) return;
  if (Me->File && Me->Buffer.Address == Me->File->Record()) {
    Me->File->ClearRecord();
    return;
  }
  if (!Me->Buffer.Address || !Me->Buffer.Layout) return;
  for (const rt::FieldDesc& field : Me->Buffer.Layout->Fields()) {
    if (field.offset + field.size <= Me->Buffer.Size) rt::ClearField(field, Me->Buffer.Address);
  }
}

ErrorLevel RelationManager::FindLinked(const rt::FileKey& hisKey, BufferedPairs& pairs,
                                       bool useBuffer, std::vector<std::string>& positions) {
  const auto linked = [&] { return useBuffer ? pairs.EqualRightBuffer() : pairs.Equal(); };
  ClearRecord();
  if (useBuffer) {
    pairs.AssignBufferToRight();
  } else {
    pairs.AssignLeftToRight();
  }
  // The components after the linking ones start at their lowest value in key order.
  const int linking = pairs.List ? static_cast<int>(pairs.List->size()) : 0;
  const int last = std::min(hisKey.ComponentCount(), kMaxKeyComponents);
  const rt::RecordLayout& layout = Me->File->Layout();
  for (int c = linking + 1; c <= last; ++c) {
    const rt::KeyComponent& component = hisKey.Component(c);
    if (component.field < 1 || component.field > layout.FieldCount()) continue;
    rt::AnyRef(Me->Buffer.Address, layout.Field(component.field))
        .Clear(component.ascending ? -1 : 1);
  }
  if (Me->File->SetFromValues(hisKey) != rt::kNoError) {
    Me->SetError(kMsgRetrievalError);
    RollbackChanges();
    static_cast<void>(Me->ThrowLast());
    return LevelNotify;
  }
  // Positions first, changes after: a changed link moves the record within the key.
  for (;;) {
    const ErrorLevel read = Me->TryReadNext();
    if (read == LevelFatal) {
      RollbackChanges();
      static_cast<void>(Me->ThrowLast());
      return LevelNotify;
    }
    if (read != LevelQuiet || !linked()) break;
    positions.push_back(Me->File->Position(nullptr));
  }
  return LevelQuiet;
}

ErrorLevel RelationManager::ForEachLinked(const rt::FileKey& hisKey, BufferedPairs& pairs,
                                          bool useBuffer, const std::function<ErrorLevel()>& each) {
  if (Me->Use(kUseManagerRead) != LevelQuiet) {
    RollbackChanges();
    return LevelNotify;
  }
  SavedFileState state(*Me);
  std::vector<std::string> positions;
  if (FindLinked(hisKey, pairs, useBuffer, positions) != LevelQuiet) return LevelNotify;
  for (const std::string& position : positions) {
    // Skip a record that a deeper cascade changed or removed meanwhile.
    if (Me->File->Reget(nullptr, position) != rt::kNoError) continue;
    if (!(useBuffer ? pairs.EqualRightBuffer() : pairs.Equal())) continue;
    if (const ErrorLevel result = each(); result != LevelQuiet) return result;
  }
  return LevelQuiet;
}

ErrorLevel RelationManager::CascadeUpdate(const rt::FileKey* hisKey, BufferedPairs& pairs,
                                          std::uint8_t mode) {
  if (!Me || !hisKey || !ActsOn(mode)) return LevelQuiet;
  return ForEachLinked(*hisKey, pairs, true, [&] {
    SaveLinkValues();
    switch (mode) {
      case kRelationRestrict:
        Me->SetError(kMsgRestrictUpdate);
        RollbackChanges();
        static_cast<void>(Me->ThrowLast());
        pairs.AssignBufferToLeft();  // the parent's linking fields get their values back
        return LevelNotify;
      case kRelationClear:
        pairs.ClearRight();
        break;
      default:
        pairs.AssignLeftToRight();
        break;
    }
    return WriteRelated() != LevelQuiet ? LevelNotify : LevelQuiet;
  });
}

ErrorLevel RelationManager::WriteRelated() {
  EnsureRelations();
  for (RelationEntry& entry : *Relations) {
    if (!ActsOn(entry.UpdateMode) || !entry.File || !entry.Fields) continue;
    if (entry.Fields->EqualLeftBuffer()) continue;
    if (entry.File->CascadeUpdate(entry.HisKey, *entry.Fields, entry.UpdateMode) != LevelQuiet) {
      entry.Fields->AssignBufferToLeft();
      return LevelNotify;
    }
  }
  if (Me->TryUpdate() != LevelQuiet) {
    RollbackChanges();
    Me->RereadChangedRecord();
    const ErrorLevel shown = Me->ThrowLast();
    return shown == LevelQuiet ? LevelNotify : shown;
  }
  return LevelQuiet;
}

// ---- Delete ----

ErrorLevel RelationManager::CancelAutoNumber() {
  if (!Me) return LevelQuiet;
  return Me->CancelAutoNumber(this);
}

ErrorLevel RelationManager::Delete(bool confirm) {
  if (!Me) return LevelFatal;
  if (confirm && Me->Throw(kMsgConfirmDelete) != LevelQuiet) return LevelCancel;
  for (;;) {
    ErrorLevel result = LevelQuiet;
    {
      BusyCursor busy;
      const std::string position =
          Me->File && Me->File->IsOpen() ? Me->File->Position(nullptr) : std::string();
      result = OpenForcing(0);
      if (result == LevelQuiet && UseLogout) result = BeginTransaction(Rule::Delete);
      if (result != LevelQuiet) {
        static_cast<void>(Close(0));
        return result;
      }
      if (const int e = Me->File->Reget(nullptr, position); e != rt::kNoError) {
        // The record is gone or was never read: there is nothing to delete.
        const bool gone = e == rt::kRecordNotFoundError || e == rt::kNoRecordError;
        Me->SetError(gone ? kMsgRecordGone : kMsgNotDeleted);
        RollbackChanges();
        static_cast<void>(Me->ThrowLast());
        static_cast<void>(Close(0));
        return LevelNotify;
      }
      result = CascadeDeleteRelated(false);
      if (result != LevelQuiet) {
        RollbackChanges();
        static_cast<void>(Close(0));
        return result;
      }
      result = Me->DeleteCurrent(false);
      if (result == LevelQuiet && !CommitChanges()) {
        Me->SetError(kMsgNotDeleted);
        result = LevelNotify;
      }
      if (result != LevelQuiet) {
        RollbackChanges();
        // A record another station changed is shown as it is now, and watched again.
        Me->RereadChangedRecord();
        static_cast<void>(Me->ThrowLast());
        result = LevelNotify;
      }
      static_cast<void>(Close(0));
    }
    if (result == LevelQuiet) return LevelQuiet;
    // Deleting again unseen would throw the other station's change away, or delete nothing.
    if (IsOtherStationMessage(Me->LastError)) return result;
    if (Me->Throw(kMsgDeleteError) != LevelQuiet) return result;
  }
}

ErrorLevel RelationManager::CascadeDeleteRelated(bool confirm) {
  EnsureRelations();
  for (RelationEntry& entry : *Relations) {
    if (!ActsOn(entry.DeleteMode) || !entry.File || !entry.Fields) continue;
    const ErrorLevel result =
        entry.File->CascadeDelete(entry.HisKey, *entry.Fields, entry.DeleteMode, confirm);
    if (result != LevelQuiet) return result;
  }
  return LevelQuiet;
}

ErrorLevel RelationManager::CascadeDelete(const rt::FileKey* hisKey, BufferedPairs& pairs,
                                          std::uint8_t mode, bool confirm) {
  if (!Me || !hisKey || !ActsOn(mode)) return LevelQuiet;
  return ForEachLinked(*hisKey, pairs, false, [&] {
    if (Me->DeleteCheck() != LevelQuiet) return LevelQuiet;  // kept: go on with the next
    switch (mode) {
      case kRelationRestrict:
        Me->SetError(kMsgRestrictDelete);
        RollbackChanges();
        static_cast<void>(Me->ThrowLast());
        return LevelNotify;
      case kRelationClear:
        SaveLinkValues();
        pairs.ClearRight();
        return WriteRelated() != LevelQuiet ? LevelNotify : LevelQuiet;
      default:
        break;
    }
    if (const ErrorLevel result = CascadeDeleteRelated(confirm); result != LevelQuiet)
      return result;
    const ErrorLevel result = Me->DeleteCurrent(confirm);
    if (result == LevelCancel) {
      RollbackChanges();
      return LevelCancel;
    }
    if (result != LevelQuiet) {
      RollbackChanges();
      static_cast<void>(Me->ThrowLast());
      return LevelNotify;
    }
    return LevelQuiet;
  });
}
