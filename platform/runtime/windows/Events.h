// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The runtime's event numbers and key codes.

namespace rt {

// Field events: they concern a control.
namespace event {
inline constexpr int kAccepted = 1;
inline constexpr int kNewSelection = 2;
inline constexpr int kScrollUp = 3;
inline constexpr int kScrollDown = 4;
inline constexpr int kPageUp = 5;
inline constexpr int kPageDown = 6;
inline constexpr int kScrollTop = 7;
inline constexpr int kScrollBottom = 8;
inline constexpr int kLocate = 9;
inline constexpr int kMouseDown = 10;
inline constexpr int kMouseUp = 11;
inline constexpr int kMouseIn = 12;
inline constexpr int kMouseOut = 13;
inline constexpr int kMouseMove = 14;
inline constexpr int kAlertKey = 15;
inline constexpr int kPreAlertKey = 16;
inline constexpr int kDragging = 17;
inline constexpr int kDrag = 18;
inline constexpr int kDrop = 19;
inline constexpr int kScrollDrag = 20;
inline constexpr int kTabChanging = 21;
inline constexpr int kExpanding = 22;
inline constexpr int kContracting = 23;
inline constexpr int kExpanded = 24;
inline constexpr int kContracted = 25;
inline constexpr int kRejected = 26;
inline constexpr int kDroppingDown = 27;
inline constexpr int kDroppedDown = 28;
inline constexpr int kScrollTrack = 29;
inline constexpr int kColumnResize = 30;
inline constexpr int kSelecting = 31;
inline constexpr int kSelected = 32;
// Files dragged from the desktop were dropped on the control (EventMessage::files).
inline constexpr int kDroppedFiles = 33;
inline constexpr int kLastField = 0x1FF;

// Window events: they concern no control.
inline constexpr int kCloseWindow = 0x201;
inline constexpr int kCloseDown = 0x202;
inline constexpr int kOpenWindow = 0x203;
inline constexpr int kOpenFailed = 0x204;
inline constexpr int kLoseFocus = 0x205;
inline constexpr int kGainFocus = 0x206;
inline constexpr int kSuspend = 0x208;
inline constexpr int kResume = 0x209;
inline constexpr int kNotify = 0x20A;
inline constexpr int kTimer = 0x20B;
inline constexpr int kMove = 0x220;
inline constexpr int kSize = 0x221;
inline constexpr int kRestore = 0x222;
inline constexpr int kMaximize = 0x223;
inline constexpr int kIconize = 0x224;
inline constexpr int kCompleted = 0x225;
inline constexpr int kMoved = 0x230;
inline constexpr int kSized = 0x231;
inline constexpr int kRestored = 0x232;
inline constexpr int kMaximized = 0x233;
inline constexpr int kIconized = 0x234;
// The internal resize event, posted by the window engine after every Sized event.
inline constexpr int kResize = 0x3FF;
// Events from this number up are the application's own.
inline constexpr int kUser = 0x400;
}  // namespace event

constexpr bool IsFieldEvent(int e) {
  return e > 0 && e <= event::kLastField;
}

// Key codes: a base code plus modifier bits.
namespace key {
inline constexpr int kMouseLeft = 1;
inline constexpr int kMouseRight = 2;
inline constexpr int kMouseCenter = 3;
inline constexpr int kMouseLeft2 = 5;  // double-click
inline constexpr int kMouseRight2 = 6;
inline constexpr int kRelease = 0x80;  // added to a mouse code when the button is released
inline constexpr int kMouseRightUp = kMouseRight + kRelease;
inline constexpr int kBackspace = 8;
inline constexpr int kTab = 9;
inline constexpr int kEnter = 13;
inline constexpr int kEsc = 27;
inline constexpr int kSpace = 32;
inline constexpr int kPgUp = 33;
inline constexpr int kPgDn = 34;
inline constexpr int kEnd = 35;
inline constexpr int kHome = 36;
inline constexpr int kLeft = 37;
inline constexpr int kUp = 38;
inline constexpr int kRight = 39;
inline constexpr int kDown = 40;
inline constexpr int kInsert = 45;
inline constexpr int kDelete = 46;
inline constexpr int kApps = 93;
inline constexpr int kF1 = 112;
inline constexpr int kShift = 0x100;
inline constexpr int kCtrl = 0x200;
inline constexpr int kAlt = 0x400;
inline constexpr int kCtrlEnter = kCtrl + kEnter;
inline constexpr int kShiftEnter = kShift + kEnter;
inline constexpr int kCtrlH = kCtrl + 'H';  // 584
}  // namespace key

}  // namespace rt
