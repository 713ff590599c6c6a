// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The standard error log: "OrvError.Log" in the working directory, one line per message,
// written through the runtime's TEXT driver.
// Opens nest: the file is opened by the first Open and closed by the Close that ends the
// last one.

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/error/ErrorLogInterface.h"
#include "framework/error/LogFile.h"
#include "platform/runtime/threads/Threads.h"

inline constexpr char kErrorLogFileName[] = "OrvError.Log";
// Longest line the log keeps; longer lines are cut.
inline constexpr std::size_t kErrorLogLineLength = 1024;

class ErrorLog : public ErrorLogInterface {
 public:
  rt::CriticalSection* CritSect = nullptr;  // none turns locking off
  std::int32_t Usage = 0;                   // outstanding opens

  explicit ErrorLog(std::string fileName = kErrorLogFileName);
  ErrorLog(const ErrorLog&) = delete;
  ErrorLog& operator=(const ErrorLog&) = delete;
  // Closes the file for good.
  ~ErrorLog() override;

  std::uint8_t Close(std::uint8_t force) override;
  std::uint8_t Open(std::uint8_t force) override;
  std::uint8_t Take(std::string_view line) override;

  // The date and time that start a log line: "yyyy-mm-dd@hh:mm:ss" on the local clock.
  static std::string Stamp();

  bool IsFileOpen() const { return file_.IsOpen(); }

 private:
  LogFile file_;
};
