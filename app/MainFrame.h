// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main frame procedure: the application frame whose menu starts the document browse on
// a thread of its own and offers the standard window, clipboard, printer and help actions.

// Registers the frame's window definition ("PageletDemo$PageletDemo001", "P8$APPFRAME").
void RegisterMainFrameWindow();

// Runs the frame until it closes; sets GlobalResponse to the controller's result.
void MainFrame();
// Asks the frame to close as File > Exit does (the browses and their forms close first).
// Safe from any thread, the runtime's or another; before the frame has opened, the frame
// closes as soon as it opens.
void CloseMainFrame();

// Menu item numbers of the frame (from -1 downward in definition order).
inline constexpr int kMainFrameBrowseData = -11;
inline constexpr int kMainFrameSearchDocuments = -12;
