#include "platform/runtime/ErrorState.h"

#include "platform/runtime/ErrorCodes.h"

namespace rt {

namespace {
thread_local ErrorState tError;
}

const ErrorState& LastError() {
  return tError;
}
int ErrorCode() {
  return tError.code;
}
const std::string& ErrorText() {
  return tError.text;
}
const std::string& FileErrorCode() {
  return tError.driverCode;
}
const std::string& FileErrorText() {
  return tError.driverText;
}

void SetError(int code, std::string_view text, std::string_view driverCode,
              std::string_view driverText) {
  tError.code = code;
  tError.text = text.empty() ? StandardErrorText(code) : std::string(text);
  tError.driverCode = driverCode.empty() ? "0" : std::string(driverCode);
  tError.driverText = std::string(driverText);
}

void ClearError() {
  SetError(kNoError);
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
    default:
      return "Error " + std::to_string(code);
  }
}

}  // namespace rt
