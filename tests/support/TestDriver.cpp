// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TestDriver.h"

#include <cstdlib>

#include "platform/pgstore/PgStore.h"
#include "platform/store/Store.h"
#include "support/PgServer.h"

namespace testing_support {

bool OnServer() {
  const char* driver = std::getenv("PAGELET_TEST_DRIVER");
  return driver && std::string(driver) == rt::kPgDriverName;
}

std::string TestDriver() {
  if (!OnServer()) return rt::kStoreDriverName;
  const PgServer* server = PgServer::Shared();
  if (server) rt::RegisterPgDriver(server->Conninfo());
  return rt::kPgDriverName;
}

void FreshTables() {
  if (!OnServer()) return;
  if (const PgServer* server = PgServer::Shared()) static_cast<void>(server->Clear());
}

}  // namespace testing_support
