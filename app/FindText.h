// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The find dialog: a small window on a thread of its own that searches the document of a
// viewer's view control. It reaches the control through the link named by its start
// argument; a search that finds nothing, or whose viewer has closed, says so.

#include <string>
#include <vector>

// Registers the dialog's window definition ("PageletDemo$PageletDemo002", "P1$WINDOW").
// Idempotent; FindText registers it on first use.
void RegisterFindTextWindow();

// The thread procedure: args[0] is the view control's argument text.
void FindText(const std::vector<std::string>& args);

// Controls of the dialog.
inline constexpr int kFindTextPrompt = 1;
inline constexpr int kFindTextEntry = 2;
inline constexpr int kFindTextFind = 3;
inline constexpr int kFindTextFindNext = 4;
inline constexpr int kFindTextCaseInsensitive = 5;
inline constexpr int kFindTextDontGoToPage = 6;
inline constexpr int kFindTextHighlight = 7;
inline constexpr int kFindTextClose = 8;

// The dialog's messages.
inline constexpr int kMsgFindNoMatch = 1603;
inline constexpr int kMsgFindViewerClosed = 1604;
