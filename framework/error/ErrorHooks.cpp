// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/error/ErrorHooks.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace {

std::mutex managerMutex;
std::unique_ptr<ErrorManager> managerHolder;
std::atomic<ErrorManager*> manager{nullptr};

ErrorManager& BuildManager() {
  std::lock_guard lock(managerMutex);
  if (!managerHolder) {
    managerHolder = std::make_unique<ErrorManager>();
    manager.store(managerHolder.get(), std::memory_order_release);
  }
  return *managerHolder;
}

void ReleaseManager() {
  std::unique_ptr<ErrorManager> released;
  {
    std::lock_guard lock(managerMutex);
    manager.store(nullptr, std::memory_order_release);
    released = std::move(managerHolder);
  }
  if (released) released->Kill();
}

}  // namespace

ErrorManager& GlobalErrors() {
  ErrorManager* built = manager.load(std::memory_order_acquire);
  return built != nullptr ? *built : BuildManager();
}

rt::ThreadLocal<ErrorStatus>& GlobalErrorStatus() {
  static rt::ThreadLocal<ErrorStatus> status;
  return status;
}

void StartGlobalErrors() {
  GlobalErrors().Start(GlobalErrorStatus());
}

void RegisterErrorHooks() {
  rt::RegisterHooks(rt::StartupHooks{
      .name = "errors",
      .processStart = [] { BuildManager(); },
      .threadStart =
          [] {
            GlobalErrorStatus().Destroy();
            GlobalErrorStatus().Get();
          },
      .threadEnd = nullptr,
      .processEnd = [] { ReleaseManager(); },
  });
}

void RegisterErrorStatusHooks() {
  rt::RegisterHooks(rt::StartupHooks{
      .name = "error status",
      .processStart = nullptr,
      .threadStart = nullptr,
      .threadEnd = [] { GlobalErrorStatus().Destroy(); },
      .processEnd = nullptr,
  });
}
