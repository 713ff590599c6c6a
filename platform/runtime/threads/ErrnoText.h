// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The system's text for an errno value. Unlike std::strerror it shares no buffer between
// threads, so any thread may call it at any time.

#include <string.h>

#include <string>

namespace rt {

inline std::string ErrnoText(int error) {
  char buffer[256] = {};
  // The GNU strerror_r answers with the text: in the buffer or in a constant string.
  return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace rt
