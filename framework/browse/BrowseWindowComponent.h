// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a window controller drives a browse: each operation forwards to the browse.

#include "framework/window/WindowComponent.h"

class BrowseManager;

class BrowseWindowComponent : public WindowComponent {
 public:
  explicit BrowseWindowComponent(BrowseManager& browse) : browse_(browse) {}

  void Kill() override;
  void Reset(std::uint8_t force) override;
  bool ResetRequired() override;
  void SetAlerts() override;
  ErrorLevel TakeEvent() override;
  void Update() override;
  void UpdateWindow() override;

 private:
  BrowseManager& browse_;
};
