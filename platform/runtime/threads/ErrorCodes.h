// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The runtime's numbered error codes, as the framework and the application test them.

namespace rt {

inline constexpr int kNoError = 0;
inline constexpr int kNoFileError = 2;     // file (or record by key) not found
inline constexpr int kAccessDenied = 5;    // no permission, or a read-only file opened for writing
inline constexpr int kEntryNotFound = 30;  // queue entry not found
inline constexpr int kNoRecordError = 33;  // record not available: end or start of file reached
inline constexpr int kRecordNotFoundError = 35;  // no record with the given key values
inline constexpr int kBadNameError = 36;         // invalid name or empty data
inline constexpr int kDupKeyError = 40;          // creating a duplicate key
inline constexpr int kRecordHeldError = 43;      // record held by another user
inline constexpr int kInvalidKeyError = 46;      // key invalid (or needs building)
inline constexpr int kBadFileError = 47;         // invalid file structure (not a table)
inline constexpr int kIsOpenError = 52;          // file already open
inline constexpr int kFileNotOpenError = 37;     // operation on a file that is not open
inline constexpr int kNoDriverError = 80;        // function not supported by the driver
inline constexpr int kRecordChangedError = 89;   // record changed by another station
inline constexpr int kDriverError = 90;          // the driver failed: see its own code and text
inline constexpr int kFileSystemError = 8;       // not enough memory / disk, or a read error
inline constexpr int kThreadRegistrationError =
    411;  // thread-instanced record used during registration
inline constexpr int kExpressionSyntaxError = 800;  // an expression could not be parsed
inline constexpr int kExpressionEvalError = 801;    // an expression failed while evaluated
inline constexpr int kOperationStopped = 802;       // a file callback stopped the operation

}  // namespace rt
