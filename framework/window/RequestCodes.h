// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The request a window procedure is started with and the response it returns (one byte
// each), and the toolbar's record-navigation requests.

#include <cstdint>

enum RequestCode : std::uint8_t {
  NoRequest = 0,
  InsertRecord = 1,
  ChangeRecord = 2,
  DeleteRecord = 3,
  SelectRecord = 4,
  ViewRecord = 6,
  SaveRecord = 7,  // transient: a Save control was pressed
};

enum ResponseCode : std::uint8_t {
  NoResponse = 0,
  RequestCompleted = 1,
  RequestCancelled = 2,
};

// Navigation requests held in the thread's pending navigation request.
enum NavigationRequest : std::int32_t {
  NoNavigation = 0,
  NavigateInsert = 3001,  // insert another
  NavigateBottom = 3005,
  NavigateTop = 3006,
  NavigatePageDown = 3007,
  NavigatePageUp = 3008,
  NavigateNext = 3009,
  NavigatePrevious = 3010,
};

// The toolbar button that recalls the focused field from the last completed record.
inline constexpr std::int32_t kToolbarHistory = 3012;
