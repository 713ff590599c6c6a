// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgChangeWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>

#include "platform/pgstore/PgConnection.h"

namespace rt {

PgChangeWatch::PgChangeWatch(std::string conninfo, std::string quotedTable,
                             std::shared_ptr<std::atomic<int>> ownBackend,
                             std::function<void()> changed)
    : conninfo_(std::move(conninfo)),
      table_(std::move(quotedTable)),
      ownBackend_(std::move(ownBackend)),
      changed_(std::move(changed)) {
  if (::pipe2(wake_, O_CLOEXEC) != 0) return;
  thread_ = std::thread([this] { Run(); });
  std::unique_lock lock(mutex_);
  if (thread_.joinable())
    tried_.wait_for(lock, std::chrono::seconds(5), [this] { return firstTryDone_; });
}

void PgChangeWatch::FirstTryDone() {
  {
    std::lock_guard lock(mutex_);
    if (firstTryDone_) return;
    firstTryDone_ = true;
  }
  tried_.notify_all();
}

PgChangeWatch::~PgChangeWatch() {
  if (wake_[1] >= 0) {
    const char stop = 1;
    [[maybe_unused]] const auto n = ::write(wake_[1], &stop, 1);
  }
  if (thread_.joinable()) thread_.join();
  for (int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
}

void PgChangeWatch::Run() {
  PgConnection conn(conninfo_);
  bool missed = false;  // a connection was lost: changes may have gone unheard
  while (true) {
    if (!conn.Connected()) {
      const bool listening =
          conn.Connect() == kNoError && conn.Exec("LISTEN " + table_, "listen") == kNoError;
      FirstTryDone();
      if (listening) {
        if (missed && changed_) changed_();
        missed = false;
      } else {
        missed = true;
        conn.Disconnect();
        pollfd stop{wake_[0], POLLIN, 0};
        if (::poll(&stop, 1, 1000) > 0) return;
        continue;
      }
    }
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {conn.Socket(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) continue;
    if (fds[0].revents) return;
    if (PQconsumeInput(conn.Get()) == 0 || !conn.Connected()) {
      conn.Disconnect();
      missed = true;
      continue;
    }
    bool heard = false;
    const int own = ownBackend_->load();
    while (PGnotify* n = PQnotifies(conn.Get())) {
      if (n->be_pid != own) heard = true;
      PQfreemem(n);
    }
    if (heard && changed_) changed_();
  }
}

}  // namespace rt
