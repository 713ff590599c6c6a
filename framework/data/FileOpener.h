// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The opener of a table that has a separate instance per thread: opens and closes that
// thread's file object directly.

#include <cstdint>

#include "framework/data/IFileOpenServer.h"
#include "platform/runtime/files/File.h"

class FileOpener : public IFileOpenServer {
 public:
  rt::File* MyFile = nullptr;
  std::int32_t Usage = 0;  // references beyond the first

  ~FileOpener() override = default;
  void Init(rt::File& file);

  // An already open file counts as opened.
  int Open(int mode) override;
  int Close() override;
  void AddRef() override;
  // Lowers the usage, or destroys the opener when no further reference is held.
  void Release() override;
};
