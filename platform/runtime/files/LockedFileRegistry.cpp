// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/files/LockedFileRegistry.h"

#include <sys/stat.h>

#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {

namespace {

struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const Identity&) const = default;
};

struct Entry {
  std::uint64_t number = 0;
  Identity identity;
  std::string absolutePath;  // where the side files are looked up
};

struct Registry {
  std::mutex mutex;
  std::vector<Entry> entries;
  std::uint64_t lastNumber = 0;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

// The identity of the file a name leads to (links followed, as open does).
bool IdentityOf(const std::string& path, Identity& identity) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  identity = {st.st_dev, st.st_ino};
  return true;
}

}  // namespace

std::uint64_t LockedFileRegistry::Add(const std::string& path) {
  Identity identity;
  if (!IdentityOf(path, identity)) return 0;
  std::error_code ec;
  std::string absolutePath = std::filesystem::absolute(path, ec).string();
  if (ec) absolutePath = path;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  registry.entries.push_back({++registry.lastNumber, identity, std::move(absolutePath)});
  return registry.lastNumber;
}

void LockedFileRegistry::Remove(std::uint64_t entry) {
  if (entry == 0) return;
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  std::erase_if(registry.entries, [entry](const Entry& e) { return e.number == entry; });
}

bool LockedFileRegistry::Holds(const std::string& path) {
  Identity wanted;
  if (!IdentityOf(path, wanted)) return false;  // a missing file holds no lock
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  for (const Entry& entry : registry.entries) {
    if (entry.identity == wanted) return true;
    for (const char* suffix : {"-wal", "-shm", "-journal"}) {
      Identity side;
      if (IdentityOf(entry.absolutePath + suffix, side) && side == wanted) return true;
    }
  }
  return false;
}

std::string LockedFileRegistry::RefusalText(const std::string& path) {
  return "The file is in use as the program's table and cannot be opened as another file: " + path;
}

int LockedFileRegistry::Refuse(const std::string& path) {
  if (!Holds(path)) return kNoError;
  SetError(kAccessDenied, "Access Denied: " + RefusalText(path), "0", "file in use as a table");
  return kAccessDenied;
}

}  // namespace rt
