// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An entry of a thread file map: the relation manager that serves a table on this thread.

#include <cstdint>

class RelationManager;

struct RelationMapEntry {
  std::intptr_t FileLabel = 0;
  RelationManager* Manager = nullptr;
};
