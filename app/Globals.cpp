// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Globals.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "framework/util/IniManager.h"
#include "platform/runtime/threads/Threads.h"

namespace {

std::mutex iniMutex;
std::unique_ptr<IniManager> iniHolder;
std::atomic<IniManager*> ini{nullptr};

IniManager& BuildIniManager() {
  std::lock_guard lock(iniMutex);
  if (!iniHolder) {
    iniHolder = std::make_unique<IniManager>();
    ini.store(iniHolder.get(), std::memory_order_release);
  }
  return *iniHolder;
}

void ReleaseIniManager() {
  std::unique_ptr<IniManager> released;
  {
    std::lock_guard lock(iniMutex);
    ini.store(nullptr, std::memory_order_release);
    released = std::move(iniHolder);
  }
  if (released) released->Kill();
}

struct ThreadGlobals {
  std::uint8_t request = 0;
  std::uint8_t response = 0;
  std::int32_t vcrRequest = 0;
};
rt::ThreadLocal<ThreadGlobals>& Globals() {
  static rt::ThreadLocal<ThreadGlobals> globals;
  return globals;
}
}  // namespace

std::uint8_t& GlobalRequest() {
  return Globals()->request;
}
std::uint8_t& GlobalResponse() {
  return Globals()->response;
}
std::int32_t& VCRRequest() {
  return Globals()->vcrRequest;
}

void ClearThreadGlobals() {
  GlobalRequest() = 0;
  GlobalResponse() = 0;
  VCRRequest() = 0;
}

IniManager& IniMgr() {
  IniManager* built = ini.load(std::memory_order_acquire);
  return built != nullptr ? *built : BuildIniManager();
}

void RegisterIniManagerHooks() {
  rt::RegisterHooks(rt::StartupHooks{
      .name = "INI manager",
      .processStart = [] { BuildIniManager(); },
      .threadStart = nullptr,
      .threadEnd = nullptr,
      .processEnd = [] { ReleaseIniManager(); },
  });
}
