// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The current error of one thread: the values substituted into message texts, the runtime's
// error state saved at the failure, and a private copy of the selected message entry.

#include <cstdint>
#include <string>

#include "framework/error/ErrorEntry.h"

// Buffer sizes (C strings: at most size - 1 characters are kept).
inline constexpr std::size_t kErrorNameSize = 1024;
inline constexpr std::size_t kSavedErrorSize = 255;

struct ErrorStatus {
  std::string FieldName;                // %Field
  std::string FileName;                 // %File
  std::string KeyName;                  // %Key
  std::string MessageText;              // %Message
  std::string SaveError;                // runtime error text at the last SetErrors
  std::int32_t SaveErrorCode = 0;       // runtime error code at the last SetErrors
  std::string SaveFileError;            // driver's error text at the last SetErrors
  std::string SaveFileErrorCode = "0";  // driver's error code (text) at the last SetErrors
  ErrorEntry ErrorBuffer;               // the selected entry, texts owned
  std::int32_t PrevErrorId = 0;         // identifier selected before the current one
};
