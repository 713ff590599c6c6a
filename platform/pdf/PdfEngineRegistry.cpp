// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pdf/PdfEngineRegistry.h"

#include <charconv>
#include <climits>
#include <mutex>
#include <unordered_map>

#include "platform/runtime/values/Text.h"

namespace rt {
namespace {

struct Registry {
  std::mutex mutex;
  int lastId = 0;
  std::unordered_map<int, std::weak_ptr<PdfEngine>> engines;
};

Registry& Instance() {
  static Registry registry;
  return registry;
}

}  // namespace

int PdfEngineRegistry::Add(std::weak_ptr<PdfEngine> engine) {
  Registry& registry = Instance();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (registry.lastId == INT_MAX) return 0;  // ids exhausted: the engine is not reachable
  const int id = ++registry.lastId;
  registry.engines.emplace(id, std::move(engine));
  return id;
}

void PdfEngineRegistry::Remove(int id) {
  Registry& registry = Instance();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.engines.erase(id);
}

std::shared_ptr<PdfEngine> PdfEngineRegistry::Find(int id) {
  Registry& registry = Instance();
  std::lock_guard<std::mutex> lock(registry.mutex);
  auto it = registry.engines.find(id);
  return it == registry.engines.end() ? nullptr : it->second.lock();
}

std::shared_ptr<PdfEngine> PdfEngineRegistry::Find(std::string_view decimalId) {
  decimalId = Trim(decimalId);
  if (decimalId.empty()) return nullptr;
  int id = 0;
  auto [end, error] = std::from_chars(decimalId.data(), decimalId.data() + decimalId.size(), id);
  if (error != std::errc() || end != decimalId.data() + decimalId.size() || id <= 0) {
    return nullptr;
  }
  return Find(id);
}

}  // namespace rt
