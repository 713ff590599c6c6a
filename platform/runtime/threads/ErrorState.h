// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The runtime's last error, kept per thread: a numbered code with its text and the
// file driver's own code and text.

#include <string>
#include <string_view>

namespace rt {

struct ErrorState {
  int code = 0;
  std::string text;
  std::string driverCode = "0";
  std::string driverText;
};

// The calling thread's last error.
const ErrorState& LastError();
int ErrorCode();
const std::string& ErrorText();
const std::string& FileErrorCode();
const std::string& FileErrorText();

// Sets the calling thread's error. An empty text takes the standard text of the code.
void SetError(int code, std::string_view text = {}, std::string_view driverCode = "0",
              std::string_view driverText = {});
void ClearError();
// The standard text of a runtime error code.
std::string StandardErrorText(int code);

}  // namespace rt
