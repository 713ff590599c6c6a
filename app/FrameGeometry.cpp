// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FrameGeometry.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "app/Globals.h"
#include "framework/util/IniManager.h"
#include "platform/runtime/threads/ErrorCodes.h"

namespace {

// The smallest frame worth restoring, and the largest size any screen could show.
constexpr int kLeastWidth = 200;
constexpr int kLeastHeight = 150;
constexpr int kMostExtent = 32767;
// How much of the frame's top edge a screen must show for the user to grab it.
constexpr int kGrabWidth = 100;
constexpr int kGrabHeight = 20;

std::optional<int> Number(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace

std::optional<rt::Placement> FrameGeometry::Load(IniManager& ini,
                                                 const std::vector<rt::Rect>& screens) {
  const auto x = Number(ini.FetchValue(kFrameSection, "X"));
  const auto y = Number(ini.FetchValue(kFrameSection, "Y"));
  const auto width = Number(ini.FetchValue(kFrameSection, "Width"));
  const auto height = Number(ini.FetchValue(kFrameSection, "Height"));
  const auto maximized = Number(ini.FetchValue(kFrameSection, "Maximized"));
  if (!x || !y || !width || !height) return std::nullopt;
  const rt::Placement placement{*x, *y, *width, *height, maximized.value_or(0) != 0};
  if (!Usable(placement, screens)) return std::nullopt;
  return placement;
}

int FrameGeometry::Save(IniManager& ini, const rt::Placement& p) {
  return ini.Batch([&] {
    const std::pair<const char*, int> entries[] = {{"X", p.x},
                                                   {"Y", p.y},
                                                   {"Width", p.width},
                                                   {"Height", p.height},
                                                   {"Maximized", p.maximized ? 1 : 0}};
    for (const auto& [entry, value] : entries)
      if (const int e = ini.UpdateValue(kFrameSection, entry, std::to_string(value)); e != 0)
        return e;
    return rt::kNoError;
  });
}

bool FrameGeometry::Usable(const rt::Placement& p, const std::vector<rt::Rect>& screens) {
  if (p.width < kLeastWidth || p.height < kLeastHeight || p.width > kMostExtent ||
      p.height > kMostExtent)
    return false;
  if (screens.empty()) return true;
  // Coordinates far outside any desktop would overflow the sums below.
  if (p.x < -kMostExtent || p.x > kMostExtent || p.y < -kMostExtent || p.y > kMostExtent)
    return false;
  const int grabWidth = std::min(kGrabWidth, p.width);
  return std::any_of(screens.begin(), screens.end(), [&](const rt::Rect& s) {
    const int left = std::max(p.x, s.x);
    const int right = std::min(p.x + p.width, s.x + s.width);
    const int top = std::max(p.y, s.y);
    const int bottom = std::min(p.y + kGrabHeight, s.y + s.height);
    return right - left >= grabWidth && bottom - top >= kGrabHeight;
  });
}

void FrameGeometry::Restore(int windowId) {
  const auto backend = rt::Backend();
  if (const auto placement = Load(IniMgr(), backend->ScreenAreas()))
    backend->PlaceWindow(windowId, *placement);
}

void FrameGeometry::Remember(int windowId) {
  rt::Placement placement;
  // Nothing to keep when the screen cannot say where the frame stands.
  if (rt::Backend()->WindowPlacement(windowId, placement))
    static_cast<void>(Save(IniMgr(), placement));
}
