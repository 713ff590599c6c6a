// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The process-wide part of the file open registry: the openers handed to file managers and
// the list of shared openers (one per shared table), guarded by one process-wide lock.

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/data/FileOpener.h"
#include "framework/data/IFileOpenServer.h"
#include "framework/data/LockHolder.h"
#include "framework/data/SharedFileOpener.h"
#include "platform/runtime/files/File.h"

class FileOpenRegistry {
 public:
  // The opener for a file: a new private opener for a per-thread file; for a shared file the
  // one shared opener of that file (made on first request, with one more reference after).
  static IFileOpenServer* GetOpener(rt::File& file);

  // The process-wide lock holder.
  static LockHolder& Lock();

  // Number of shared openers in the list (for diagnostics and tests).
  static int SharedOpenerCount();

  // Process start and end: the list starts empty; at the end the openers still listed are
  // freed.
  static void ProcessStart();
  static void ProcessEnd();

 private:
  friend class FileOpener;
  friend class SharedFileOpener;

  struct SharedEntry {
    std::intptr_t FileId = 0;
    std::unique_ptr<SharedFileOpener> Opener;
  };
  struct State {
    std::vector<SharedEntry> shared;
    std::vector<std::unique_ptr<FileOpener>> privateOpeners;
  };
  static State& Registry();
  // Both run under the process-wide lock.
  static void DestroyShared(SharedFileOpener& opener);
  static void DestroyPrivate(FileOpener& opener);
};

// Registers the registry's start-up hooks (process start/end: the shared opener list;
// thread start/end: the thread's file map). The application calls it once before running.
void RegisterFileRegistryHooks();
