// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The relation manager of the document table. The table has no relations; this manager
// owns the thread's file manager of the table and disposes of it in Kill.

#include <memory>

#include "app/DemoDataFileManager.h"
#include "framework/data/RelationManager.h"

class DemoDataRelationManager : public RelationManager {
 public:
  explicit DemoDataRelationManager(std::unique_ptr<DemoDataFileManager> fileManager);
  ~DemoDataRelationManager() override;

  // Shuts the file manager down, releases the relation manager, clears the thread's
  // relation-manager reference and disposes of the file manager.
  void Kill() override;

  DemoDataFileManager* FileManagerObject() const { return fileManager_.get(); }

 private:
  std::unique_ptr<DemoDataFileManager> fileManager_;
};
