// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An owned POSIX file descriptor for the raw and text drivers, with the mapping of system
// errors to runtime error codes.

#include <cstdint>
#include <string>
#include <string_view>

namespace rt {

class FileHandle {
 public:
  FileHandle() = default;
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  // Opens with open(2) flags; returns the runtime error code (error state set). Only regular
  // files are opened: a directory, named pipe, socket or device gives 5 (access denied)
  // without ever blocking, a name holding a NUL gives 36, and a file the process holds locks
  // on as a table (see LockedFileRegistry) gives 5 without being opened.
  int Open(const std::string& path, int flags, int permissions = 0644);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Fd() const { return fd_; }

  // Reads up to `length` bytes at `offset` (retrying short reads); `got` is the count.
  int ReadAt(std::int64_t offset, void* destination, std::size_t length, std::size_t& got);
  // Writes all bytes at `offset`, or appends when offset is negative.
  int WriteAt(std::int64_t offset, const void* source, std::size_t length);
  int Size(std::int64_t& bytes);

  // Sets the thread's error from errno and returns the runtime code: 2 not found,
  // 5 permission, 8 disk or I/O failure, 90 anything else (with the system text).
  static int FromErrno(int error, std::string_view what);
  // 36 (error state set) when a file name holds a NUL character, which the system would
  // take as the end of the name; 0 otherwise.
  static int CheckName(std::string_view path);

 private:
  static int NotRegular(const std::string& path, std::string_view what);

  int fd_ = -1;
};

}  // namespace rt
