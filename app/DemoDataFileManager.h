// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The file manager of the document table: binds the thread's DemoData record and, on the
// first use on a thread, sets the table up with its auto-numbered key.

#include "framework/data/FileManager.h"

class DemoDataFileManager : public FileManager {
 public:
  ~DemoDataFileManager() override;

  void Init() override;
  void Shutdown() override;
  ErrorLevel Use(std::uint8_t level = kUseRead) override;
};
