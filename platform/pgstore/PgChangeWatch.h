// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hears other clients' changes to one table: a subscription to the process's listener of the
// server (PgListener.h), which calls back once per burst of notifications on the table's
// channel, leaving out those the watching driver's own connection sent, and once more after a
// lost connection is back (changes may have been missed meanwhile). The constructor returns
// once the table's channel is listened on (or that failed for now, a few seconds at most), so
// a change committed right after the watch is made is heard.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/runtime/files/FileDriver.h"

namespace rt {

class PgListener;

class PgChangeWatch : public ChangeWatch {
 public:
  PgChangeWatch(const std::string& conninfo, const std::string& quotedTable,
                std::shared_ptr<std::atomic<int>> ownBackend, std::function<void()> changed);
  ~PgChangeWatch() override;
  PgChangeWatch(const PgChangeWatch&) = delete;
  PgChangeWatch& operator=(const PgChangeWatch&) = delete;

 private:
  std::shared_ptr<PgListener> listener_;
  std::uint64_t id_ = 0;
};

}  // namespace rt
