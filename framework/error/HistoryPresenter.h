// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the error manager presents its history. The message window lives with the window
// procedures, above the error manager, and registers itself here when the process starts;
// until it does (or after it has withdrawn), the manager falls back to the runtime's message
// box.

#include <cstdint>
#include <functional>
#include <string_view>

class ErrorManager;

// Shows the manager's history with a caption, an icon number (0: the default icon), a button
// set and a default button; returns the pressed button.
using HistoryPresenter = std::function<int(ErrorManager& errors, std::string_view caption,
                                           std::int32_t icon, int buttons, int defaultButton)>;

// Makes the presenter the process's one; an empty presenter withdraws the registered one.
void SetHistoryPresenter(HistoryPresenter presenter);
// The registered presenter, or an empty one.
HistoryPresenter CurrentHistoryPresenter();
