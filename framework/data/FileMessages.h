// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Identifiers of the message-table entries the data-access classes report.

#include <cstdint>

inline constexpr std::uint16_t kMsgRetrievalError = 1;      // "Record Retrieval Error"
inline constexpr std::uint16_t kMsgAccessDenied = 2;        // "Access Denied"
inline constexpr std::uint16_t kMsgInsertError = 4;         // "Record Insert Error"
inline constexpr std::uint16_t kMsgRecordChanged = 7;       // "Record Was Not Updated" (short)
inline constexpr std::uint16_t kMsgRecordChangedShown = 8;  // "Record Was Not Updated" (long)
inline constexpr std::uint16_t kMsgRecordGone = 9;          // changed or deleted by another station
inline constexpr std::uint16_t kMsgConfirmDelete = 11;      // "Confirm Delete"
inline constexpr std::uint16_t kMsgCreateError = 12;        // "File Creation Error"
inline constexpr std::uint16_t kMsgNotDeleted = 13;         // "Record was not deleted"
inline constexpr std::uint16_t kMsgDuplicateKey = 15;       // "Duplicate Key Error"
inline constexpr std::uint16_t kMsgInvalidFile = 26;        // "Invalid File"
inline constexpr std::uint16_t kMsgOpenError = 29;          // "File Access Error" (open)
inline constexpr std::uint16_t kMsgNotUpdated = 31;         // "Record was not updated"
inline constexpr std::uint16_t kMsgKeyNotBuilt = 32;        // "Key was not built"
inline constexpr std::uint16_t kMsgInvalidKey = 33;         // "Invalid Key"
inline constexpr std::uint16_t kMsgRecordNotRead = 34;      // "Record not read"
inline constexpr std::uint16_t kMsgAutoIncrement = 38;      // "Auto Increment Error"
inline constexpr std::uint16_t kMsgFileUsage = 45;          // "File Usage Error"

// Whether a failure was another station's change or delete of the record: trying the same
// write again cannot succeed, the record has to be looked at first.
inline bool IsOtherStationMessage(std::int32_t id) {
  return id == kMsgRecordChanged || id == kMsgRecordChangedShown || id == kMsgRecordGone;
}
