// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A server that never answers: a TCP port on the loopback address whose connections are made
// (the system completes them) but never read from or written to, as a server whose machine
// stopped answering looks to a client, without any traffic leaving this machine.

#include <chrono>
#include <string>
#include <vector>

namespace testing_support {

class SilentServer {
 public:
  SilentServer();
  ~SilentServer();
  SilentServer(const SilentServer&) = delete;
  SilentServer& operator=(const SilentServer&) = delete;

  // False when no port could be had.
  bool Listening() const { return listener_ >= 0; }
  // A connection string naming it.
  std::string Conninfo() const;
  // Waits until a client connected (the connection is kept, unanswered); false when none did
  // within the limit.
  bool AwaitClient(std::chrono::seconds limit = std::chrono::seconds(60));

 private:
  int listener_ = -1;
  int port_ = 0;
  std::vector<int> clients_;
};

}  // namespace testing_support
