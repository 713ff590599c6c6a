// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Follows other clients' changes to a browse's table, for a driver that can announce them
// (a table shared on a server). The driver calls back on a thread of its own; the callback
// only posts one event to the list's window on the window's thread and never touches the
// browse or a widget. Until the browse rearms (when it takes that event or reads the table
// anyway), further changes post nothing more, so a burst of changes gives one refill.

#include <atomic>
#include <memory>

namespace rt {
class ChangeWatch;
class File;
class Window;
}  // namespace rt

class OtherClientsWatch {
 public:
  OtherClientsWatch() = default;
  ~OtherClientsWatch();
  OtherClientsWatch(const OtherClientsWatch&) = delete;
  OtherClientsWatch& operator=(const OtherClientsWatch&) = delete;

  // Subscribes on the open `file` once: `event` for `control` goes to the open `window` after
  // each burst of changes. False when the driver cannot tell (nothing is watched, and later
  // calls do not ask again until Stop).
  bool Start(rt::File& file, const rt::Window& window, int event, int control);
  // Ends the subscription; once it returns no callback runs.
  void Stop();
  bool Active() const { return watch_ != nullptr; }
  // The browse is about to read the table: a change from now on posts again.
  void Rearm();

 private:
  struct Pending {
    std::atomic<bool> posted{false};
  };
  bool tried_ = false;
  std::shared_ptr<Pending> pending_;
  std::unique_ptr<rt::ChangeWatch> watch_;
};
