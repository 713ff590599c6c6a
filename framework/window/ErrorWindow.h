// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The error manager's own message window: an icon, the list of recorded messages with their
// categories, and up to eight buttons chosen from a button bit set. Buttons are placed from
// the right: the highest bit takes the rightmost place (control 100), the next one control
// 101 to its left, and so on. The pressed button is the result; Esc or closing the window
// answers as a cancel would (Cancel, else No, else OK when offered, else the default).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "framework/window/WindowController.h"

class ErrorManager;
class HistoryListHandler;

inline constexpr char kErrorWindowModule[] = "Errors";
inline constexpr char kErrorWindowName[] = "$WINDOW";
inline constexpr int kErrorImageControl = 300;
// The rightmost button; the others follow leftwards up to 107.
inline constexpr int kErrorFirstButton = 100;
inline constexpr int kErrorMaxButtons = 8;

// Registers the window's definition (once; later calls do nothing).
void RegisterErrorWindow();

// Shows the manager's history in a window of its own (each call prepares one, as several
// threads may present at once): the error manager's presenter. Returns the pressed button.
int PresentErrorWindow(ErrorManager& errors, std::string_view caption, std::int32_t icon,
                       int buttons, int defaultButton);

// Registers the window's start-up hooks: process start registers its definition and makes it
// the error manager's presenter, process end withdraws it.
void RegisterErrorWindowHooks();

class ErrorWindow : public WindowController {
 public:
  std::int32_t ButtonTypes = 0;  // the buttons to show
  std::string Caption;           // replaces the title "Error" when not empty
  ErrorManager* Err = nullptr;
  std::int32_t Icon = 0;  // 0: the standard information icon
  HistoryListHandler* HistoryHandler = nullptr;
  std::int32_t MsgButtons = 0;                               // buttons placed
  std::array<std::int32_t, kErrorMaxButtons> MsgButtonId{};  // their values, in placing order
  std::int32_t MsgRVal = 0;  // the default button on entry, the pressed one on exit
  std::int32_t Style = 0;
  rt::Window* Win = nullptr;

  ErrorWindow(rt::Window& window, ErrorManager& errors);

  ErrorLevel Init() override;
  ErrorLevel Kill() override;
  ErrorLevel TakeAccepted() override;
  ErrorLevel TakeCloseEvent() override;
  ErrorLevel TakeEvent() override;
  // Shows the icon named by Icon, or the standard information icon.
  virtual void ShowIcon();

  // The answer of a window left without pressing a button.
  static std::int32_t ClosedAnswer(std::int32_t buttons, std::int32_t defaultButton);

 private:
  void PlaceButtons();
  // The placed button's value, or 0 when the control is not a placed button.
  std::int32_t ButtonValue(int control) const;
};
