// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/error/ErrorLog.h"

#include <utility>

#include "framework/error/CriticalSectionGuard.h"
#include "framework/error/ErrorLevel.h"
#include "platform/runtime/values/Picture.h"

ErrorLog::ErrorLog(std::string fileName) : file_(std::move(fileName), kErrorLogLineLength) {}

ErrorLog::~ErrorLog() {
  Close(1);
}

std::uint8_t ErrorLog::Close(std::uint8_t force) {
  CriticalSectionGuard guard(CritSect);
  if (Usage == 1 || force != 0) {
    if (!file_.Close()) return LevelNotify;
    Usage = 1;
  }
  // A Close without a matching Open (the manager closes even after a failed Open) must not
  // drive the count below zero, or later opens would never reach the file again.
  if (Usage > 0) --Usage;
  return LevelQuiet;
}

std::uint8_t ErrorLog::Open(std::uint8_t force) {
  CriticalSectionGuard guard(CritSect);
  if (Usage == 0 || force != 0) {
    if (!file_.Open()) return LevelNotify;
  }
  ++Usage;
  return LevelQuiet;
}

std::uint8_t ErrorLog::Take(std::string_view line) {
  CriticalSectionGuard guard(CritSect);
  if (Usage == 0 || !file_.IsOpen()) return LevelNotify;
  return file_.Append(line) ? LevelQuiet : LevelNotify;
}

std::string ErrorLog::Stamp() {
  std::int32_t day = rt::Today();
  std::int32_t time = rt::Clock();
  // Midnight passed between the two readings: take the time again so both are of one day.
  if (const std::int32_t again = rt::Today(); again != day) {
    day = again;
    time = rt::Clock();
  }
  return rt::FormatPicture(std::to_string(day), "D17") + "@" +
         rt::FormatPicture(std::to_string(time), "T8");
}
