#pragma once
// A text file that lines are appended to: created when missing, opened for reading and
// writing without locking other processes out, each line written with one append so that
// lines from several writers never interleave.

#include <string>
#include <string_view>

class LogFile {
 public:
  explicit LogFile(std::string name);
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;
  ~LogFile();

  // Creates the file when missing and opens it. True on success (also when already open).
  bool Open();
  // Appends the line and a line end. Line breaks inside the line become blanks so that one
  // call always gives exactly one line. False when not open or the write failed.
  bool Append(std::string_view line);
  // Closes the file. False when closing failed (the file counts as closed anyway).
  bool Close();
  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Name() const { return name_; }

 private:
  std::string name_;
  int fd_ = -1;
};
