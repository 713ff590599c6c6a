// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The procedure's toolbar object: a list of targets, one of them active. Toolbar events and
// button refreshes go to the active target; with no targets the toolbar acts on nothing.

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/window/ToolbarTarget.h"

class WindowController;

class ToolbarDispatcher {
 public:
  struct Entry {
    std::int32_t Id = 0;
    ToolbarTarget* Item = nullptr;
  };

  std::unique_ptr<std::vector<Entry>> List;

  ToolbarDispatcher() = default;
  ToolbarDispatcher(const ToolbarDispatcher&) = delete;
  ToolbarDispatcher& operator=(const ToolbarDispatcher&) = delete;
  virtual ~ToolbarDispatcher() = default;

  // Lets the active target refresh the buttons.
  virtual void UpdateTarget();
  // Disposes of the list; the targets themselves belong to their creators.
  virtual void Kill();
  // Hands the current event to the active target when there are targets.
  virtual void TakeEvent(std::int32_t* navigationRequest, WindowController& controller);

  // Creates an empty list (a list already there is emptied).
  void Init();
  // Adds a target under an id; an id already present is given the new target. Id 0 and a
  // missing list are refused (false).
  bool AddTarget(ToolbarTarget& target, std::int32_t id);
  // Removes the target's entries; when one of them was active, no target is active.
  void RemoveTarget(ToolbarTarget& target);
  // Id non-zero: makes that entry current and activates its target (an unknown id changes
  // nothing). Id 0: asks every target whether it applies and makes the last that does
  // current.
  void SetTarget(std::int32_t id);
  // The active target, or nullptr.
  ToolbarTarget* ActiveTarget() const;

 private:
  std::int32_t current_ = 0;  // Id of the current entry (0: none)
};
