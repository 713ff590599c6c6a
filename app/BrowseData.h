// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The document browse: lists the rows of DemoData by number, shows the highlighted row's
// document in a view control beside the list, and inserts, changes and deletes rows through
// the document form on its own thread. The frame starts it on a thread of its own.

inline constexpr char kBrowseDataModule[] = "PageletDemo$PageletDemo003";
inline constexpr char kBrowseDataWindow[] = "P1$QUICKWINDOW";
inline constexpr char kBrowseDataCaption[] = "Browse the DemoData file";

// Controls of the browse's window.
inline constexpr int kBrowseDataList = 1;
inline constexpr int kBrowseDataInsert = 2;
inline constexpr int kBrowseDataChange = 3;
inline constexpr int kBrowseDataDelete = 4;
inline constexpr int kBrowseDataSheet = 5;
inline constexpr int kBrowseDataIdTab = 6;
inline constexpr int kBrowseDataQuickView = 7;
inline constexpr int kBrowseDataClose = 8;
inline constexpr int kBrowseDataPrint = 9;
inline constexpr int kBrowseDataRegion = 10;

// Registers the browse's window definition (BrowseData does on first use).
void RegisterBrowseDataWindow();

// Runs the browse for GlobalRequest; sets GlobalResponse.
void BrowseData();
