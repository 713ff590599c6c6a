// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A second process standing for another station on the same tables: forked at construction
// (before the test starts threads of its own), it carries out one-line commands with the
// handler and answers whether each succeeded. It ends when the object goes away.

#include <sys/types.h>

#include <functional>
#include <string_view>

namespace testing_support {

class OtherProcess {
 public:
  using Handler = std::function<bool(std::string_view command)>;
  // `host` runs the command loop in the surroundings the handler needs (a program run, for
  // instance); without one the loop runs as it is.
  explicit OtherProcess(Handler handler,
                        const std::function<void(const std::function<void()>&)>& host = {});
  ~OtherProcess();
  OtherProcess(const OtherProcess&) = delete;
  OtherProcess& operator=(const OtherProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  // Has the other process carry out a command (one line) and waits for its answer; false
  // when it failed or did not answer in time.
  bool Do(std::string_view command = {});
  // Ends the other process at once with SIGKILL, as a crash would: it finishes nothing.
  void Kill();

 private:
  int commands_ = -1;  // write end, to the other process
  int answers_ = -1;   // read end, from it
  pid_t pid_ = -1;
};

}  // namespace testing_support
