// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Property numbers of windows and controls, read and written with Window::Prop/SetProp.

namespace rt::prop {

inline constexpr int kText = 0x7A00;        // caption or text
inline constexpr int kScreenText = 0x7A01;  // an entry's text as shown
inline constexpr int kDisabled = 0x7A02;
inline constexpr int kHidden = 0x7A03;
inline constexpr int kReadOnly = 0x7A04;
inline constexpr int kChoice = 0x7A05;  // a list's selected row, a sheet's tab
inline constexpr int kType = 0x7A06;
inline constexpr int kParent = 0x7A07;  // the control's structural parent
inline constexpr int kXPos = 0x7A08;
inline constexpr int kYPos = 0x7A09;
inline constexpr int kWidth = 0x7A0A;
inline constexpr int kHeight = 0x7A0B;
inline constexpr int kIcon = 0x7A0C;
inline constexpr int kTip = 0x7A0D;
inline constexpr int kItems = 0x7A0E;  // a list's visible row count
inline constexpr int kImmediate = 0x7A0F;
inline constexpr int kVScroll = 0x7A10;
inline constexpr int kVScrollPos = 0x7A11;  // thumb position 0..100
inline constexpr int kRecords = 0x7A12;     // rows of a list's queue
inline constexpr int kValue = 0x7A13;       // a check box's state
inline constexpr int kSkip = 0x7A19;        // not included in resizing and tab order
// A list's first visible row (1-based).
inline constexpr int kFirstVisible = 0x7A1A;
inline constexpr int kListRowCallback = 0x7A1C;
inline constexpr int kListObject = 0x7A1D;
inline constexpr int kFullWidth = 0x7A40;   // width follows the parent
inline constexpr int kFullHeight = 0x7A41;  // height follows the parent
inline constexpr int kClientWidth = 0x7A4F;
inline constexpr int kClientHeight = 0x7A50;
inline constexpr int kEditInPlace = 0x7C60;      // a list edited in place
inline constexpr int kListMouseColumn = 0x7C61;  // a list's column under the last mouse press
inline constexpr int kListMouseRow = 0x7C62;     // a list's row under the last mouse press
inline constexpr int kListMouseZone = 0x7C64;    // where the last mouse press hit a list
inline constexpr int kHasChildren = 0x7C63;
inline constexpr int kIconized = 0x7C69;
inline constexpr int kResizeRegistered = 0x7C6A;
inline constexpr int kMaximized = 0x7C6F;
inline constexpr int kListRecords = 0x7C8F;  // a virtual list's row count
inline constexpr int kMinWidth = 0x7CAD;
inline constexpr int kMinHeight = 0x7CAE;
inline constexpr int kMaxWidth = 0x7CAF;
inline constexpr int kMaxHeight = 0x7CB0;
inline constexpr int kDeferMove = 0x7CBD;
inline constexpr int kNextControl = 0x7D0B;  // the control after a given one (0: end)
inline constexpr int kListColumns = 0x7E0A;
inline constexpr int kFrameStatus = 0x7900;   // the frame's status bar sections
inline constexpr int kIconAttribute = 31848;  // popup item icon
inline constexpr int kPopupIconSize = 31290;
inline constexpr int kSystemIconSize = 31289;
inline constexpr int kToolTip = 31904;

// A button that Enter presses (1) or not (0).
inline constexpr int kDefaultButton = 0x7A14;

}  // namespace rt::prop

// Values of prop::kListMouseZone: the part of a list that the last mouse press hit.
namespace rt::listzone {

inline constexpr int kNone = 0;       // no press reported yet (the list was only used by keys)
inline constexpr int kRow = 1;        // a cell of one of the rows
inline constexpr int kHeader = 2;     // the column header
inline constexpr int kBelowRows = 3;  // the empty area below the last row

}  // namespace rt::listzone
