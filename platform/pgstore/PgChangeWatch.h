// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hears other clients' changes to one table: a connection of its own, on a thread of its own,
// listens on the table's channel and calls back once per burst of notifications, leaving out
// those the watching driver's own connection sent. A lost connection is made again (after a
// second); since changes may have been missed meanwhile, the callback runs once it is back.
// The constructor returns once the first LISTEN has been tried (a few seconds at most), so a
// change committed right after the watch is made is heard.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/runtime/files/FileDriver.h"

namespace rt {

class PgChangeWatch : public ChangeWatch {
 public:
  PgChangeWatch(std::string conninfo, std::string quotedTable,
                std::shared_ptr<std::atomic<int>> ownBackend, std::function<void()> changed);
  ~PgChangeWatch() override;
  PgChangeWatch(const PgChangeWatch&) = delete;
  PgChangeWatch& operator=(const PgChangeWatch&) = delete;

 private:
  void Run();
  void FirstTryDone();

  std::string conninfo_;
  std::string table_;
  std::shared_ptr<std::atomic<int>> ownBackend_;
  std::function<void()> changed_;
  int wake_[2] = {-1, -1};  // a pipe: written to stop the thread
  std::mutex mutex_;
  std::condition_variable tried_;
  bool firstTryDone_ = false;
  std::thread thread_;
};

}  // namespace rt
