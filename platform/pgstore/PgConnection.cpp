// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/pgstore/PgConnection.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/runtime/threads/ErrorState.h"

namespace rt {

namespace {

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

int PgConnection::Connect() {
  if (Connected()) return kNoError;
  Disconnect();
  gConnections.fetch_add(1, std::memory_order_relaxed);
  conn_ = PQconnectdb(conninfo_.c_str());
  if (!Connected()) return ConnectionFailure("connect");
  // Notices (an identifier shortened, a table already there) are not errors.
  PQsetNoticeProcessor(
      conn_, [](void*, const char*) {}, nullptr);
  return kNoError;
}

int PgConnection::ConnectionFailure(std::string_view what) {
  const std::string message = Scrub(Trimmed(conn_ ? PQerrorMessage(conn_) : "out of memory"));
  const bool refused = (conn_ && PQconnectionNeedsPassword(conn_)) ||
                       Mentions(message, {"authentication", "password", "pg_hba.conf",
                                          "permission denied", "role \"", "SSL"});
  Disconnect();
  const int code = refused ? kAccessDenied : kNoFileError;
  SetError(code, {}, "0", std::string(what) + ": " + message);
  return code;
}

int PgConnection::Lost(std::string_view what) {
  const std::string message = Scrub(Trimmed(conn_ ? PQerrorMessage(conn_) : ""));
  Disconnect();
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
    out = PgResult(PQexecPrepared(conn_, it->second.name.c_str(), params.Count(), params.Values(),
                                  params.Lengths(), params.Formats(), 1));
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
    PQclear(PQexec(conn_, ("DEALLOCATE " + it->second.name).c_str()));
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
    PgResult made(PQprepare(conn_, name.c_str(), sql.c_str(), params.Count(), params.Types()));
    if (made.Status() != PGRES_COMMAND_OK) return Fail(made.Get(), what);
    CountRoundTrip();
    out = PgResult(PQexecPrepared(conn_, name.c_str(), params.Count(), params.Values(),
                                  params.Lengths(), params.Formats(), 1));
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
    out = PgResult(PQexecParams(conn_, sql.c_str(), params.Count(), params.Types(), params.Values(),
                                params.Lengths(), params.Formats(), 1));
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
  PgResult r(PQexec(conn_, sql.c_str()));
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
