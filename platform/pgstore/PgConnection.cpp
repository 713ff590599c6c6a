// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgConnection.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/threads/Threads.h"
#include "platform/runtime/windows/EventQueue.h"

namespace rt {

namespace {

// How often a wait for the server asks whether to give up.
constexpr int kSliceMs = 100;
// How long a reply is still waited for once the waiting thread was asked to close down: a
// server that answers finishes the statement (a write the user confirmed is not lost to a
// quick exit), one that does not holds the program's end back no longer than this.
constexpr std::chrono::seconds kCloseGrace{2};
// How long a server that let a connect time out is taken as not answering: opening a table
// that failed goes on to create it at once, which would wait the whole bound again.
constexpr std::chrono::seconds kUnansweredMemory{3};
struct Unanswered {
  std::string failure;
  std::chrono::steady_clock::time_point at;
};
std::mutex gUnansweredMutex;
// Per connection string: drivers are made anew for each open and create.
std::map<std::string, Unanswered> gUnanswered;
// Connection settings the driver brings unless the connection string names them: a server
// gone while the connection idled (the listener's, most of the time) is noticed after about a
// minute instead of hours, and a request the server's machine never acknowledges breaks the
// connection after 30 s instead of the system's quarter of an hour.
constexpr std::pair<const char*, const char*> kDefaultSettings[] = {
    {"keepalives_idle", "30"},
    {"keepalives_interval", "10"},
    {"keepalives_count", "3"},
    {"tcp_user_timeout", "30000"},
};

std::atomic<std::uint64_t> gRoundTrips{0};
std::atomic<std::uint64_t> gConnections{0};

void CountRoundTrip() {
  gRoundTrips.fetch_add(1, std::memory_order_relaxed);
}

std::string Trimmed(const char* text) {
  std::string s = text ? text : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
    s.pop_back();
  return s;
}

bool Mentions(const std::string& text, std::initializer_list<const char*> words) {
  return std::any_of(words.begin(), words.end(),
                     [&](const char* w) { return text.find(w) != std::string::npos; });
}

}  // namespace

PgConnection::PgConnection(std::string conninfo) : conninfo_(std::move(conninfo)) {
  char* error = nullptr;
  if (PQconninfoOption* options = PQconninfoParse(conninfo_.c_str(), &error)) {
    for (PQconninfoOption* o = options; o->keyword; ++o) {
      if (std::strcmp(o->keyword, "password") == 0 && o->val) password_ = o->val;
    }
    PQconninfoFree(options);
  }
  PQfreemem(error);
}

PgConnection::~PgConnection() {
  Disconnect();
}

std::string PgConnection::Scrub(std::string text) const {
  if (password_.empty()) return text;
  for (std::size_t at = text.find(password_); at != std::string::npos;
       at = text.find(password_, at + 3)) {
    text.replace(at, password_.size(), "***");
  }
  return text;
}

bool PgConnection::Connected() const {
  return conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK;
}

int PgConnection::BackendPid() const {
  return Connected() ? PQbackendPID(conn_) : 0;
}

int PgConnection::Socket() const {
  return conn_ ? PQsocket(conn_) : -1;
}

void PgConnection::Disconnect() {
  if (conn_) PQfinish(conn_);
  conn_ = nullptr;
  prepared_.clear();
}

void PgConnection::SetInterrupt(int wakeFd, std::function<bool()> stop) {
  wakeFd_ = wakeFd;
  stop_ = std::move(stop);
}

bool PgConnection::StopRequested() const {
  if (stop_) return stop_();
  // A runtime thread asked to close down (the program ends, or its window's owner closes).
  return ThreadNumber() != 0 && MyEvents().CloseDownRequested();
}

PGconn* PgConnection::StartConnect() const {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo_.c_str(), &error);
  PQfreemem(error);
  // A string libpq cannot read: the connect fails at once, saying why.
  if (!options) return PQconnectStart(conninfo_.c_str());
  std::vector<const char*> keys;
  std::vector<const char*> values;
  for (const auto& [key, value] : kDefaultSettings) {
    keys.push_back(key);
    values.push_back(value);
  }
  // The string's own settings come later and win.
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    if (o->val && *o->val) {
      keys.push_back(o->keyword);
      values.push_back(o->val);
    }
  }
  keys.push_back(nullptr);
  values.push_back(nullptr);
  PGconn* conn = PQconnectStartParams(keys.data(), values.data(), 0);
  PQconninfoFree(options);
  return conn;
}

