// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An entry of a thread file map: the file manager that serves a table on this thread.

#include <cstdint>

class FileManager;

struct FileMapEntry {
  std::intptr_t FileLabel = 0;
  FileManager* Manager = nullptr;
};
