// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/threads/SignalWatcher.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace rt {

SignalWatcher::SignalWatcher(std::initializer_list<int> signals) {
  sigemptyset(&signals_);
  for (int s : signals)
    sigaddset(&signals_, s);
  pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
}

SignalWatcher::~SignalWatcher() {
  Stop();
}

bool SignalWatcher::Start(std::function<void(int)> handler) {
  if (thread_.joinable()) return false;
  signalFd_ = signalfd(-1, &signals_, SFD_CLOEXEC);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  if (signalFd_ < 0 || stopFd_ < 0) {
    Stop();
    return false;
  }
  handler_ = std::move(handler);
  thread_ = std::thread([this] { Watch(); });
  return true;
}

void SignalWatcher::Stop() {
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    while (write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
  }
  for (int* fd : {&signalFd_, &stopFd_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

void SignalWatcher::Watch() {
  for (;;) {
    pollfd fds[2] = {{signalFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    signalfd_siginfo info{};
    const ssize_t got = read(signalFd_, &info, sizeof info);
    if (got == static_cast<ssize_t>(sizeof info)) {
      handler_(static_cast<int>(info.ssi_signo));
    } else if (got < 0 && errno != EINTR && errno != EAGAIN) {
      return;
    }
  }
}

}  // namespace rt
