// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A record buffer of one table of a view, saved by ViewManager::SaveBuffers.

#include <cstdint>

class FileManager;

struct ViewBufferEntry {
  std::int32_t Buff = 0;  // the saved-buffer id
  FileManager* FM = nullptr;
};
