// SPDX-License-Identifier: GPL-3.0-or-later
// Starts or stops the test run's database server (the CTest fixture around the tests that
// use it): pg_test_server start|stop FOLDER. Without server programs it starts nothing and the
// tests that need one skip, saying why.
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "support/PgServer.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pg_test_server start|stop FOLDER\n");
    return 2;
  }
  testing_support::PgServer server(argv[2]);
  // A server left behind by an interrupted run goes first.
  if (std::filesystem::exists(argv[2])) server.Remove();
  if (std::strcmp(argv[1], "stop") == 0) return 0;
  testing_support::PgServer fresh(argv[2]);
  std::filesystem::create_directories(argv[2]);
  std::string why;
  if (testing_support::PgServer::BinDir().empty()) {
    std::printf("no database server installed: the tests that need one skip\n");
    return 0;
  }
  if (!fresh.Start(&why)) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return 1;
  }
  return 0;
}
