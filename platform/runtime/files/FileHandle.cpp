#include "platform/runtime/files/FileHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

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
  SetError(code, {}, std::to_string(error), std::string(what) + ": " + std::strerror(error));
  return code;
}

int FileHandle::Open(const std::string& path, int flags, int permissions) {
  Close();
  do {
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC, permissions);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) return FromErrno(errno, path);
  struct stat st {};
  if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    Close();
    return FromErrno(EISDIR, path);
  }
  ClearError();
  return kNoError;
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
