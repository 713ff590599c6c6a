// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Blocking requests to the user, carried out by the UI backend: message boxes, popup menus,
// the file dialog, the stop message and halt.

#include <string>
#include <string_view>

namespace rt {

// Message buttons: a bit set, also the value of the pressed button.
inline constexpr int kButtonOk = 1;
inline constexpr int kButtonYes = 2;
inline constexpr int kButtonNo = 4;
inline constexpr int kButtonAbort = 8;
inline constexpr int kButtonRetry = 16;
inline constexpr int kButtonIgnore = 32;
inline constexpr int kButtonCancel = 64;
inline constexpr int kButtonHelp = 128;

enum class MessageIcon { None, Information, Question, Exclamation, Hand };

// The name by which an image control shows a stock message icon: its number ("1" the
// information icon ... "4" the hand).
std::string StockIconName(MessageIcon icon);

// Shows a message box and returns the pressed button. `buttons` 0 means OK; a default button
// of 0 means the first button of the set.
int Message(std::string_view text, std::string_view caption = {},
            MessageIcon icon = MessageIcon::None, int buttons = kButtonOk, int defaultButton = 0,
            int style = 0);

// Shows a popup menu written in the runtime's popup syntax ("|" separates items, "-" is a
// separator, "{" opens a submenu whose text follows, "}" closes it, "~" greys an item, "+"
// checks it) and returns the 1-based number of the chosen item (separators and submenu
// headings are not counted), or 0 when nothing was chosen. x and y are screen positions in
// dialog units; -1 means at the mouse.
int Popup(std::string_view menu, int x = -1, int y = -1);

// File dialog flags.
inline constexpr int kFileSave = 1;          // ask for a file to write
inline constexpr int kFileKeepFolder = 2;    // restore the working folder afterwards
inline constexpr int kFileNoError = 4;       // no message for a missing file
inline constexpr int kFileMulti = 8;         // several files may be chosen
inline constexpr int kFileLongName = 0x10;   // long names (always on here)
inline constexpr int kFileDirectory = 0x20;  // choose a folder

// Asks for a file. `masks` pairs descriptions and patterns: "PDF Files|*.pdf|All Files|*.*".
// `fileName` holds the starting name and receives the chosen one. Returns true when a file
// was chosen, false when the user cancelled (fileName is then unchanged).
bool FileDialog(std::string_view title, std::string& fileName, std::string_view masks,
                int flags = kFileLongName);

// Shows the stop message: a message box with the text and a single button.
void Stop(std::string_view text);

// Shows the text (when not empty) and ends the process with the code.
[[noreturn]] void Halt(int code, std::string_view text = {});

// The wait cursor (a count: each Set needs a Reset) and the beep.
void SetWaitCursor(bool on);
// Shows the wait cursor for the lifetime of the object (a write, a load).
class WaitCursor {
 public:
  WaitCursor() { SetWaitCursor(true); }
  ~WaitCursor() { SetWaitCursor(false); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};
void Beep();

}  // namespace rt
