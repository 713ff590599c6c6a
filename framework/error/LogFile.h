// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A text file that lines are appended to, through the runtime's TEXT driver: created when
// missing, opened without locking other processes out, each line written with one append so
// that lines from several threads or processes never interleave.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/runtime/files/File.h"

class LogFile {
 public:
  // Lines longer than lineLength bytes are cut (never inside a multi-byte character).
  LogFile(std::string name, std::uint32_t lineLength);
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  ~LogFile();

  // Creates the file when missing and opens it. True on success (also when already open).
  bool Open();
  // Appends the line and a line end. Line breaks inside the line become blanks so that one
  // call always gives exactly one line; trailing blanks are dropped. False when not open or
  // the write failed.
  bool Append(std::string_view line);
  // Closes the file. False when closing failed (the file counts as closed anyway).
  bool Close();
  bool IsOpen() const;
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  std::uint32_t lineLength_;
  // Guards the record buffer between filling it and appending it.
  mutable std::mutex mutex_;
  rt::File file_;
};
