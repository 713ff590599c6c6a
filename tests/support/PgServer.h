// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A private database server for the tests: made with initdb in a fresh folder, listening on a
// Unix socket in that folder only (no TCP port), without fsync, and removed with the folder
// when stopped. As root (the server refuses to run as root) its programs run as the
// "postgres" system user, who owns the folder.
//
// A test run shares one server: the CTest fixture starts it (`pg_test_server start DIR`) and
// names its folder in PGSTORE_TEST_SERVER; a test binary run by hand starts its own on first
// use. Each test process works in a database of its own.

#include <string>

namespace testing_support {

class PgServer {
 public:
  // The run's server with a fresh database for this process, or nullptr (and why) when there
  // is none: no server programs installed, or the server did not start.
  static PgServer* Shared(std::string* why = nullptr);

  // A server in `folder` (made when empty); Start makes and starts it.
  explicit PgServer(std::string folder = {});
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  bool Start(std::string* why = nullptr);
  // Stops the server, ending every session at once (open connections break, committed data
  // stays); the folder stays for a Start.
  bool Stop();
  // Stops the server and removes its folder.
  void Remove();
  const std::string& Folder() const { return folder_; }

  // The connection string for the process's own database.
  const std::string& Conninfo() const { return conninfo_; }
  // Runs SQL on the process's database (behind the drivers' backs); false on failure.
  bool Exec(const std::string& sql, std::string* error = nullptr) const;
  // Empties the process's database (every table dropped).
  bool Clear() const { return Exec("DROP SCHEMA public CASCADE; CREATE SCHEMA public"); }

  // Makes a fresh database for this process on the running server (Conninfo names it).
  bool MakeDatabase(std::string* why = nullptr);

  // The folder holding the server programs ("" when not installed).
  static std::string BinDir();

 private:
  bool Run(const std::string& command) const;

  std::string folder_;
  std::string conninfo_;
  bool owned_ = false;  // this object made the folder and removes it
};

}  // namespace testing_support
