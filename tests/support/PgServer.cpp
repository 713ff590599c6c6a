// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/PgServer.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace testing_support {

namespace fs = std::filesystem;

namespace {

constexpr const char* kUser = "pgtest";

std::string Quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// Runs a server program as the user it may run as.
std::string AsServerUser(const std::string& command) {
  if (::geteuid() != 0) return command;
  return "runuser -u postgres -- " + command;
}

}  // namespace

std::string PgServer::BinDir() {
  std::vector<fs::path> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    if (fs::exists(entry.path() / "bin" / "initdb") && fs::exists(entry.path() / "bin" / "pg_ctl"))
      found.push_back(entry.path() / "bin");
  }
  if (found.empty()) return {};
  std::sort(found.begin(), found.end());
  return found.back().string();
}

PgServer::PgServer(std::string folder) : folder_(std::move(folder)) {}

PgServer::~PgServer() {
  if (owned_) Remove();
}

bool PgServer::Run(const std::string& command) const {
  return std::system((command + " >>" + Quoted(folder_ + "/server.log") + " 2>&1").c_str()) == 0;
}

bool PgServer::Start(std::string* why) {
  const std::string bin = BinDir();
  if (bin.empty()) {
    if (why) *why = "no database server programs installed (/usr/lib/postgresql/*/bin)";
    return false;
  }
  if (folder_.empty()) {
    std::string pattern = (fs::temp_directory_path() / "pgtest-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return false;
    folder_ = pattern;
    owned_ = true;
  }
  if (::geteuid() == 0) {
    const passwd* user = ::getpwnam("postgres");
    if (!user) {
      if (why) *why = "running as root, and there is no postgres user to run the server as";
      return false;
    }
    if (::chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0) return false;
  }
  const std::string data = folder_ + "/data";
  if (!fs::exists(data + "/PG_VERSION") &&
      !Run(AsServerUser(bin + "/initdb -D " + Quoted(data) + " -A trust -U " + kUser +
                        " -E SQL_ASCII --locale=C --no-sync"))) {
    if (why) *why = "initdb failed (see " + folder_ + "/server.log)";
    return false;
  }
  const std::string options = "-k " + folder_ +
                              " -c listen_addresses='' -c fsync=off -c full_page_writes=off "
                              "-c synchronous_commit=off -c max_connections=60";
  if (!Run(AsServerUser(bin + "/pg_ctl -D " + Quoted(data) + " -w -t 60 -l " +
                        Quoted(folder_ + "/postgres.log") + " -o " + Quoted(options) + " start"))) {
    if (why) *why = "the server did not start (see " + folder_ + "/postgres.log)";
    return false;
  }
  return true;
}

bool PgServer::Stop() {
  const std::string bin = BinDir();
  return !bin.empty() &&
         Run(AsServerUser(bin + "/pg_ctl -D " + Quoted(folder_ + "/data") + " -m fast -w stop"));
}

void PgServer::Remove() {
  if (folder_.empty()) return;
  Stop();
  std::error_code ec;
  fs::remove_all(folder_, ec);
  folder_.clear();
}

bool PgServer::MakeDatabase(std::string* why) {
  const std::string name = "t" + std::to_string(::getpid());
  const std::string admin = "host=" + folder_ + " user=" + kUser + " dbname=postgres";
  std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(admin.c_str()), PQfinish);
  if (PQstatus(conn.get()) != CONNECTION_OK) {
    if (why) *why = std::string("cannot connect to the test server: ") + PQerrorMessage(conn.get());
    return false;
  }
  PQclear(PQexec(conn.get(), ("DROP DATABASE IF EXISTS " + name).c_str()));
  PGresult* made = PQexec(conn.get(), ("CREATE DATABASE " + name).c_str());
  const bool ok = PQresultStatus(made) == PGRES_COMMAND_OK;
  PQclear(made);
  if (!ok) {
    if (why) *why = "cannot make a database on the test server";
    return false;
  }
  conninfo_ = "host=" + folder_ + " user=" + kUser + " dbname=" + name;
  return true;
}

bool PgServer::Exec(const std::string& sql, std::string* error) const {
  std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(conninfo_.c_str()), PQfinish);
  PQsetNoticeProcessor(
      conn.get(), [](void*, const char*) {}, nullptr);
  PGresult* r = PQexec(conn.get(), sql.c_str());
  const ExecStatusType status = PQresultStatus(r);
  const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
  if (!ok && error) *error = PQerrorMessage(conn.get());
  PQclear(r);
  return ok;
}

PgServer* PgServer::Shared(std::string* why) {
  struct Holder {
    std::unique_ptr<PgServer> server;
    std::string why;
    pid_t owner = ::getpid();
    Holder() {
      const char* folder = std::getenv("PGSTORE_TEST_SERVER");
      auto made = std::make_unique<PgServer>(folder ? folder : "");
      if (!folder && !made->Start(&why)) return;
      if (!made->MakeDatabase(&why)) return;
      server = std::move(made);
    }
    ~Holder() {
      // A forked child (another station in a test) leaves the parent's server alone.
      if (::getpid() != owner && server) server->owned_ = false;
    }
  };
  static Holder holder;
  if (why) *why = holder.why;
  return holder.server.get();
}

}  // namespace testing_support
