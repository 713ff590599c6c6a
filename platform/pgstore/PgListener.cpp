// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgListener.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <memory>

#include "platform/pgstore/PgConnection.h"

namespace rt {

namespace {

// How long the connection stays open once no table is watched any more.
constexpr std::chrono::seconds kLinger{30};
// How long Subscribe waits for its channel to be listened on.
constexpr std::chrono::seconds kSubscribeWait{5};
// The pause before a lost or refused connection is tried again.
constexpr int kRetryMs = 1000;

// The channel a notification names: the quoted name without its quotes.
std::string Unquoted(const std::string& quoted) {
  if (quoted.size() < 2 || quoted.front() != '"') return quoted;
  std::string out;
  for (std::size_t i = 1; i + 1 < quoted.size(); ++i) {
    out += quoted[i];
    if (quoted[i] == '"') ++i;
  }
  return out;
}

}  // namespace

std::shared_ptr<PgListener> PgListener::For(const std::string& conninfo) {
  static std::mutex mutex;
  static std::map<std::string, std::shared_ptr<PgListener>> listeners;
  std::lock_guard lock(mutex);
  std::shared_ptr<PgListener>& listener = listeners[conninfo];
  if (!listener || listener->pid_ != ::getpid()) listener = std::make_shared<PgListener>(conninfo);
  return listener;
}

PgListener::PgListener(std::string conninfo) : conninfo_(std::move(conninfo)), pid_(::getpid()) {
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return;
  thread_ = std::thread([this] { Run(); });
}

PgListener::~PgListener() {
  if (pid_ != ::getpid()) {
    // A forked child: the thread (and whoever held the lock) stayed in the parent. Its handle
    // names no thread here, so it can be neither joined nor detached; it is only kept from
    // being destroyed, which would end the process.
    union Parked {
      Parked() {}
      ~Parked() {}
      std::thread thread;
    };
    static Parked parked;
    if (thread_.joinable()) std::construct_at(&parked.thread, std::move(thread_));
  } else {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    Wake();
    if (thread_.joinable()) thread_.join();
  }
  for (int fd : wake_) {
    if (fd >= 0) ::close(fd);
  }
}

void PgListener::Wake() {
  if (wake_[1] < 0) return;
  const char byte = 1;
  // A full pipe wakes the thread as well.
  [[maybe_unused]] const auto n = ::write(wake_[1], &byte, 1);
}

std::uint64_t PgListener::Subscribe(const std::string& quotedChannel,
                                    std::shared_ptr<std::atomic<int>> own,
                                    std::function<void()> changed) {
  std::unique_lock lock(mutex_);
  const std::uint64_t id = nextId_++;
  Subscriber& s = subscribers_[id];
  s.quoted = quotedChannel;
  s.channel = Unquoted(quotedChannel);
  s.own = std::move(own);
  if (changed) s.changed = std::make_shared<const std::function<void()>>(std::move(changed));
  if (connected_ && listening_.count(s.quoted) != 0) {
    s.covered = true;
    return id;
  }
  // From a callback the thread would wait for itself: it listens once the callback returned,
  // and then calls the subscriber back.
  if (!thread_.joinable() || std::this_thread::get_id() == runner_) {
    Wake();
    return id;
  }
  // The thread connects if need be and listens on the channel; a failure leaves the
  // subscriber to be called back once it listens.
  s.waiting = true;
  const std::uint64_t failures = failures_;
  Wake();
  listened_.wait_for(lock, kSubscribeWait,
                     [&] { return s.covered || failures_ != failures || stop_; });
  s.waiting = false;
  return id;
}

void PgListener::Unsubscribe(std::uint64_t id) {
  std::unique_lock lock(mutex_);
  subscribers_.erase(id);
  if (subscribers_.empty()) {
    lastLeft_ = std::chrono::steady_clock::now();
    Wake();
  }
  // A call in flight ends first, unless it is the one leaving.
  if (std::this_thread::get_id() != runner_) {
    called_.wait(lock, [&] { return calling_ != id; });
  }
}

bool PgListener::Unwanted() {
  std::lock_guard lock(mutex_);
  return stop_ || subscribers_.empty();
}

void PgListener::CallBack(const std::vector<std::uint64_t>& ids) {
  for (const std::uint64_t id : ids) {
    std::shared_ptr<const std::function<void()>> call;
    {
      std::lock_guard lock(mutex_);
      auto it = subscribers_.find(id);
      if (it == subscribers_.end() || !it->second.changed) continue;
      call = it->second.changed;
      calling_ = id;
    }
    (*call)();
    // Released before Unsubscribe may return: the function's captures end on this thread.
    call.reset();
    {
      std::lock_guard lock(mutex_);
      calling_ = 0;
    }
    called_.notify_all();
  }
}

void PgListener::Dropped(PgConnection& conn) {
  conn.Disconnect();
  std::lock_guard lock(mutex_);
  connected_ = false;
  listening_.clear();
  for (auto& [id, s] : subscribers_)
    s.covered = false;
  ++failures_;
  listened_.notify_all();
}

bool PgListener::ListenToAll(PgConnection& conn) {
  std::set<std::string> channels;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, s] : subscribers_) {
      if (listening_.count(s.quoted) == 0) channels.insert(s.quoted);
    }
  }
  for (const std::string& quoted : channels) {
    if (conn.Exec("LISTEN " + quoted, "listen") != kNoError) return false;
    std::vector<std::uint64_t> missed;
    {
      std::lock_guard lock(mutex_);
      listening_.insert(quoted);
      for (auto& [id, s] : subscribers_) {
        if (s.quoted != quoted || s.covered) continue;
        s.covered = true;
        // Not waiting in Subscribe: it was not listened on for a while (a lost connection, a
        // slow start), and changes may have gone unheard.
        if (!s.waiting) missed.push_back(id);
      }
    }
    listened_.notify_all();
    CallBack(missed);
  }
  return true;
}

