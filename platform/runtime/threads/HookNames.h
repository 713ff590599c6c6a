// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The names of the registered start-up hook sets, in registration order: process start and
// thread start run them in this order, thread end and process end in reverse.

#include <string>
#include <vector>

namespace rt {

std::vector<std::string> RegisteredHookNames();

}  // namespace rt
