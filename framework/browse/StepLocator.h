// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The locator of a sort order: typing a character moves the list to the next record whose
// free element starts with it, or positions the list at the first record at or after it.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/runtime/values/AnyRef.h"

class BrowseManager;
class ViewManager;

class StepLocator {
 public:
  ::ViewManager* ViewManager = nullptr;
  ::BrowseManager* BrowseManager = nullptr;
  std::int32_t Control = 0;
  rt::AnyRef FreeElement;
  std::uint8_t NoCase = 0;

  StepLocator() = default;
  StepLocator(const StepLocator&) = delete;
  StepLocator& operator=(const StepLocator&) = delete;
  virtual ~StepLocator() = default;

  void Init(std::int32_t control, const rt::AnyRef& freeElement, bool noCase,
            ::BrowseManager& browse);

  // ---- Virtual operations, in table order ----
  virtual void Kill();                                                                  // 1
  virtual std::string GetShadow();                                                      // 2
  virtual void Init(std::int32_t control, const rt::AnyRef& freeElement, bool noCase);  // 3
  virtual void Reset();                                                                 // 4
  virtual void Set();                                                                   // 5
  virtual void ResetFreeElement(const rt::AnyRef& field);                               // 6
  virtual void SetAlerts(std::int32_t listControl);                                     // 7
  virtual void SetEnabled(bool enabled);                                                // 8
  virtual void SetShadow(std::string_view text);                                        // 9
  virtual bool TakeAccepted();                                                          // 10
  virtual bool TakeKey();                                                               // 11
  virtual void UpdateWindow();                                                          // 12
};
