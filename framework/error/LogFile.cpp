// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/error/LogFile.h"

#include <utility>

#include "framework/error/TextCut.h"
#include "platform/runtime/threads/ErrorState.h"
#include "platform/runtime/values/RecordLayout.h"

namespace {

rt::RecordLayout LineLayout(std::uint32_t lineLength) {
  rt::RecordLayout layout("LogLine");
  layout.AddField("LOG:Line", rt::FieldType::String, lineLength);
  return layout;
}

// Writing the log must not change the error state of the thread that reports an error.
class KeepThreadError {
 public:
  KeepThreadError() : saved_(rt::LastError()) {}
  KeepThreadError(const KeepThreadError&) = delete;
  KeepThreadError& operator=(const KeepThreadError&) = delete;
  ~KeepThreadError() {
    rt::SetError(saved_.code, saved_.text, saved_.driverCode, saved_.driverText);
  }

 private:
  rt::ErrorState saved_;
};

}  // namespace

LogFile::LogFile(std::string name, std::uint32_t lineLength)
    : name_(std::move(name)),
      lineLength_(lineLength),
      file_("LOGFILE", "LOG", "TEXT", LineLayout(lineLength)) {
  file_.SetName(name_);
}

LogFile::~LogFile() {
  Close();
}

bool LogFile::IsOpen() const {
  std::lock_guard lock(mutex_);
  return file_.IsOpen();
}

bool LogFile::Open() {
  std::lock_guard lock(mutex_);
  if (file_.IsOpen()) return true;
  KeepThreadError keep;
  // Creating on open (never truncating) lets several processes start the same log safely.
  if (file_.Send("CREATE=on") != rt::kNoError) return false;
  return file_.Open(rt::kAccessReadWrite | rt::kShareDenyNone) == rt::kNoError;
}

bool LogFile::Append(std::string_view line) {
  std::lock_guard lock(mutex_);
  if (!file_.IsOpen()) return false;
  KeepThreadError keep;
  std::string text(CutText(line, lineLength_));
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  rt::WriteText(file_.Layout().Field(1), file_.Record(), text);
  return file_.Add() == rt::kNoError;
}

bool LogFile::Close() {
  std::lock_guard lock(mutex_);
  if (!file_.IsOpen()) return true;
  KeepThreadError keep;
  return file_.Close() == rt::kNoError;
}
