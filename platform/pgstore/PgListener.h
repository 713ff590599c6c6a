// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hears other clients' changes for every table of one server that this process watches: one
// connection and one thread per connection string, shared by all the watches on it (so that
// opening a browse costs no connection of its own once one listens). Each subscriber names a
// table's channel and the backend whose notifications are its own; it is called back once per
// burst of notifications from other backends on that channel.
//
// A subscription is in place when Subscribe returns (its channel is listened on), unless the
// server could not be reached or did not answer within a few seconds; then, as after a lost
// connection, the subscriber is called back once its channel is listened on again, since
// changes may have gone unheard meanwhile. The connection stays open for a while after the last
// subscriber left, so that the next watch finds it ready. A connect or a LISTEN that the server
// does not answer is given up at once when the last subscriber leaves or the listener stops.
//
// Callbacks run on the listening thread without its lock held: they may take locks of their
// own and subscribe or unsubscribe (a subscription made from a callback does not wait for its
// channel). Once Unsubscribe returns, no callback of that subscriber is running or will run;
// so a thread must not unsubscribe while holding a lock that the subscriber's callback takes.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace rt {

class PgConnection;

class PgListener {
 public:
  // The listener of a connection string, made on first use.
  static std::shared_ptr<PgListener> For(const std::string& conninfo);

  explicit PgListener(std::string conninfo);
  ~PgListener();
  PgListener(const PgListener&) = delete;
  PgListener& operator=(const PgListener&) = delete;

  // `quotedChannel` is the table's quoted name; notifications sent by the backend `own` holds
  // are left out. Returns the subscription's number for Unsubscribe.
  std::uint64_t Subscribe(const std::string& quotedChannel, std::shared_ptr<std::atomic<int>> own,
                          std::function<void()> changed);
  void Unsubscribe(std::uint64_t id);

 private:
  struct Subscriber {
    std::string quoted;
    std::string channel;  // as notifications name it
    std::shared_ptr<std::atomic<int>> own;
    // Shared with a call in flight, so that a subscriber leaving from its own callback does
    // not destroy the function running.
    std::shared_ptr<const std::function<void()>> changed;
    bool covered = false;  // listened on since it subscribed: nothing missed
    bool waiting = false;  // its Subscribe waits for the channel
  };

  void Run();
  void Wake();
  // The connection is gone: every subscriber may miss changes until it is back.
  void Dropped(PgConnection& conn);
  // LISTENs on the channels subscribed to and not yet listened on; false when the connection
  // failed.
  bool ListenToAll(PgConnection& conn);
  void Dispatch(PgConnection& conn);
  // Calls the subscribers still subscribed, one at a time, outside the lock.
  void CallBack(const std::vector<std::uint64_t>& ids);
  // The thread waits for a server no longer needed (the caller holds no lock).
  bool Unwanted();

  const std::string conninfo_;
  const pid_t pid_;  // a forked child has the object but not the thread
  std::mutex mutex_;
  std::condition_variable listened_;
  std::condition_variable called_;  // a callback returned
  std::uint64_t calling_ = 0;       // the subscriber whose callback runs (0: none)
  std::thread::id runner_;          // the listening thread
  std::map<std::uint64_t, Subscriber> subscribers_;
  std::set<std::string> listening_;  // quoted channels listened on the current connection
  bool connected_ = false;
  bool stop_ = false;
  std::uint64_t nextId_ = 1;
  std::uint64_t failures_ = 0;                      // connections that failed or were lost
  std::chrono::steady_clock::time_point lastLeft_;  // when the last subscriber left
  int wake_[2] = {-1, -1};                          // a pipe: written to wake the thread
  std::thread thread_;
};

}  // namespace rt
