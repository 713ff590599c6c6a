// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/window/ToolbarDispatcher.h"

#include <algorithm>

void ToolbarDispatcher::UpdateTarget() {
  if (ToolbarTarget* target = ActiveTarget()) target->DisplayButtons();
}

void ToolbarDispatcher::Kill() {
  List.reset();
  current_ = 0;
}

void ToolbarDispatcher::TakeEvent(std::int32_t* navigationRequest, WindowController& controller) {
  if (!List || List->empty()) return;
  if (ToolbarTarget* target = ActiveTarget()) target->TakeEvent(navigationRequest, controller);
}

void ToolbarDispatcher::Init() {
  List = std::make_unique<std::vector<Entry>>();
  current_ = 0;
}

bool ToolbarDispatcher::AddTarget(ToolbarTarget& target, std::int32_t id) {
  if (!List || id == 0) return false;
  for (Entry& e : *List) {
    if (e.Id == id) {
      e.Item = &target;
      return true;
    }
  }
  List->push_back({id, &target});
  return true;
}

void ToolbarDispatcher::RemoveTarget(ToolbarTarget& target) {
  if (!List) return;
  ToolbarTarget* active = ActiveTarget();
  std::erase_if(*List, [&](const Entry& e) { return e.Item == &target; });
  if (active == &target) current_ = 0;
}

void ToolbarDispatcher::SetTarget(std::int32_t id) {
  if (!List) return;
  if (id != 0) {
    for (const Entry& e : *List) {
      if (e.Id == id) {
        current_ = id;
        ToolbarTarget* target = e.Item;
        target->Activate();
        return;
      }
    }
    return;
  }
  std::int32_t chosenId = 0;
  ToolbarTarget* chosen = nullptr;
  for (std::size_t i = 0; i < List->size(); ++i) {
    const Entry e = (*List)[i];
    if (e.Item->Applies()) {
      chosenId = e.Id;
      chosen = e.Item;
    }
  }
  if (chosen) {
    current_ = chosenId;
    chosen->Activate();
  }
}

ToolbarTarget* ToolbarDispatcher::ActiveTarget() const {
  if (!List || current_ == 0) return nullptr;
  for (const Entry& e : *List)
    if (e.Id == current_) return e.Item;
  return nullptr;
}
