// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The document form: inserts, changes, deletes and shows one DemoData record. The user
// picks a PDF file, sees it in the form's view control, and on OK its bytes are copied into
// the record's BLOB and the record is saved. Runs on the browse's thread with GlobalRequest
// set to the request.

inline constexpr char kUpdateDataModule[] = "PageletDemo$PageletDemo004";
inline constexpr char kUpdateDataWindow[] = "P1$QUICKWINDOW";

// Controls of the form's window.
inline constexpr int kUpdateDataIdPrompt = 1;
inline constexpr int kUpdateDataId = 2;
inline constexpr int kUpdateDataFileNamePrompt = 3;
inline constexpr int kUpdateDataFileName = 4;
inline constexpr int kUpdateDataLookup = 5;
inline constexpr int kUpdateDataRegion = 6;
inline constexpr int kUpdateDataOk = 7;
inline constexpr int kUpdateDataCancel = 8;
inline constexpr int kUpdateDataViewBlob = 9;

// Messages of the form, in the error manager's table.
inline constexpr int kMsgFileNameNotKept = 1601;  // too long, or ending in a blank
inline constexpr int kMsgDocumentNotUsable = 1602;

// Registers the form's window definition (UpdateData does on first use).
void RegisterUpdateDataWindow();

// Runs the form for GlobalRequest; sets GlobalResponse.
void UpdateData();
