// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The search window: finds stored documents by the words they hold, through the table's
// full-text index (TextIndexer.h). A query entry (words, "a phrase", prefix*), a list of the
// matching pages best first (number, file name, page, a passage with the matched words
// marked), and how many documents the index holds so far. Enter or a double click on a row,
// or View, opens the document viewer on that document at the page of the match, with the
// match highlighted. Runs on a thread of its own, started from the frame's menu.

#include <cstdint>
#include <string_view>

// Registers the window's definition ("PageletDemo$PageletDemo005", "P1$SEARCH"). Idempotent.
void RegisterSearchDocumentsWindow();
// Runs the window until it closes; sets GlobalResponse to the controller's result.
void SearchDocuments();
// The same, with the query entered and searched as the window opens.
void SearchDocuments(std::string_view query);

inline constexpr char kSearchDocumentsCaption[] = "Search Documents";
// The most pages one search lists.
inline constexpr int kSearchDocumentsLimit = 200;

// Controls of the window.
inline constexpr int kSearchDocumentsPrompt = 1;
inline constexpr int kSearchDocumentsQuery = 2;
inline constexpr int kSearchDocumentsFind = 3;
inline constexpr int kSearchDocumentsList = 4;
inline constexpr int kSearchDocumentsProgress = 5;
inline constexpr int kSearchDocumentsView = 6;
inline constexpr int kSearchDocumentsClose = 7;

// Its messages.
inline constexpr int kMsgSearchQuery = 1631;    // the query cannot be searched
inline constexpr int kMsgSearchFailed = 1632;   // the index could not be read
inline constexpr int kMsgSearchNoMatch = 1633;  // nothing found
inline constexpr int kMsgSearchGone = 1634;     // the document was deleted meanwhile
