// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/AnnouncingStore.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/runtime/files/FileDriver.h"
#include "platform/store/Store.h"
#include "platform/store/StoreDriver.h"

namespace testing_support {

namespace {

class Subscription;

// The live subscriptions; the mutex is held while callbacks run, so that ending a
// subscription waits for a running call as the driver contract asks.
std::mutex gMutex;
std::vector<Subscription*> gLive;

class Subscription : public rt::ChangeWatch {
 public:
  explicit Subscription(std::function<void()> changed) : changed_(std::move(changed)) {
    const std::lock_guard lock(gMutex);
    gLive.push_back(this);
  }
  ~Subscription() override {
    const std::lock_guard lock(gMutex);
    std::erase(gLive, this);
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  void Call() const { changed_(); }

 private:
  std::function<void()> changed_;
};

class AnnouncingDriver : public rt::StoreDriver {
 public:
  using StoreDriver::StoreDriver;
  std::unique_ptr<rt::ChangeWatch> WatchOtherClients(std::function<void()> changed) override {
    return std::make_unique<Subscription>(std::move(changed));
  }
};

}  // namespace

void RegisterAnnouncingStore() {
  rt::RegisterStoreDriver();
  rt::RegisterFileDriver(kAnnouncingStoreName, rt::kStoreExtension,
                         [](rt::File& f) { return std::make_unique<AnnouncingDriver>(f); });
}

int AnnouncingSubscribers() {
  const std::lock_guard lock(gMutex);
  return static_cast<int>(gLive.size());
}

int AnnounceOtherClientsChange(int times) {
  int calls = 0;
  std::thread listener([&] {
    const std::lock_guard lock(gMutex);
    for (int i = 0; i < times; ++i) {
      for (const Subscription* s : gLive) {
        s->Call();
        ++calls;
      }
    }
  });
  listener.join();
  return calls;
}

}  // namespace testing_support
