// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/runtime/threads/ErrorState.h"

#include "platform/runtime/threads/ErrorCodes.h"

#include <memory>
#include <mutex>
#include <vector>

namespace rt {

namespace {

// Objects destroyed at thread or process exit (a global manager closing its files) may still
// report errors after the thread's own state is gone. Such a thread gets a state of its own
// that is never destroyed, so it touches neither freed memory nor another thread's state.
// These states are kept in one list (reachable, never freed); a thread adds at most one.
thread_local bool tStateGone = false;
thread_local ErrorState* tAfterExit = nullptr;
// The state Mine() returns once it was found: a plain pointer is read without the guard a
// thread-local object needs, and every successful operation clears the state.
thread_local ErrorState* tCurrent = nullptr;

struct ThreadErrorState {
  ErrorState state;
  ~ThreadErrorState() {
    tStateGone = true;
    tCurrent = nullptr;
  }
};

ErrorState& AfterExitState() {
  if (tAfterExit == nullptr) {
    static std::mutex mutex;
    static auto* const states =
        std::make_unique<std::vector<std::unique_ptr<ErrorState>>>().release();
    std::lock_guard lock(mutex);
    tAfterExit = states->emplace_back(std::make_unique<ErrorState>()).get();
  }
  return *tAfterExit;
}

ErrorState& Attach() {
  thread_local ThreadErrorState mine;
  tCurrent = tStateGone ? &AfterExitState() : &mine.state;
  return *tCurrent;
}

inline ErrorState& Mine() {
  if (ErrorState* s = tCurrent) return *s;
  return Attach();
}

}  // namespace

const ErrorState& LastError() {
  return Mine();
}
int ErrorCode() {
  return Mine().code;
}
const std::string& ErrorText() {
  return Mine().text;
}
const std::string& FileErrorCode() {
  return Mine().driverCode;
}
const std::string& FileErrorText() {
  return Mine().driverText;
}

void SetError(int code, std::string_view text, std::string_view driverCode,
              std::string_view driverText) {
  ErrorState& e = Mine();
  e.code = code;
  // Assigned in place: the strings keep their storage, as every successful call clears them.
  if (text.empty()) {
    e.text = StandardErrorText(code);
  } else {
    e.text.assign(text);
  }
  e.driverCode.assign(driverCode.empty() ? std::string_view("0") : driverCode);
  e.driverText.assign(driverText);
}

void ClearError() {
  ErrorState& e = Mine();
  // Most calls find it clear already: every successful operation clears it.
  if (e.code == kNoError && e.text.empty() && e.driverText.empty() && e.driverCode.size() == 1 &&
      e.driverCode[0] == '0') {
    return;
  }
  e.code = kNoError;
  e.text.clear();
  e.driverCode.assign("0");
  e.driverText.clear();
}

std::string StandardErrorText(int code) {
  switch (code) {
    case kNoError:
      return {};
    case kNoFileError:
      return "File Not Found";
    case kAccessDenied:
      return "Access Denied";
    case kFileSystemError:
      return "Insufficient Memory or Disk Error";
    case kNoRecordError:
      return "Record Not Available";
    case kRecordNotFoundError:
      return "Record Not Found";
    case kBadNameError:
      return "Invalid Filename";
    case kFileNotOpenError:
      return "File Not Open";
    case kDupKeyError:
      return "Creates Duplicate Key";
    case kRecordHeldError:
      return "Record Is Already Held";
    case kInvalidKeyError:
      return "Invalid Key";
    case kBadFileError:
      return "Invalid File Structure";
    case kIsOpenError:
      return "File Is Already Open";
    case kNoDriverError:
      return "Function Not Supported";
    case kRecordChangedError:
      return "Record Changed By Another Station";
    case kDriverError:
      return "File Driver Error";
    case kThreadRegistrationError:
      return "Thread-instanced Variable Used During Registration";
    case kExpressionSyntaxError:
      return "Invalid Expression";
    case kExpressionEvalError:
      return "Expression Evaluation Error";
    case kOperationStopped:
      return "Operation Stopped";
    default:
      return "Error " + std::to_string(code);
  }
}

}  // namespace rt
