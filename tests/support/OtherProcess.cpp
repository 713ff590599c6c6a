// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/OtherProcess.h"

#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace testing_support {

OtherProcess::OtherProcess(Handler handler,
                           const std::function<void(const std::function<void()>&)>& host) {
  int down[2], up[2];
  if (pipe(down) != 0) return;
  if (pipe(up) != 0) {
    close(down[0]);
    close(down[1]);
    return;
  }
  pid_ = fork();
  if (pid_ < 0) {
    for (int fd : {down[0], down[1], up[0], up[1]})
      close(fd);
    return;
  }
  if (pid_ == 0) {
    close(down[1]);
    close(up[0]);
    const auto loop = [&] {
      FILE* in = fdopen(down[0], "r");
      char* line = nullptr;
      std::size_t capacity = 0;
      ssize_t length = 0;
      while (in && (length = getline(&line, &capacity, in)) > 0) {
        const char answer = handler(std::string_view(line, length - 1)) ? '1' : '0';
        if (write(up[1], &answer, 1) != 1) break;
      }
      free(line);
    };
    if (host)
      host(loop);
    else
      loop();
    _exit(0);
  }
  close(down[0]);
  close(up[1]);
  commands_ = down[1];
  answers_ = up[0];
}

OtherProcess::~OtherProcess() {
  if (commands_ >= 0) close(commands_);  // ends the other process's loop
  if (pid_ > 0) waitpid(pid_, nullptr, 0);
  if (answers_ >= 0) close(answers_);
}

bool OtherProcess::Do(std::string_view command) {
  const std::string line = std::string(command) + '\n';
  if (pid_ <= 0 || write(commands_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
    return false;
  pollfd ready{answers_, POLLIN, 0};
  char answer = 0;
  return poll(&ready, 1, 20000) == 1 && read(answers_, &answer, 1) == 1 && answer == '1';
}

void OtherProcess::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

}  // namespace testing_support
