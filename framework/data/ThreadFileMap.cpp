// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/data/ThreadFileMap.h"

#include <algorithm>
#include <tuple>

#include "framework/data/FileManager.h"
#include "framework/error/ErrorManager.h"
#include "platform/runtime/threads/Threads.h"

namespace {

rt::ThreadLocal<ThreadFileMap>& Maps() {
  static rt::ThreadLocal<ThreadFileMap> maps;
  return maps;
}

template <typename Entry>
void InsertByLabel(std::vector<Entry>& list, Entry entry) {
  auto at =
      std::upper_bound(list.begin(), list.end(), entry.FileLabel,
                       [](std::intptr_t label, const Entry& e) { return label < e.FileLabel; });
  list.insert(at, entry);
}

template <typename Entry, typename Manager>
void EraseManager(std::vector<Entry>& list, Manager* manager) {
  std::erase_if(list, [&](const Entry& e) { return e.Manager == manager; });
}

template <typename Entry>
auto FindByLabel(const std::vector<Entry>& list, std::intptr_t label) -> decltype(Entry::Manager) {
  auto at = std::lower_bound(list.begin(), list.end(), label,
                             [](const Entry& e, std::intptr_t l) { return e.FileLabel < l; });
  return at != list.end() && at->FileLabel == label ? at->Manager : nullptr;
}

}  // namespace

ThreadFileMap& ThreadFileMap::Current() {
  return Maps().Get();
}

void ThreadFileMap::StartThread() {
  Maps().Destroy();
  Maps().Get();
}

void ThreadFileMap::EndThread() {
  Maps().Destroy();
}

bool ThreadFileMap::Exists() {
  return Maps().Exists();
}

std::intptr_t ThreadFileMap::LabelOf(const FileManager& manager) {
  return reinterpret_cast<std::intptr_t>(manager.File);
}

void ThreadFileMap::RegisterFile(FileManager& manager) {
  Errs = manager.Errors;
  UnregisterFile(manager);
  InsertByLabel(FileMapping, FileMapEntry{LabelOf(manager), &manager});
}

void ThreadFileMap::RegisterRelation(RelationManager& manager, const FileManager& me) {
  UnregisterRelation(manager);
  InsertByLabel(RelationMapping, RelationMapEntry{LabelOf(me), &manager});
}

void ThreadFileMap::UnregisterFile(FileManager& manager) {
  EraseManager(FileMapping, &manager);
}

void ThreadFileMap::UnregisterRelation(RelationManager& manager) {
  EraseManager(RelationMapping, &manager);
}

FileManager* ThreadFileMap::FindFileManager(std::intptr_t label) const {
  return FindByLabel(FileMapping, label);
}

RelationManager* ThreadFileMap::FindRelationManager(std::intptr_t label) const {
  return FindByLabel(RelationMapping, label);
}

std::string ThreadFileMap::ProcedureName() const {
  return Errs ? Errs->GetProcedureName() : std::string();
}

int ThreadFileMap::FindStatus(std::intptr_t label) {
  std::stable_sort(StatusQ.begin(), StatusQ.end(), [](const auto& a, const auto& b) {
    return std::tie(a.Thread, a.ID, a.ScopeLevel) < std::tie(b.Thread, b.ID, b.ScopeLevel);
  });
  const std::int32_t thread = rt::ThreadNumber();
  int found = FindScope(label, 1);
  if (found < 0) return -1;
  while (found + 1 < static_cast<int>(StatusQ.size()) && StatusQ[found + 1].Thread == thread &&
         StatusQ[found + 1].ID == label) {
    ++found;
  }
  return found;
}

int ThreadFileMap::FindScope(std::intptr_t label, std::uint16_t scope) const {
  const std::int32_t thread = rt::ThreadNumber();
  for (std::size_t i = 0; i < StatusQ.size(); ++i) {
    const auto& e = StatusQ[i];
    if (e.Thread == thread && e.ID == label && e.ScopeLevel == scope) return static_cast<int>(i);
  }
  return -1;
}

void ThreadFileMap::BeginUse(FileManager& manager, std::uint8_t level) {
  const std::intptr_t label = LabelOf(manager);
  const std::string proc = ProcedureName();
  const int found = FindStatus(label);
  FileUseStatus entry;
  entry.Thread = rt::ThreadNumber();
  entry.Proc = proc;
  entry.ID = label;
  entry.UStat = level;
  if (found < 0) {
    entry.ScopeLevel = 1;
    StatusQ.push_back(entry);
    return;
  }
  if (StatusQ[found].Proc == proc) {
    StatusQ[found].UStat = std::max(StatusQ[found].UStat, level);
    return;
  }
  // Another procedure (the caller) uses the table: the current one gets a deeper scope, and a
  // reading procedure keeps the caller's state to give it back.
  entry.ScopeLevel = static_cast<std::uint16_t>(StatusQ[found].ScopeLevel + 1);
  StatusQ.push_back(entry);
  if (level < 3) {
    const std::uint16_t hold = manager.SaveFile();  // may re-enter BeginUse: the entry exists
    const int own = FindScope(label, entry.ScopeLevel);
    if (own >= 0) {
      StatusQ[own].Hold = hold;
    } else if (hold != 0) {
      std::uint16_t drop = hold;
      manager.RestoreFile(drop, false);
    }
  }
}

void ThreadFileMap::NestOpen(FileManager& manager) {
  const int found = FindStatus(LabelOf(manager));
  if (found >= 0 && StatusQ[found].Proc == ProcedureName()) ++StatusQ[found].NestedOpen;
}

void ThreadFileMap::EndUse(FileManager& manager) {
  const std::intptr_t label = LabelOf(manager);
  const int found = FindStatus(label);
  if (found < 0 || StatusQ[found].Proc != ProcedureName()) return;
  if (StatusQ[found].NestedOpen > 0) {
    --StatusQ[found].NestedOpen;
    return;
  }
  const std::uint16_t scope = StatusQ[found].ScopeLevel;
  std::uint16_t hold = StatusQ[found].Hold;
  if (hold != 0) {
    // A reading procedure gives the caller its state back; a changing one only frees it.
    StatusQ[found].Hold = 0;
    manager.RestoreFile(hold, StatusQ[found].UStat < 3);
  }
  const int own = FindScope(label, scope);
  if (own >= 0) StatusQ.erase(StatusQ.begin() + own);
}
