// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/util/SelectFileManager.h"

#include <filesystem>
#include <system_error>

#include "platform/runtime/windows/Dialogs.h"

void SelectFileManager::Init() {
  PWindowTitle = kSelectFileTitle;
  Flags = kSelectFileFlags;
}

void SelectFileManager::AddMask(std::string_view mask) {
  mask = rt::ClipText(mask);
  if (mask.empty()) return;
  std::string joined(MaskString.View());
  if (!joined.empty()) joined += '|';
  joined += mask;
  MaskString = joined;  // cut to the field's room
}

void SelectFileManager::SetMask(std::string_view mask) {
  MaskString.Clear();
  AddMask(mask);
}

void SelectFileManager::SetMask(std::string_view description, std::string_view pattern) {
  std::string mask(rt::ClipText(description));
  mask += '|';
  mask += pattern;
  SetMask(mask);
}

std::string SelectFileManager::Ask(bool keepDirectory) {
  namespace fs = std::filesystem;
  DialogCancelled = 0;
  // The folder is restored from the full path: SavePath may be too short to hold it.
  std::error_code ec;
  fs::path before;
  if (keepDirectory) {
    before = fs::current_path(ec);
    SavePath = before.string();
  }
  if (DefaultDirectory.Length() != 0) fs::current_path(fs::path(DefaultDirectory.CStr()), ec);
  std::string name(DefaultFile.View());
  const std::string_view masks = MaskString.Length() != 0 ? MaskString.View() : kAllFilesMask;
  if (!rt::FileDialog(PWindowTitle.View(), name, masks, Flags)) {
    DialogCancelled = 1;
    if (ClearOnCancel) name.clear();
  }
  if (keepDirectory && !before.empty()) fs::current_path(before, ec);
  return name;
}
