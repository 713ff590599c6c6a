// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The table driver the scenario tests run on: STORE, or PGSTORE on the test run's database
// server when PAGELET_TEST_DRIVER=PGSTORE (the test run registers the scenario suites once
// for each driver).

#include <string>

namespace testing_support {

// The driver's name; for PGSTORE the driver is registered on the process's database (empty
// when there is no server: the table will not open and the test reports why).
std::string TestDriver();
bool OnServer();
// Gives the test a fresh table store: on the server, an emptied database (on STORE the test's
// own working folder is fresh already).
void FreshTables();

}  // namespace testing_support
