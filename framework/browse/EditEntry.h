// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The default edit object of one list column when a browse edits in place: an entry control
// made over the column's cell, bound to the list-queue field the column shows. It turns the
// keys that move between columns and rows into edit actions.

#include <cstdint>

#include "platform/runtime/values/AnyRef.h"

namespace rt {
class Window;
}

// Edit actions.
inline constexpr std::uint8_t kEditNone = 0;
inline constexpr std::uint8_t kEditNext = 1;         // Tab
inline constexpr std::uint8_t kEditPrevious = 2;     // Shift+Tab
inline constexpr std::uint8_t kEditComplete = 3;     // Enter
inline constexpr std::uint8_t kEditCancel = 4;       // Esc
inline constexpr std::uint8_t kEditNextRow = 5;      // Down
inline constexpr std::uint8_t kEditPreviousRow = 6;  // Up

class EditEntry {
 public:
  std::int32_t Feq = 0;  // the entry control
  rt::AnyRef UseVar;     // the list-queue field edited
  std::int32_t ListBoxFeq = 0;
  std::uint8_t ReadOnly = 0;
  std::int32_t FieldNo = 0;  // the list column
  std::uint8_t Req = 0;      // a value is required

  EditEntry() = default;
  EditEntry(const EditEntry&) = delete;
  EditEntry& operator=(const EditEntry&) = delete;
  virtual ~EditEntry();

  virtual void CreateControl();
  // `window` holds the list; the control is made there.
  virtual void Init(rt::Window& window, std::int32_t column, std::int32_t list,
                    const rt::AnyRef& use);
  virtual void Kill();
  virtual void SetAlerts();
  virtual void SetReadOnly(bool readOnly);
  // Takes the screen's value into UseVar and answers the action; kEditNone when the field
  // cannot hold the value (nothing is taken).
  virtual std::uint8_t TakeAccepted(std::uint8_t action);
  virtual std::uint8_t TakeEvent(int event);
  virtual std::int32_t GetFeq();
  virtual bool ColumnChanged(std::int32_t previous);

 protected:
  rt::Window* Win = nullptr;
};