std::optional<std::chrono::seconds> PgConnection::ConnectTimeout() const {
  // What the connection uses, so the client library's environment counts as well.
  int seconds = kDefaultConnectTimeout;
  if (PQconninfoOption* options = PQconninfo(conn_)) {
    for (PQconninfoOption* o = options; o->keyword; ++o) {
      if (std::strcmp(o->keyword, "connect_timeout") == 0 && o->val && *o->val) {
        seconds = std::atoi(o->val);
      }
    }
    PQconninfoFree(options);
  }
  // As the client library reads it: 0 or less waits without a bound, 1 means 2.
  if (seconds <= 0) return std::nullopt;
  return std::chrono::seconds(std::max(seconds, 2));
}

std::string PgConnection::ServerNamed() const {
  // As the client library names the server in its own failures.
  const std::string host = PQhost(conn_) ? PQhost(conn_) : "";
  const std::string port = PQport(conn_) ? PQport(conn_) : "";
  if (!host.empty() && host.front() == '/') {
    return "connection to server on socket \"" + host + "/.s.PGSQL." + port + "\"";
  }
  return "connection to server at \"" + host + "\", port " + port;
}

PgConnection::Waited PgConnection::Await(
    short events, std::optional<std::chrono::steady_clock::time_point> deadline, bool replying) {
  bool stopping = false;
  std::chrono::steady_clock::time_point stopSeen;
  while (true) {
    const int socket = PQsocket(conn_);
    if (socket < 0) return Waited::kReady;  // nothing to wait for: libpq reports the failure
    const auto now = std::chrono::steady_clock::now();
    int slice = kSliceMs;
    if (deadline) {
      if (now >= *deadline) return Waited::kTimedOut;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
      slice = static_cast<int>(std::min<long long>(slice, left));
    }
    pollfd fds[2] = {{socket, events, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = ::poll(fds, wakeFd_ >= 0 ? 2 : 1, slice);
    if (ready < 0 && errno != EINTR) return Waited::kReady;
    if (ready > 0 && fds[0].revents != 0) return Waited::kReady;
    if (ready > 0 && wakeFd_ >= 0 && fds[1].revents != 0) {
      char bytes[64];
      while (::read(wakeFd_, bytes, sizeof bytes) > 0) {
      }
    }
    if (!StopRequested()) continue;
    // Its own interrupt gives a connection up at once; a closing thread's reply gets a grace.
    if (!replying || stop_) return Waited::kGivenUp;
    if (!stopping) {
      stopping = true;
      stopSeen = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - stopSeen >= kCloseGrace) {
      return Waited::kGivenUp;
    }
  }
}

int PgConnection::Connect() {
  if (Connected()) return kNoError;
  Disconnect();
  {
    std::lock_guard lock(gUnansweredMutex);
    auto it = gUnanswered.find(conninfo_);
    if (it != gUnanswered.end()) {
      if (std::chrono::steady_clock::now() - it->second.at < kUnansweredMemory) {
        SetError(kNoFileError, {}, "0", it->second.failure);
        return kNoFileError;
      }
      gUnanswered.erase(it);
    }
  }
  gConnections.fetch_add(1, std::memory_order_relaxed);
  conn_ = StartConnect();
  if (!conn_ || PQstatus(conn_) == CONNECTION_BAD) return ConnectionFailure("connect");
  // The connect runs step by step, each step waiting on the socket without blocking, so that
  // a server that never answers is given up at the deadline or when the wait is interrupted.
  const std::optional<std::chrono::seconds> timeout = ConnectTimeout();
  std::optional<std::chrono::steady_clock::time_point> deadline;
  if (timeout) deadline = std::chrono::steady_clock::now() + *timeout;
  PostgresPollingStatusType state = PGRES_POLLING_WRITING;
  while (state != PGRES_POLLING_OK) {
    if (state == PGRES_POLLING_FAILED) return ConnectionFailure("connect");
    if (state == PGRES_POLLING_READING || state == PGRES_POLLING_WRITING) {
      switch (Await(state == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline, false)) {
        case Waited::kTimedOut: {
          const int code =
              ConnectionFailure("connect", ServerNamed() + " failed: timeout expired (" +
                                               std::to_string(timeout->count()) + " s)");
          std::lock_guard lock(gUnansweredMutex);
          gUnanswered[conninfo_] = {LastError().driverText, std::chrono::steady_clock::now()};
          return code;
        }
        case Waited::kGivenUp:
          return ConnectionFailure("connect",
                                   ServerNamed() + " failed: given up before the server answered");
        case Waited::kReady:
          break;
      }
    }
    state = PQconnectPoll(conn_);
  }
  if (!Connected()) return ConnectionFailure("connect");
  // Statements are sent without blocking too: AwaitReply does the waiting.
  if (PQsetnonblocking(conn_, 1) != 0) return ConnectionFailure("connect");
  // Notices (an identifier shortened, a table already there) are not errors.
  PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
  return kNoError;
}

bool PgConnection::AwaitReply() {
  while (true) {
    const int flushed = PQflush(conn_);
    // A broken connection: reading the reply says so without waiting.
    if (flushed < 0) return true;
    // The socket is read only when what was read before holds no whole reply, and only once
    // it is ready: a reply costs one wait and one read.
    if (flushed == 0 && !PQisBusy(conn_)) return true;
    const short events = static_cast<short>(POLLIN | (flushed == 1 ? POLLOUT : 0));
    if (Await(events, std::nullopt, true) == Waited::kGivenUp) {
      // The server goes on with the statement until it notices the closed connection; a
      // transaction it was in is rolled back then.
      Disconnect();
      gaveUp_ = "given up waiting for the server's answer";
      return false;
    }
    if (PQconsumeInput(conn_) == 0) return true;
  }
}

PgResult PgConnection::Exchange(bool sent) {
  PgResult last;
  if (!sent) return last;
  while (true) {
    if (!AwaitReply()) return PgResult();
    PGresult* r = PQgetResult(conn_);
    if (r == nullptr) return last;
    last = PgResult(r);
  }
}

int PgConnection::ConnectionFailure(std::string_view what, std::string reason) {
  const std::string message =
      Scrub(reason.empty() ? Trimmed(conn_ ? PQerrorMessage(conn_) : "out of memory")
                           : std::move(reason));
  const bool refused = (conn_ && PQconnectionNeedsPassword(conn_)) ||
                       Mentions(message, {"authentication", "password", "pg_hba.conf",
                                          "permission denied", "role \"", "SSL"});
  Disconnect();
  const int code = refused ? kAccessDenied : kNoFileError;
  SetError(code, {}, "0", std::string(what) + ": " + message);
  return code;
}

int PgConnection::Lost(std::string_view what) {
  const std::string message = conn_ ? Scrub(Trimmed(PQerrorMessage(conn_))) : gaveUp_;
  Disconnect();
  gaveUp_.clear();
  SetError(kFileSystemError, {}, "0",
           std::string(what) + ": the connection to the server was lost: " + message);
  return kFileSystemError;
}

int PgConnection::Fail(const PGresult* result, std::string_view what) {
  if (!Connected()) return Lost(what);
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const std::string sqlstate = state ? state : "";
  const std::string message = Scrub(Trimmed(
      result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : PQerrorMessage(conn_)));
  int code = kDriverError;
  if (sqlstate == "23505") {
    code = kDupKeyError;
  } else if (sqlstate == "42P01" || sqlstate == "3D000") {
    code = kNoFileError;
  } else if (sqlstate == "42501" || sqlstate == "25006" || sqlstate.rfind("28", 0) == 0) {
    code = kAccessDenied;
  } else if (sqlstate.rfind("53", 0) == 0 || sqlstate.rfind("08", 0) == 0 || sqlstate == "57P01" ||
             sqlstate == "57P02" || sqlstate == "57P03") {
    code = kFileSystemError;
  }
  SetError(code, {}, sqlstate.empty() ? "0" : sqlstate, std::string(what) + ": " + message);
  return code;
}

int PgConnection::Run(const std::string& sql, const PgParams& params, PgResult& out,
                      std::string_view what) {
  if (int e = Connect()) return e;
  // One prepared statement per text and parameter types.
  std::string key = sql;
  key += '\x01';
  for (int i = 0; i < params.Count(); ++i)
    key += std::to_string(params.Types()[i]) + ",";
  // A connection made again has no statements prepared, nor any to drop.
  if (prepared_.empty()) unprepare_.clear();
  auto it = prepared_.find(key);
  if (it == prepared_.end()) {
    if (prepared_.size() >= kMaxPrepared) Evict();
    const std::string name = "p" + std::to_string(++prepares_);
    if (int e = PrepareAndRun(name, sql, params, out, what)) return e;
    it = prepared_.emplace(std::move(key), Prepared{name}).first;
  } else {
    CountRoundTrip();
    out =
        Exchange(PQsendQueryPrepared(conn_, it->second.name.c_str(), params.Count(),
                                     params.Values(), params.Lengths(), params.Formats(), 1) == 1);
  }
  it->second.used = ++uses_;
  const ExecStatusType status = out.Status();
  if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) return kNoError;
  const char* state = PQresultErrorField(out.Get(), PG_DIAG_SQLSTATE);
  if (state && std::strcmp(state, "0A000") == 0 && Connected() &&
      PQtransactionStatus(conn_) == PQTRANS_IDLE) {
    // The table's columns changed since the statement was prepared: prepare it again, so
    // that the reply's types are checked against what the driver expects.
    CountRoundTrip();
    Exchange(PQsendQuery(conn_, ("DEALLOCATE " + it->second.name).c_str()) == 1);
    prepared_.erase(it);
    return Run(sql, params, out, what);
  }
  return Fail(out.Get(), what);
}

void PgConnection::Evict() {
  auto oldest = prepared_.begin();
  for (auto it = prepared_.begin(); it != prepared_.end(); ++it) {
    if (it->second.used < oldest->second.used) oldest = it;
  }
  unprepare_.push_back(std::move(oldest->second.name));
  prepared_.erase(oldest);
}

// The statement is prepared and run in one exchange with the server (a pipeline of the
// messages, after those dropping statements evicted from the cache), so that a statement's
// first run costs no extra round trip. The error code when the statement was not prepared;
// otherwise the run's result is left in `out`.
int PgConnection::PrepareAndRun(const std::string& name, const std::string& sql,
                                const PgParams& params, PgResult& out, std::string_view what) {
  CountRoundTrip();
  std::vector<std::string> drops;
  for (const std::string& old : unprepare_)
    drops.push_back("DEALLOCATE " + old);
  bool sent = PQenterPipelineMode(conn_) == 1;
  for (const std::string& drop : drops) {
    sent = sent &&
           PQsendQueryParams(conn_, drop.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
  }
  if (!sent ||
      PQsendPrepare(conn_, name.c_str(), sql.c_str(), params.Count(), params.Types()) != 1 ||
      PQsendQueryPrepared(conn_, name.c_str(), params.Count(), params.Values(), params.Lengths(),
                          params.Formats(), 1) != 1 ||
      PQpipelineSync(conn_) != 1) {
    if (PQpipelineStatus(conn_) != PQ_PIPELINE_OFF) {
      // Nothing was sent that needs an answer read; a connection in a state that cannot
      // leave the pipeline is dropped.
      if (PQexitPipelineMode(conn_) != 1) return Lost(what);
    }
    if (!Connected()) return Lost(what);
    // The client library refused the pipeline: the messages one after the other.
    for (const std::string& drop : drops) {
      if (int e = Exec(drop, what)) return e;
    }
    unprepare_.clear();
    PgResult made = Exchange(
        PQsendPrepare(conn_, name.c_str(), sql.c_str(), params.Count(), params.Types()) == 1);
    if (made.Status() != PGRES_COMMAND_OK) return Fail(made.Get(), what);
    CountRoundTrip();
    out = Exchange(PQsendQueryPrepared(conn_, name.c_str(), params.Count(), params.Values(),
                                       params.Lengths(), params.Formats(), 1) == 1);
    return kNoError;
  }
  // The replies: each drop's, the prepare's, then the run's. A failed drop (in a transaction
  // that failed before) skips the rest: the drops are sent again with the next prepare.
  std::vector<PgResult> replies;
  if (!ReadPipeline(drops.size() + 2, replies)) return Lost(what);
  for (std::size_t i = 0; i < drops.size(); ++i) {
    if (i < replies.size() && replies[i].Status() == PGRES_COMMAND_OK) continue;
    const char* state =
        i < replies.size() ? PQresultErrorField(replies[i].Get(), PG_DIAG_SQLSTATE) : nullptr;
    if (state && std::strcmp(state, "26000") == 0) {
      // A statement to drop that the server does not know: nothing left to drop.
      unprepare_.clear();
      return PrepareAndRun(name, sql, params, out, what);
    }
    return Fail(i < replies.size() ? replies[i].Get() : nullptr, what);
  }
  unprepare_.clear();
  PgResult made = replies.size() > drops.size() ? std::move(replies[drops.size()]) : PgResult();
  if (replies.size() > drops.size() + 1) out = std::move(replies[drops.size() + 1]);
  if (made.Status() != PGRES_COMMAND_OK) return Fail(made.Get(), what);
  return kNoError;
}

bool PgConnection::ReadPipeline(std::size_t expected, std::vector<PgResult>& replies) {
  // Each reply is followed by an end marker, the sync's reply comes last; after a failure the
  // server skips the rest up to the sync, each skipped statement saying so.
  int ends = 0;  // end markers in a row: a broken connection gives nothing else
  while (ends < 3) {
    if (!AwaitReply()) return false;
    PGresult* r = PQgetResult(conn_);
    if (r == nullptr) {
      ++ends;
      if (!Connected()) break;
      continue;
    }
    ends = 0;
    PgResult result(r);
    if (result.Status() == PGRES_PIPELINE_SYNC) return PQexitPipelineMode(conn_) == 1;
    if (replies.size() < expected) replies.push_back(std::move(result));
  }
  return false;
}

int PgConnection::RunOnce(const std::string& sql, const PgParams& params, PgResult& out,
                          std::string_view what, const std::vector<std::string>& before,
                          const std::vector<std::string>& after) {
  if (int e = Connect()) return e;
  CountRoundTrip();
  auto sendPlain = [&](const std::string& command) {
    return PQsendQueryParams(conn_, command.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 0) == 1;
  };
  bool sent = PQenterPipelineMode(conn_) == 1;
  for (const std::string& command : before)
    sent = sent && sendPlain(command);
  sent = sent && PQsendQueryParams(conn_, sql.c_str(), params.Count(), params.Types(),
                                   params.Values(), params.Lengths(), params.Formats(), 1) == 1;
  for (const std::string& command : after)
    sent = sent && sendPlain(command);
  if (!sent || PQpipelineSync(conn_) != 1) {
    if (PQpipelineStatus(conn_) != PQ_PIPELINE_OFF && PQexitPipelineMode(conn_) != 1) {
      return Lost(what);
    }
    if (!Connected()) return Lost(what);
    // The client library refused the pipeline: one statement after the other.
    for (const std::string& command : before) {
      if (int e = Exec(command, what)) return e;
    }
    out = Exchange(PQsendQueryParams(conn_, sql.c_str(), params.Count(), params.Types(),
                                     params.Values(), params.Lengths(), params.Formats(), 1) == 1);
    if (out.Status() != PGRES_TUPLES_OK && out.Status() != PGRES_COMMAND_OK) {
      return Fail(out.Get(), what);
    }
    for (const std::string& command : after) {
      if (int e = Exec(command, what)) return e;
    }
    return kNoError;
  }
  // One reply per statement.
  const std::size_t expected = before.size() + 1 + after.size();
  std::vector<PgResult> replies;
  if (!ReadPipeline(expected, replies) || replies.size() != expected) return Lost(what);
  for (PgResult& reply : replies) {
    if (reply.Status() != PGRES_TUPLES_OK && reply.Status() != PGRES_COMMAND_OK) {
      return Fail(reply.Get(), what);
    }
  }
  out = std::move(replies[before.size()]);
  return kNoError;
}

int PgConnection::Exec(const std::string& sql, std::string_view what) {
  if (int e = Connect()) return e;
  CountRoundTrip();
  PgResult r = Exchange(PQsendQuery(conn_, sql.c_str()) == 1);
  const ExecStatusType status = r.Status();
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) return Fail(r.Get(), what);
  return kNoError;
}

std::uint64_t PgConnection::RoundTrips() {
  return gRoundTrips.load(std::memory_order_relaxed);
}

std::uint64_t PgConnection::Connections() {
  return gConnections.load(std::memory_order_relaxed);
}

int PgConnection::TakeNotifications() {
  if (!Connected() || PQconsumeInput(conn_) == 0) return 0;
  return TakeReceivedNotifications();
}

int PgConnection::TakeReceivedNotifications() {
  if (!conn_) return 0;
  int others = 0;
  const int self = PQbackendPID(conn_);
  while (PGnotify* n = PQnotifies(conn_)) {
    // The payload is the backend that wrote (the notifying one is our writer connection).
    if (n->be_pid != self) ++others;
    PQfreemem(n);
  }
  return others;
}

}  // namespace rt
