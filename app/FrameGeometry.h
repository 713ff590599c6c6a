// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The frame's size and place on the desktop, kept in the INI file between runs: remembered
// when the frame closes, put back when it opens. A saved place that no screen shows enough
// of to grab the frame, or a size no screen could hold, is ignored: the frame then starts
// where the desktop puts it. A maximised frame comes back maximised (over the place it
// had before it was maximised).

#include <optional>
#include <vector>

#include "platform/runtime/windows/UiBackend.h"

class IniManager;

inline constexpr char kFrameSection[] = "Frame";

class FrameGeometry {
 public:
  // The saved placement; nothing when none is saved, a value is not a number, or it is not
  // Usable on these screens.
  static std::optional<rt::Placement> Load(IniManager& ini, const std::vector<rt::Rect>& screens);
  // Stores the placement in one write; returns the runtime's error code.
  static int Save(IniManager& ini, const rt::Placement& placement);
  // Whether a frame placed so can be seen and moved: its size is sane, and a screen shows
  // enough of its top edge to grab it. Screens unknown: the size alone decides.
  static bool Usable(const rt::Placement& placement, const std::vector<rt::Rect>& screens);

  // Puts the frame window where the INI file says; remembers where it stands now.
  static void Restore(int windowId);
  static void Remember(int windowId);
};
