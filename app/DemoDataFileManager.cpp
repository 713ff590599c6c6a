// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DemoDataFileManager.h"

#include "app/DemoData.h"
#include "framework/error/ErrorHooks.h"

DemoDataFileManager::~DemoDataFileManager() {
  if (!Killed) DemoDataFileManager::Shutdown();
}

void DemoDataFileManager::Init() {
  Initialized = 0;
  rt::File& file = DemoData();
  Buffer = {file.Record(), kDemoDataRecordSize, &file.Layout()};
  FileNameValue = kDemoDataDisplayName;
  Errors = &GlobalErrors();
  File = &file;
  FileManager::Init();
  DemoDataFileManagerRef() = this;
}

ErrorLevel DemoDataFileManager::Use(std::uint8_t level) {
  // A table that cannot be set up fails the common Use below, which reports it.
  if (level != kUseSetUp) static_cast<void>(Use(kUseSetUp));
  if (level == kUseSetUp && !Initialized) {
    // First use on this thread: set the table up.
    InUseFile = 1;
    InitFile(DemoData(), GlobalErrors());
    FileNameValue = kDemoDataDisplayName;  // the label would show as "DEMODATA"
    Create = 1;
    LockRecover = kDefaultLockRecover;
    AddKey(DemoDataIdKey(), kDemoDataKeyName, 1);
  }
  return FileManager::Use(level);
}

void DemoDataFileManager::Shutdown() {
  FileManager::Shutdown();
  if (DemoDataFileManagerRef() == this) DemoDataFileManagerRef() = nullptr;
}
