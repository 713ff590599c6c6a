// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/error/DefaultErrorTable.h"

#include <array>
#include <cstddef>
#include <string_view>

namespace {

struct DefaultEntry {
  std::uint16_t id;
  std::uint8_t level;
  std::string_view title;
  std::string_view text;
};

// clang-format off
constexpr DefaultEntry kEntries[] = {
    {1, 5, "Record Retrieval Error",
     "Error: (%ErrorText) attempting to access a record from the %File file.  Returning to previous window."},
    {2, 5, "Access Denied",
     "Could not get write access to %File so trying read-only."},
    {3, 1, "Record Added",
     "This record has been added to the file. Do you want to add another record?"},
    {4, 5, "Record Insert Error",
     "An error was experienced during the creation of a record.|File: %File|Error: %ErrorText."},
    {5, 5, "Add New Record?",
     "Record match not found, do you wish to add a new one?"},
    {6, 5, "File Access Error",
     "File %File could not be closed.  Error: %ErrorText."},
    {7, 5, "Record Was Not Updated",
     "This record was changed by another station."},
    {8, 5, "Record Was Not Updated",
     "This record was changed by another station. Those changes will now be displayed. Use the Ditto Button or Ctrl+H to recall your changes."},
    {9, 5, "Record Retrieval Error",
     "This record was changed or deleted by another station.|Error: (%ErrorText) attempting to access a record from the %File file."},
    {10, 1, "Changes will be lost!",
     "Are you sure you want to cancel?"},
    {11, 1, "Confirm Delete",
     "Are you sure you want to delete the highlighted record?"},
    {12, 3, "File Creation Error",
     "Error: (%ErrorText) creating %File."},
    {13, 5, "Record was not deleted",
     "An error (%ErrorText) was experienced when deleting a record from the %File file."},
    {14, 5, "Invalid Request",
     "This form cannot be used to delete a record"},
    {15, 5, "Duplicate Key Error",
     "Adding this record creates a duplicate entry for the key: %Message"},
    {16, 5, "SQL Execution Error",
     "Executing the SQL command %Message failed.|Error: %ErrorText."},
    {18, 5, "Field contents error",
     "The value of %Field must be found in the %Message file."},
    {19, 5, "Value Error",
     "The value of %Field must be in the list : %Message."},
    {20, 5, "Range Error",
     "The value of %Field must be in range %Message."},
    {21, 5, "Range Error",
     "The value of %Field must be lower than %Message."},
    {22, 5, "Range Error",
     "The value of %Field must be higher than %Message."},
    {23, 5, "File Load Error",
     "%File File Load Error.  Error: %ErrorText."},
    {24, 3, "WMF Parser Error",
     "Get next record from file %File failed."},
    {25, 5, "Invalid Request",
     "This form cannot be used to insert a record"},
    {26, 3, "Invalid File",
     "%File has an invalid File structure.|Error: %ErrorCode - %Error|FileError: %FileErrorCode - %FileError|"},
    {27, 5, "Transaction cancelled",
     "Error: (%ErrorText) attempting to frame the transaction on %File."},
    {28, 5, "No Records",
     "There are no records available to process."},
    {29, 3, "File Access Error",
     "File %File could not be opened.  Error: %ErrorText."},
    {30, 5, "Procedure not defined",
     "The Procedure %Message has not been defined."},
    {31, 5, "Record was not updated",
     "An error (%ErrorText) was experienced when making changes to the %File file."},
    {32, 3, "Key was not built",
     "Error: (%ErrorText) repairing key for %File."},
    {33, 5, "Invalid Key",
     "%File key file is invalid. Key must be rebuilt."},
    {34, 5, "Record not read",
     "A record held by another station was encountered reading from the %File file."},
    {36, 5, "Referential Integrity Delete Error",
     "This record is referenced from the file %File. This record cannot be deleted while these references exist."},
    {37, 5, "Referential Integrity Update Error",
     "This record is referenced from the file %File. Linking field(s) have been restricted from change and have been reset to original values."},
    {38, 1, "Auto Increment Error",
     "Attempts to automatically number this record have failed.|File: %File|Key: %Key|Error: %ErrorText.|Try Again?"},
    {39, 1, "Record Delete Error",
     "An error was experienced deleting this record. Do you want to try to delete it again?"},
    {40, 1, "Record Update Error",
     "An error was experienced changing this record. Do you want to try to save again?"},
    {41, 1, "Save Record",
     "Do you want to save the changes to this record?"},
    {42, 1, "Beginning of File Error",
     "The beginning of the file %File was encountered. Do you want to start again from the end of the file?"},
    {43, 1, "End of File Error",
     "The end of the file %File was encountered. Do you want to start again from the beginning?"},
    {44, 5, "Invalid Request",
     "This form cannot be used to update a record"},
    {45, 2, "File Usage Error",
     "Attempt to use file (%File) before it was opened"},
    {46, 5, "View Open Error",
     "Error: (%ErrorText) attempting to open the current VIEW. Filter and Range Limits ignored."},
    {47, 5, "Unsupported QBE Column",
     "The saved QBE column, %Field is not supported. It will be dropped from the query."},
    {48, 5, "SMTP Error",
     "The following SMTP Error occurred: %Message "},
    {49, 5, "NNTP Error",
     "%Message "},
    {50, 5, "Winsock Error",
     "%Message "},
    {51, 3, "WMF Parser Error",
     "Adding record to queue failed. Parsing %File."},
    {52, 3, "WMF Parser Error",
     "The File %File is not a valid WMF file."},
    {53, 3, "WMF Parser Error",
     "Invalid %Field control found. Parsing %File."},
    {54, 3, "WMF Parser Error",
     "Cannot find %Field id. Parsing %File."},
    {55, 5, "Report Writer Error",
     "Poorly Formed Comment String \"%Message\" at Position %Field."},
    {56, 5, "Report Writer Error",
     "Unknown Property %Message."},
};
// clang-format on

// Not constexpr: reaching it during constant evaluation is a compile error.
inline void TextTooLongForPackedTable() {}

constexpr std::size_t PackedSize() {
  std::size_t size = 2;
  for (const DefaultEntry& entry : kEntries)
    size += 5 + entry.title.size() + entry.text.size();
  return size;
}

constexpr std::array<std::uint8_t, PackedSize()> Pack() {
  static_assert(std::size(kEntries) <= 0xFFFF);
  std::array<std::uint8_t, PackedSize()> block{};
  std::size_t at = 0;
  auto put = [&](std::uint8_t byte) { block[at++] = byte; };
  auto putText = [&](std::string_view text) {
    // A text longer than its one-byte length stops the compilation here.
    if (text.size() > 0xFF) TextTooLongForPackedTable();
    put(static_cast<std::uint8_t>(text.size()));
    for (char c : text)
      put(static_cast<std::uint8_t>(c));
  };
  put(static_cast<std::uint8_t>(std::size(kEntries) & 0xFF));
  put(static_cast<std::uint8_t>(std::size(kEntries) >> 8));
  for (const DefaultEntry& entry : kEntries) {
    put(static_cast<std::uint8_t>(entry.id & 0xFF));
    put(static_cast<std::uint8_t>(entry.id >> 8));
    put(entry.level);
    putText(entry.title);
    putText(entry.text);
  }
  return block;
}

constexpr auto kPackedTable = Pack();

}  // namespace

std::span<const std::uint8_t> DefaultErrorTable() {
  return kPackedTable;
}
