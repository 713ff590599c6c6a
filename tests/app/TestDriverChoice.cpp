// SPDX-License-Identifier: GPL-3.0-or-later
// The application's table on the test run's driver: under PAGELET_TEST_DRIVER=PGSTORE the
// scenarios run with the table on the test server, as a [Table] section would put it.

#include "app/DemoData.h"
#include "support/TestDriver.h"

namespace {

[[maybe_unused]] const bool kChosen = [] {
  ChooseDemoDataDriver(testing_support::TestDriver());
  return true;
}();

}  // namespace
