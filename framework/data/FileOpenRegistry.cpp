// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/data/FileOpenRegistry.h"

#include <algorithm>

#include "framework/data/ThreadFileMap.h"
#include "framework/error/CriticalSectionGuard.h"

FileOpenRegistry::State& FileOpenRegistry::Registry() {
  static State state;
  return state;
}

LockHolder& FileOpenRegistry::Lock() {
  // Lives for the whole process: an opener released late must still find its lock.
  static LockHolder holder;
  return holder;
}

IFileOpenServer* FileOpenRegistry::GetOpener(rt::File& file) {
  CriticalSectionGuard guard(Lock().CS.get());
  State& state = Registry();
  if (!file.IsShared()) {
    auto opener = std::make_unique<FileOpener>();
    opener->Init(file);
    state.privateOpeners.push_back(std::move(opener));
    return state.privateOpeners.back().get();
  }
  const auto id = reinterpret_cast<std::intptr_t>(&file);
  for (auto& entry : state.shared) {
    if (entry.FileId == id) {
      ++entry.Opener->Usage;
      return entry.Opener.get();
    }
  }
  auto opener = std::make_unique<SharedFileOpener>();
  opener->Init(file);
  state.shared.push_back({id, std::move(opener)});
  return state.shared.back().Opener.get();
}

int FileOpenRegistry::SharedOpenerCount() {
  CriticalSectionGuard guard(Lock().CS.get());
  return static_cast<int>(Registry().shared.size());
}

void FileOpenRegistry::DestroyShared(SharedFileOpener& opener) {
  CriticalSectionGuard guard(Lock().CS.get());
  std::erase_if(Registry().shared, [&](const SharedEntry& e) { return e.Opener.get() == &opener; });
}

void FileOpenRegistry::DestroyPrivate(FileOpener& opener) {
  CriticalSectionGuard guard(Lock().CS.get());
  std::erase_if(Registry().privateOpeners,
                [&](const std::unique_ptr<FileOpener>& o) { return o.get() == &opener; });
}

void FileOpenRegistry::ProcessStart() {
  CriticalSectionGuard guard(Lock().CS.get());
  Registry().shared.clear();
}

void FileOpenRegistry::ProcessEnd() {
  CriticalSectionGuard guard(Lock().CS.get());
  Registry().shared.clear();
  Registry().privateOpeners.clear();
}

void RegisterFileRegistryHooks() {
  rt::RegisterHooks({"file open registry", [] { FileOpenRegistry::ProcessStart(); },
                     [] { ThreadFileMap::StartThread(); }, [] { ThreadFileMap::EndThread(); },
                     [] { FileOpenRegistry::ProcessEnd(); }});
}
