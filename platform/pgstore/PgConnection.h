// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One connection to the server, owned: statements are prepared once per connection and run
// with their parameters; every failure becomes a runtime error code with the server's text
// (never the connection string's password). A connection the server dropped is made again by
// the next Connect.
//
// Nothing waits for the server without a way out: a connect gives up after the connection
// string's connect_timeout (kDefaultConnectTimeout seconds when it names none; 0 waits without
// a bound; a connect within a few seconds after one timed out fails the same way without
// waiting again), and a connect or a reply being waited for is given up when the connection's
// interrupt says so (SetInterrupt; by default when the runtime thread waiting is asked to close
// down, a reply after a short grace). Unless the connection string says otherwise, TCP
// keepalives notice within about a minute that a server went away while the connection idled,
// and data unacknowledged for 30 s breaks the connection.
//
// Error codes, as STORE gives them for the same situation with a local file:
//   2  (file not found)  the server cannot be reached, or the database or table is missing;
//   5  (access denied)   the server refuses the user (authentication, privileges, read-only);
//   8  (read error)      the connection broke during an operation;
//   40 (duplicate key)   a unique index refused a write;
//   90 (driver error)    anything else, with the server's SQLSTATE as the driver's code.

#include <libpq-fe.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/pgstore/PgParams.h"
#include "platform/pgstore/PgResult.h"
#include "platform/runtime/threads/ErrorCodes.h"

namespace rt {

class PgConnection {
 public:
  // How long a connect waits when the connection string names no connect_timeout.
  static constexpr int kDefaultConnectTimeout = 10;

  explicit PgConnection(std::string conninfo);
  ~PgConnection();
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  // Waits for the server give up at once when `stop` returns true; it is asked every tenth
  // of a second and whenever `wakeFd` (non-blocking, drained here) becomes readable.
  void SetInterrupt(int wakeFd, std::function<bool()> stop);

  // Connects unless connected; the error code.
  int Connect();
  void Disconnect();
  bool Connected() const;
  // The backend serving this connection (0 when none): notifications it sent are its own.
  int BackendPid() const;
  int Socket() const;
  PGconn* Get() const { return conn_; }

  // Runs a statement with parameters in one round trip (prepared on first use); binary
  // results. The error code (the thread's error set on failure). At most kMaxPrepared
  // statements stay prepared: the one used least recently is dropped on the server in the
  // exchange that prepares a new one.
  int Run(const std::string& sql, const PgParams& params, PgResult& out, std::string_view what);
  // Runs a statement with parameters once, unprepared (binary results), in one round trip
  // with the statements without parameters or results `before` and `after` it (settings, a
  // LISTEN), in one implicit transaction unless inside one. The error code of the first
  // statement that failed (the ones after it do not run).
  int RunOnce(const std::string& sql, const PgParams& params, PgResult& out, std::string_view what,
              const std::vector<std::string>& before = {},
              const std::vector<std::string>& after = {});
  // Runs a statement without parameters or results (BEGIN, COMMIT, DDL).
  int Exec(const std::string& sql, std::string_view what);

  // Reads what the server sent meanwhile without waiting; the number of notifications that
  // came from other backends.
  int TakeNotifications();
  // The same of the notifications already received (along with replies), without reading
  // from the server.
  int TakeReceivedNotifications();

  // The exchanges with the server made so far by every connection of the process (each
  // statement sent and its reply; a connection made counts in Connections()): a benchmark's
  // count of round trips per action.
  static std::uint64_t RoundTrips();
  static std::uint64_t Connections();

  // Sets the thread's error for a failed result; the error code.
  int Fail(const PGresult* result, std::string_view what);
  // A text with the connection string's password (if any) blanked out.
  std::string Scrub(std::string text) const;

 private:
  int PrepareAndRun(const std::string& name, const std::string& sql, const PgParams& params,
                    PgResult& out, std::string_view what);
  enum class Waited { kReady, kTimedOut, kGivenUp };

  PGconn* StartConnect() const;
  // The server being connected to, for a failure's text.
  std::string ServerNamed() const;
  // The connect's bound: the connection string's connect_timeout, or the default.
  std::optional<std::chrono::seconds> ConnectTimeout() const;
  // Waits until the socket is ready for `events`, the deadline passes, or the wait is given
  // up (`replying`: the default interrupt grants a reply a grace first).
  Waited Await(short events, std::optional<std::chrono::steady_clock::time_point> deadline,
               bool replying);
  bool StopRequested() const;
  // Sends what is buffered and waits until a reply can be read without blocking; false
  // when the wait was given up (the connection is then dropped).
  bool AwaitReply();
  // The reply to what was just sent (`sent`: sending succeeded), as a blocking exchange gives
  // it: the last result, null when nothing was sent or the wait was given up.
  PgResult Exchange(bool sent);
  int ConnectionFailure(std::string_view what, std::string reason = {});
  int Lost(std::string_view what);
  // Reads a pipeline's replies up to its sync, keeping at most `expected` of them in order,
  // and leaves pipeline mode; false when the connection broke first.
  bool ReadPipeline(std::size_t expected, std::vector<PgResult>& replies);

  std::string conninfo_;
  std::string password_;  // blanked out of every message
  PGconn* conn_ = nullptr;
  struct Prepared {
    std::string name;
    std::uint64_t used = 0;  // uses_ at its last run
  };
  static constexpr std::size_t kMaxPrepared = 100;
  // Makes room for one more prepared statement: the name of the one dropped goes to
  // unprepare_.
  void Evict();
  std::unordered_map<std::string, Prepared> prepared_;  // statement key -> statement
  std::vector<std::string> unprepare_;  // prepared statements to drop with the next prepare
  std::uint64_t prepares_ = 0;          // statements prepared, naming them
  std::uint64_t uses_ = 0;
  int wakeFd_ = -1;
  std::function<bool()> stop_;
  std::string gaveUp_;  // why the last wait was given up, for the failure's text
};

}  // namespace rt
