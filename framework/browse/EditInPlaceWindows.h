// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window definitions of the edit-in-place resource: "$MULTIWINDOW", where a cell's value
// is edited over several lines, and "$TXTWINDOW", where it is edited as one line of text.
// Both are prepared (not opened) when the process starts and freed when it ends. Editing a
// row in place works on the browse's own window; these stand ready beside it.

#include <memory>

namespace rt {
class Window;
}

inline constexpr char kEditInPlaceModule[] = "EditInPlace";
inline constexpr char kEditInPlaceMultiWindow[] = "$MULTIWINDOW";
inline constexpr char kEditInPlaceTextWindow[] = "$TXTWINDOW";
// The editing control and the buttons of both windows.
inline constexpr int kEditInPlaceValue = 1;
inline constexpr int kEditInPlaceOk = 2;
inline constexpr int kEditInPlaceCancel = 3;

// Registers both definitions (once) and prepares a window of each; true when both are ready.
bool PrepareEditInPlaceWindows();
// Frees the prepared windows.
void FreeEditInPlaceWindows();
// The prepared windows (nullptr before PrepareEditInPlaceWindows and after the free).
const rt::Window* PreparedMultiWindow();
const rt::Window* PreparedTextWindow();

// Registers the start-up hooks: process start prepares the windows, process end frees them.
void RegisterEditInPlaceHooks();
