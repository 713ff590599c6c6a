// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/SilentServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testing_support {

SilentServer::SilentServer() {
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener_, 16) != 0 ||
      ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(listener_);
    listener_ = -1;
    return;
  }
  port_ = ntohs(address.sin_port);
}

SilentServer::~SilentServer() {
  for (int fd : clients_)
    ::close(fd);
  if (listener_ >= 0) ::close(listener_);
}

std::string SilentServer::Conninfo() const {
  return "host=127.0.0.1 port=" + std::to_string(port_) + " sslmode=disable";
}

bool SilentServer::AwaitClient(std::chrono::seconds limit) {
  pollfd ready{listener_, POLLIN, 0};
  if (::poll(&ready, 1, static_cast<int>(limit.count() * 1000)) <= 0) return false;
  const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (client < 0) return false;
  clients_.push_back(client);
  return true;
}

}  // namespace testing_support
