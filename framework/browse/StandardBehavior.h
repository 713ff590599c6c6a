// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The list adapter a browse uses by default: its page is a runtime queue shown by a list
// control of a runtime window, each row carrying its view position in one string field of
// the queue. Every operation is one runtime call.

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/browse/BrowseQueue.h"
#include "framework/browse/IListControl.h"
#include "platform/runtime/values/AnyRef.h"

namespace rt {
class Queue;
class Window;
}  // namespace rt

class StandardBehavior : public BrowseQueue, public IListControl {
 public:
  rt::Queue* Q = nullptr;
  rt::AnyRef S;  // the position field inside Q's entry buffer
  std::int32_t LC = 0;

  // `window` is the window that holds the list control; null means the calling thread's
  // active window at each call.
  void Init(rt::Queue& queue, std::int32_t listControl, void* positionField,
            std::uint32_t positionLength, rt::Window* window = nullptr);
  rt::Window* ListWindow() const;

  // BrowseQueue
  std::int32_t Records() override;
  void Insert() override;
  void InsertAt(std::int32_t position) override;
  int GetRow(std::int32_t position) override;
  void Update() override;
  void Delete() override;
  void Free() override;
  std::string Who(std::int32_t field) override;
  std::string GetViewPosition() override;
  void SetViewPosition(std::string_view position) override;

  // IListControl
  std::int32_t Choice() override;
  std::int32_t GetControl() override;
  std::int32_t GetItems() override;
  bool GetVisible() override;
  void SetChoice(std::int32_t row) override;
  void SetControl(std::int32_t control) override;
  std::int32_t GetLine() override;

 private:
  rt::Window* window_ = nullptr;
};
