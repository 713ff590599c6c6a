// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Asks the user for a file through the runtime's file dialog. Keeps the dialog's title,
// file-type masks, starting folder and file, and flags; returns the chosen name and can
// leave the program's current folder as it was before the dialog.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/values/FixedString.h"

// Offered when no mask was set.
inline constexpr char kAllFilesMask[] = "All Files|*.*";
inline constexpr char kSelectFileTitle[] = "Select A File";
inline constexpr std::uint8_t kSelectFileFlags = 16;  // long file names

class SelectFileManager {
 public:
  rt::CString<260> DefaultDirectory;  // made current before the dialog; empty keeps it
  rt::CString<256> DefaultFile;       // the name the dialog starts with
  std::uint8_t Flags = 0;             // the runtime's file-dialog flags
  rt::CString<255> MaskString;        // description "|" pattern pairs, joined by "|"
  rt::CString<260> SavePath;          // the current folder remembered across the dialog
  rt::CString<80> PWindowTitle;
  std::uint8_t ClearOnCancel = 0;  // a cancelled dialog returns an empty name
  std::uint8_t DialogCancelled = 0;

  void Init();
  // Appends a "description|pattern" mask (nothing when it is blank).
  void AddMask(std::string_view mask);
  // Replaces the masks with one.
  void SetMask(std::string_view mask);
  void SetMask(std::string_view description, std::string_view pattern);
  // Shows the dialog and returns the chosen name in full, however long; on cancel the
  // starting name, or "" with ClearOnCancel. With keepDirectory the current folder is the
  // same afterwards, whatever folder the user went to.
  std::string Ask(bool keepDirectory = false);
};
