// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An object that works through a browse's records on the browse's behalf; the browse kills
// each of its processors when it is killed.

class BrowseProcessor {
 public:
  virtual ~BrowseProcessor() = default;
  virtual void Kill() = 0;
};

struct ProcessorEntry {
  BrowseProcessor* P = nullptr;
};
