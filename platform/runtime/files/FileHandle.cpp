// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/files/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "platform/runtime/files/LockedFileRegistry.h"
#include "platform/runtime/threads/ErrnoText.h"
#include "platform/runtime/threads/ErrorCodes.h"
#include "platform/runtime/threads/ErrorState.h"

namespace rt {

int FileHandle::FromErrno(int error, std::string_view what) {
  int code = kDriverError;
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      code = kNoFileError;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      code = kAccessDenied;
      break;
    case ENOSPC:
    case EDQUOT:
    case EIO:
    case ENOMEM:
    case EFBIG:
      code = kFileSystemError;
      break;
    default:
      break;
  }
  SetError(code, {}, std::to_string(error), std::string(what) + ": " + ErrnoText(error));
  return code;
}

int FileHandle::CheckName(std::string_view path) {
  if (path.find('\0') == std::string_view::npos) return kNoError;
  // The system would read the name only up to the NUL: another file than the one named.
  SetError(kBadNameError, "Invalid Filename: the name holds a NUL character");
  return kBadNameError;
}

int FileHandle::Open(const std::string& path, int flags, int permissions) {
  Close();
  if (int e = CheckName(path)) return e;
  // Opening (and later closing) a table's file would drop this process's locks on it.
  if (int e = LockedFileRegistry::Refuse(path)) return e;
  // Opened without blocking, so that a FIFO or a device picked by mistake cannot hang the
  // thread in open(); anything but a regular file is refused before it is used.
  do {
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, permissions);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    // A FIFO opened for writing without a reader.
    if (errno == ENXIO) return NotRegular(path, "a named pipe or a device");
    return FromErrno(errno, path);
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    const int error = errno;
    Close();
    return FromErrno(error, path);
  }
  if (S_ISDIR(st.st_mode)) {
    Close();
    return FromErrno(EISDIR, path);
  }
  if (!S_ISREG(st.st_mode)) {
    Close();
    return NotRegular(path, S_ISFIFO(st.st_mode)   ? "a named pipe"
                            : S_ISSOCK(st.st_mode) ? "a socket"
                                                   : "a device");
  }
  // Plain files do not block anyway; clear the flag so reads and writes behave as usual.
  if (!(flags & O_NONBLOCK)) {
    const int current = ::fcntl(fd_, F_GETFL);
    if (current < 0 || ::fcntl(fd_, F_SETFL, current & ~O_NONBLOCK) != 0) {
      const int error = errno;
      Close();
      return FromErrno(error, path);
    }
  }
  ClearError();
  return kNoError;
}

int FileHandle::NotRegular(const std::string& path, std::string_view what) {
  SetError(kAccessDenied, "Access Denied: " + path + " is " + std::string(what) + ", not a file",
           "0", "not a regular file");
  return kAccessDenied;
}

void FileHandle::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int FileHandle::ReadAt(std::int64_t offset, void* destination, std::size_t length,
                       std::size_t& got) {
  got = 0;
  auto* out = static_cast<char*>(destination);
  while (got < length) {
    const ssize_t n = ::pread(fd_, out + got, length - got, static_cast<off_t>(offset + got));
    if (n < 0) {
      if (errno == EINTR) continue;
      return FromErrno(errno, "read");
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ClearError();
  return kNoError;
}

int FileHandle::WriteAt(std::int64_t offset, const void* source, std::size_t length) {
  const auto* in = static_cast<const char*>(source);
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n =
        offset < 0 ? ::write(fd_, in + done, length - done)
                   : ::pwrite(fd_, in + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return FromErrno(errno, "write");
    }
    done += static_cast<std::size_t>(n);
  }
  ClearError();
  return kNoError;
}

int FileHandle::Size(std::int64_t& bytes) {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return FromErrno(errno, "stat");
  bytes = st.st_size;
  ClearError();
  return kNoError;
}

}  // namespace rt