void PgListener::Dispatch(PgConnection& conn) {
  std::vector<PGnotify*> heard;
  while (PGnotify* n = PQnotifies(conn.Get()))
    heard.push_back(n);
  if (heard.empty()) return;
  // One call per subscriber for the whole burst.
  std::vector<std::uint64_t> changed;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, s] : subscribers_) {
      if (!s.covered) continue;
      const int own = s.own ? s.own->load() : 0;
      for (const PGnotify* n : heard) {
        if (s.channel == n->relname && n->be_pid != own) {
          changed.push_back(id);
          break;
        }
      }
    }
  }
  for (PGnotify* n : heard)
    PQfreemem(n);
  CallBack(changed);
}

void PgListener::Run() {
  {
    std::lock_guard lock(mutex_);
    runner_ = std::this_thread::get_id();
  }
  PgConnection conn(conninfo_);
  // A connect or LISTEN the server does not answer ends as soon as nobody needs it.
  conn.SetInterrupt(wake_[0], [this] { return Unwanted(); });
  auto drain = [this] {
    char bytes[64];
    while (::read(wake_[0], bytes, sizeof bytes) > 0) {
    }
  };
  auto pause = [&](int ms) {
    // The wait's wake-up may have been read by the connect given up.
    if (Unwanted()) return;
    pollfd stop{wake_[0], POLLIN, 0};
    if (::poll(&stop, 1, ms) > 0) drain();
  };
  while (true) {
    bool wanted = false;
    int timeout = -1;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      wanted = !subscribers_.empty();
      if (!wanted && conn.Connected()) {
        const auto idle = std::chrono::steady_clock::now() - lastLeft_;
        if (idle >= kLinger) {
          conn.Disconnect();
          connected_ = false;
          listening_.clear();
        } else {
          timeout =
              static_cast<int>(
                  std::chrono::duration_cast<std::chrono::milliseconds>(kLinger - idle).count()) +
              1;
        }
      }
    }
    if (wanted && !conn.Connected()) {
      if (conn.Connect() != kNoError) {
        Dropped(conn);
        pause(kRetryMs);
        continue;
      }
      std::lock_guard lock(mutex_);
      connected_ = true;
    }
    if (conn.Connected() && !ListenToAll(conn)) {
      Dropped(conn);
      pause(kRetryMs);
      continue;
    }
    pollfd fds[2] = {{wake_[0], POLLIN, 0}, {conn.Connected() ? conn.Socket() : -1, POLLIN, 0}};
    if (::poll(fds, 2, timeout) < 0) continue;
    if (fds[0].revents != 0) drain();
    if (fds[1].revents != 0) {
      if (PQconsumeInput(conn.Get()) == 0 || !conn.Connected()) {
        Dropped(conn);
        continue;
      }
      Dispatch(conn);
    }
  }
}

}  // namespace rt
