#include "framework/error/LogFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

LogFile::LogFile(std::string name) : name_(std::move(name)) {}

LogFile::~LogFile() {
  Close();
}

bool LogFile::Open() {
  if (IsOpen()) return true;
  int fd;
  do {
    fd = ::open(name_.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  fd_ = fd;
  return true;
}

bool LogFile::Append(std::string_view line) {
  if (!IsOpen()) return false;
  std::string record;
  record.reserve(line.size() + 1);
  for (char c : line)
    record.push_back(c == '\n' || c == '\r' ? ' ' : c);
  record.push_back('\n');
  // O_APPEND positions every write at the end; one write per line keeps lines whole.
  std::size_t done = 0;
  while (done < record.size()) {
    ssize_t n = ::write(fd_, record.data() + done, record.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool LogFile::Close() {
  if (!IsOpen()) return true;
  int fd = std::exchange(fd_, -1);
  return ::close(fd) == 0;
}
