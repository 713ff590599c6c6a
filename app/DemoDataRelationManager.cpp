// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/DemoDataRelationManager.h"

#include "app/DemoData.h"

DemoDataRelationManager::DemoDataRelationManager(std::unique_ptr<DemoDataFileManager> fileManager)
    : fileManager_(std::move(fileManager)) {}

DemoDataRelationManager::~DemoDataRelationManager() {
  if (Me || fileManager_) DemoDataRelationManager::Kill();
}

void DemoDataRelationManager::Kill() {
  if (Me) Me->Shutdown();
  RelationManager::Kill();
  if (DemoDataRelationManagerRef() == this) DemoDataRelationManagerRef() = nullptr;
  if (fileManager_ && DemoDataFileManagerRef() == fileManager_.get())
    DemoDataFileManagerRef() = nullptr;
  fileManager_.reset();
  Me = nullptr;
}
