// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The level of a message-table entry and the status result of every framework operation
// that can fail.

#include <cstdint>

enum [[nodiscard]] ErrorLevel : std::uint8_t{
    LevelQuiet = 0,     // success, carry on; also "Yes"
    LevelAsk = 1,       // Yes/No question
    LevelInternal = 2,  // internal failure, handled as fatal
    LevelFatal = 3,     // unusable: leave (ends the application when shown)
    LevelCancel = 4,    // the user declined
    LevelNotify = 5,    // failed and reported, or end of data; the event is handled
};
