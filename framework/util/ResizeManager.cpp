// SPDX-License-Identifier: GPL-3.0-or-later
#include "framework/util/ResizeManager.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <initializer_list>

#include "platform/runtime/windows/Events.h"
#include "platform/runtime/windows/Properties.h"
#include "platform/runtime/windows/Window.h"
#include "platform/runtime/windows/WindowDef.h"

namespace {

// The window events a resize manager follows: the internal resize event, restored, gain
// focus and maximized.
constexpr int kResizeEvents[] = {rt::event::kResize, rt::event::kRestored, rt::event::kGainFocus,
                                 rt::event::kMaximized};

bool OneOf(std::int32_t type, std::initializer_list<std::int32_t> types) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

// Scale factors are kept to 4 decimal places.
double Factor(std::int32_t after, std::int32_t before) {
  if (before == 0) return 1.0;
  return std::round(static_cast<double>(after) / before * 10000.0) / 10000.0;
}

std::int32_t Whole(double value) {
  return static_cast<std::int32_t>(std::lround(value));
}

ResizeManager::Position FromRect(const rt::Rect& r) {
  return {r.x, r.y, r.width, r.height};
}

}  // namespace

ResizeManager::~ResizeManager() {
  Kill();
}

// ---- Virtual operations ----

std::int32_t ResizeManager::GetParentControl(std::int32_t control) {
  const ControlQueueEntry* entry = FindControl(control);
  return entry ? entry->ParentID : 0;
}

void ResizeManager::Reset() {
  if (window_ == nullptr || !ControlQueue) return;
  rt::Window& w = *window_;
  const Position win = GetPosition(0);
  OrigWin = {win.XPos,
             win.YPos,
             win.Width,
             win.Height,
             static_cast<std::uint8_t>(w.PropNumber(0, rt::prop::kMaximized) != 0),
             static_cast<std::uint8_t>(w.PropNumber(0, rt::prop::kIconized) != 0)};
  PreviousWin = win;
  for (long id = w.PropNumber(0, rt::prop::kNextControl); id != 0;
       id = w.PropNumber(static_cast<int>(id), rt::prop::kNextControl)) {
    const auto control = static_cast<std::int32_t>(id);
    if (ControlQueueEntry* known = FindControl(control)) {
      known->Pos = GetPosition(control);
      continue;
    }
    if (w.PropNumber(control, rt::prop::kSkip) != 0) continue;
    std::int32_t type = w.Type(control);
    if (type < 1 || type > 127 || OneOf(type, {19, 20, 22, 24, 25, 38})) continue;
    if (type == rt::ctl::kList && w.PropNumber(control, rt::prop::kEditInPlace) != 0)
      type = rt::ctl::kEntry;
    ControlQueueEntry entry;
    entry.ID = control;
    entry.Type = type;
    entry.Pos = GetPosition(control);
    entry.PositionalStrategy = DefaultPositionalStrategy(type, AppStrategy);
    entry.ResizeStrategy = DefaultResizeStrategy(type, AppStrategy);
    auto at = std::lower_bound(
        ControlQueue->begin(), ControlQueue->end(), control,
        [](const ControlQueueEntry& e, std::int32_t value) { return e.ID < value; });
    ControlQueue->insert(at, entry);
  }
  ResizeCalled = 0;
}

std::int32_t ResizeManager::TakeResize() {
  Resize(0);
  return 0;
}

void ResizeManager::Resize(std::int32_t control) {
  if (window_ == nullptr || !ControlQueue || !ResizeList) return;
  rt::Window& w = *window_;
  ResizeList->clear();
  const Position next = GetPosition(control);
  if (ControlQueue->empty()) return;
  if (control == 0 && next.Width == PreviousWin.Width && next.Height == PreviousWin.Height) return;
  if (control == 0) BeforeResize();
  long deferred = 0;
  if (DeferMoves) {
    deferred = w.PropNumber(0, rt::prop::kDeferMove);
    w.SetProp(0, rt::prop::kDeferMove, static_cast<long>(ControlQueue->size()));
  }
  if (next.Width == OrigWin.Width && next.Height == OrigWin.Height && control == 0) {
    // Back at the designed size: the designed layout comes back exactly.
    RestoreControls();
  } else {
    Position before;
    Position after;
    if (control == 0) {
      before = {0, 0, OrigWin.Width, OrigWin.Height};
      after = {0, 0, next.Width, next.Height};
    } else {
      const ControlQueueEntry* entry = FindControl(control);
      before = entry ? entry->Pos : next;
      after = next;
    }
    ResizeChildren(control, before, after);
    if (!DeferMoves) SortByPriority(next);
    for (const ResizeListEntry& r : *ResizeList)
      if (!(r.Before == r.After)) SetPosition(r.ControlID, r.After);
  }
  if (DeferMoves) w.SetProp(0, rt::prop::kDeferMove, deferred < 0 ? deferred : 0L);
  ResizeCalled = 1;
  if (control == 0) PreviousWin = next;
  if (control == 0) AfterResize();
}

void ResizeManager::BeforeResize() {}

void ResizeManager::AfterResize() {}

void ResizeManager::RestoreWindow() {
  if (window_ == nullptr) return;
  rt::Window& w = *window_;
  w.SetProp(0, rt::prop::kMaximized, static_cast<long>(OrigWin.Maximized));
  w.SetProp(0, rt::prop::kIconized, static_cast<long>(OrigWin.Iconized));
  rt::Rect pos = w.Position(0);
  pos.width = OrigWin.Width;
  pos.height = OrigWin.Height;
  w.SetPosition(0, pos);
  PreviousWin = GetPosition(0);
  RestoreControls();
}

void ResizeManager::SetParentDefaults() {
  if (!ControlQueue) return;
  for (current_ = 0; current_ < ControlQueue->size(); ++current_)
    SetParent();
}

void ResizeManager::SetParent() {
  if (window_ == nullptr || !ControlQueue || current_ >= ControlQueue->size()) return;
  rt::Window& w = *window_;
  const ControlQueueEntry me = (*ControlQueue)[current_];
  std::int32_t child = me.ID;
  auto parent = static_cast<std::int32_t>(w.PropNumber(child, rt::prop::kParent));
  if (parent != 0) {
    // A control on a tab belongs to the tab's sheet: tabs are not resized themselves.
    while (parent != 0 && w.Type(parent) == rt::ctl::kTab) {
      child = parent;
      parent = static_cast<std::int32_t>(w.PropNumber(parent, rt::prop::kParent));
    }
    SetParentId(child, parent);
    return;
  }
  if (!OneOf(me.Type, {rt::ctl::kGroup, rt::ctl::kOption, rt::ctl::kTab, rt::ctl::kSheet})) return;
  const Position& box = me.Pos;
  for (const ControlQueueEntry& other : *ControlQueue) {
    if (other.ID == me.ID || other.ID == me.ParentID) continue;
    const Position& p = other.Pos;
    if (p.XPos >= box.XPos && p.XPos <= box.XPos + box.Width - 1 && p.YPos >= box.YPos &&
        p.YPos <= box.YPos + box.Height - 1)
      SetParentId(other.ID, me.ID);
  }
}

namespace {

// The same positional rules on either axis: keep the position, keep the margin at the end
// or at the start, keep the offset from the centre, stay centred, or scale.
enum class AxisRule { Fixed, FixEnd, FixStart, FixCentre, Centre, Scale };

struct Axis {
  std::int32_t own;          // the control's position
  std::int32_t beforeStart;  // the parent's position and size before and after
  std::int32_t beforeSize;
  std::int32_t afterStart;
  std::int32_t afterSize;
  double scale;
  bool locked;  // the control's size on this axis does not scale
};

// An axis's position codes, in the order of the rules they stand for (Fixed to Centre); any
// other code scales.
using AxisCodes = std::array<std::uint16_t, 5>;
constexpr AxisCodes kHorizontalCodes{PosFixX, PosFixRight, PosFixLeft, PosFixCentreX, PosCentreX};
constexpr AxisCodes kVerticalCodes{PosFixY, PosFixBottom, PosFixTop, PosFixCentreY, PosCentreY};

AxisRule RuleOf(std::uint16_t code, const AxisCodes& codes) {
  for (std::size_t i = 0; i < codes.size(); ++i)
    if (code == codes[i]) return static_cast<AxisRule>(i);
  return AxisRule::Scale;
}

double AxisPosition(AxisRule rule, const Axis& a) {
  const double rel = static_cast<double>(a.own) - a.beforeStart;
  const double factor = a.locked ? 1.0 : a.scale;
  switch (rule) {
    case AxisRule::Fixed:
      return a.own;
    case AxisRule::FixEnd:
      return a.afterStart + a.afterSize - (a.beforeSize - rel) * factor;
    case AxisRule::FixStart:
      return a.afterStart + rel;
    case AxisRule::FixCentre:
      return a.afterStart + a.afterSize / 2.0 + (rel - a.beforeSize / 2.0) * factor;
    case AxisRule::Centre:
      return a.own + (a.afterStart - a.beforeStart) + a.afterSize / 2.0 - a.beforeSize / 2.0;
    case AxisRule::Scale:
      break;
  }
  return a.afterStart + rel * a.scale;
}

}  // namespace

void ResizeManager::ComputePosition(const Position& before, const Position& after,
                                    const ControlQueueEntry& control, Position& result) {
  const Position& c = control.Pos;
  const std::uint16_t sizing = control.ResizeStrategy;
  std::uint16_t horizontal = control.PositionalStrategy & 0x00FF;
  std::uint16_t vertical = control.PositionalStrategy & 0xFF00;
  const double sx = Factor(after.Width, before.Width);
  const double sy = Factor(after.Height, before.Height);
  const double rx = c.XPos - before.XPos;
  const double ry = c.YPos - before.YPos;
  const bool lockWidth = (sizing & SizeLockWidth) != 0;
  const bool lockHeight = (sizing & SizeLockHeight) != 0;

  double width = c.Width;
  double height = c.Height;
  if (!(sizing & (SizeFixRight | SizeHalfRight))) width = c.Width * (lockWidth ? 1.0 : sx);
  if (!(sizing & (SizeFixBottom | SizeHalfBottom))) height = c.Height * (lockHeight ? 1.0 : sy);

  if (horizontal == PosFixNearestX)
    horizontal = rx < before.Width - rx - c.Width ? PosFixLeft : PosFixRight;
  if (vertical == PosFixNearestY)
    vertical = ry < before.Height - ry - c.Height ? PosFixTop : PosFixBottom;

  const double x =
      AxisPosition(RuleOf(horizontal, kHorizontalCodes),
                   {c.XPos, before.XPos, before.Width, after.XPos, after.Width, sx, lockWidth});
  const double y =
      AxisPosition(RuleOf(vertical, kVerticalCodes),
                   {c.YPos, before.YPos, before.Height, after.YPos, after.Height, sy, lockHeight});
  result.XPos = Whole(x);
  result.YPos = Whole(y);

  // How far the right and bottom edges must move to keep their margins.
  const double dx = (after.XPos + after.Width) - (before.Width - rx) - result.XPos;
  if (sizing & SizeFixRight)
    width = c.Width + dx;
  else if (sizing & SizeHalfRight)
    width = c.Width + dx / 2.0;
  const double dy = (after.YPos + after.Height) - (before.Height - ry) - result.YPos;
  if (sizing & SizeFixBottom)
    height = c.Height + dy;
  else if (sizing & SizeHalfBottom)
    height = c.Height + dy / 2.0;
  result.Width = Whole(width);
  result.Height = Whole(height);
}

// ---- Non-virtual operations ----

void ResizeManager::Init(rt::Window& window, std::uint8_t appStrategy, std::uint8_t setMinSize,
                         std::uint8_t setMaxSize) {
  Kill();
  window_ = &window;
  ControlQueue = std::make_unique<std::vector<ControlQueueEntry>>();
  ResizeList = std::make_unique<std::vector<ResizeListEntry>>();
  AppStrategy = appStrategy;
  for (int event : kResizeEvents)
    window.RegisterEvent(event, this, [this] { return TakeResize(); });
  window.SetProp(0, rt::prop::kResizeRegistered, 1L);
  Reset();
  if (AppStrategy == 2 || AppStrategy == 4) SetParentDefaults();
  if (setMinSize) {
    window.SetProp(0, rt::prop::kMinWidth, static_cast<long>(OrigWin.Width));
    window.SetProp(0, rt::prop::kMinHeight, static_cast<long>(OrigWin.Height));
  }
  if (setMaxSize) {
    window.SetProp(0, rt::prop::kMaxWidth, static_cast<long>(OrigWin.Width));
    window.SetProp(0, rt::prop::kMaxHeight, static_cast<long>(OrigWin.Height));
  }
  DeferMoves = 1;
}

void ResizeManager::Kill() {
  if (window_ != nullptr) {
    for (int event : kResizeEvents)
      window_->UnregisterEvent(event, this);
    window_ = nullptr;
  }
  ControlQueue.reset();
  ResizeList.reset();
}

ResizeManager::Position ResizeManager::GetPosition(std::int32_t control) const {
  if (window_ == nullptr) return {};
  Position p = FromRect(window_->Position(control));
  if (control == 0) {
    p.Width = static_cast<std::int32_t>(window_->PropNumber(0, rt::prop::kClientWidth));
    p.Height = static_cast<std::int32_t>(window_->PropNumber(0, rt::prop::kClientHeight));
  }
  return p;
}

void ResizeManager::SetPosition(std::int32_t control, const Position& position) {
  if (window_ == nullptr) return;
  const Position now = GetPosition(control);
  if (now == position) return;
  rt::Rect r{position.XPos, position.YPos, position.Width, position.Height};
  if (window_->PropNumber(control, rt::prop::kFullWidth) != 0) r.width = now.Width;
  if (window_->PropNumber(control, rt::prop::kFullHeight) != 0) r.height = now.Height;
  window_->SetPosition(control, r);
}

void ResizeManager::RestoreControls() {
  if (!ControlQueue) return;
  for (const ControlQueueEntry& entry : *ControlQueue)
    SetPosition(entry.ID, entry.Pos);
}

void ResizeManager::SetParentId(std::int32_t child, std::int32_t parent) {
  if (child == parent) return;
  if (ControlQueueEntry* entry = FindControl(child)) entry->ParentID = parent;
  if (parent != 0)
    if (ControlQueueEntry* container = FindControl(parent)) container->HasChildren = 1;
}

void ResizeManager::SetStrategy(std::int32_t control, std::uint16_t positional,
                                std::uint16_t resize) {
  if (ControlQueueEntry* entry = FindControl(control)) {
    entry->PositionalStrategy = positional;
    entry->ResizeStrategy = resize;
  }
}

std::uint16_t ResizeManager::DefaultPositionalStrategy(std::int32_t type,
                                                       std::uint8_t appStrategy) {
  const bool buttonLike = OneOf(type, {9, 12, 21});
  switch (appStrategy) {
    case 1:
      return buttonLike ? 4112 : 0;
    case 2:
      if (OneOf(type, {1, 2, 8, 10, 15, 16, 34})) return 1024;
      if (OneOf(type, {3, 4, 11, 13, 14, 37, 39})) return 1028;
      return buttonLike ? 4112 : 0;
    case 3:
      return 257;
    case 4:
      if (OneOf(type, {1, 2, 3, 4, 8, 10, 11, 13, 14, 15, 16, 17, 34, 37, 39, 40})) return 1028;
      return buttonLike ? 4112 : 0;
    case 5:
      return 2056;
    default:
      return 0;
  }
}

std::uint16_t ResizeManager::DefaultResizeStrategy(std::int32_t type, std::uint8_t appStrategy) {
  const bool buttonLike = OneOf(type, {9, 12, 21});
  switch (appStrategy) {
    case 1:
      if (buttonLike) return 3;
      return OneOf(type, {8, 15, 16, 34}) ? 2 : 0;
    case 2:
      if (OneOf(type, {1, 2, 8, 10, 15, 16, 34})) return 2;
      if (OneOf(type, {3, 4, 11, 13, 14, 37, 39})) return 12;
      return buttonLike ? 3 : 0;
    case 3:
    case 5:
      return 3;
    case 4:
      if (OneOf(type, {1, 2, 9, 10, 12, 21})) return 3;
      if (OneOf(type, {3, 4, 11, 13, 14, 17, 37, 39, 40})) return 12;
      return OneOf(type, {8, 15, 16, 34}) ? 6 : 0;
    default:
      return 0;
  }
}

// ---- Helpers ----

void ResizeManager::ResizeChildren(std::int32_t parent, const Position& before,
                                   const Position& after) {
  for (const ControlQueueEntry& entry : *ControlQueue) {
    if (entry.ParentID != parent) continue;
    ResizeListEntry r;
    r.ControlID = entry.ID;
    r.Type = entry.Type;
    r.Before = GetPosition(entry.ID);
    ComputePosition(before, after, entry, r.After);
    ResizeList->push_back(r);
    if (entry.HasChildren &&
        (!(r.After == r.Before) || window_->PropNumber(entry.ID, rt::prop::kHasChildren) != 0))
      ResizeChildren(entry.ID, entry.Pos, r.After);
  }
}

void ResizeManager::SortByPriority(const Position& next) {
  const bool widthChanged = next.Width != PreviousWin.Width;
  const bool heightChanged = next.Height != PreviousWin.Height;
  for (ResizeListEntry& r : *ResizeList) {
    if (widthChanged && heightChanged)
      r.Priority = r.After.XPos * r.After.XPos + r.After.YPos * r.After.YPos;
    else if (heightChanged)
      r.Priority = r.After.YPos;
    else
      r.Priority = r.After.XPos;
  }
  const auto square = [](const Position& p) {
    return static_cast<long long>(p.Width) * p.Width + static_cast<long long>(p.Height) * p.Height;
  };
  const bool grew = square(PreviousWin) <= square(next);
  std::stable_sort(ResizeList->begin(), ResizeList->end(),
                   [grew](const ResizeListEntry& a, const ResizeListEntry& b) {
                     return grew ? a.Priority > b.Priority : a.Priority < b.Priority;
                   });
}

ResizeManager::ControlQueueEntry* ResizeManager::FindControl(std::int32_t id) {
  if (!ControlQueue) return nullptr;
  auto it =
      std::lower_bound(ControlQueue->begin(), ControlQueue->end(), id,
                       [](const ControlQueueEntry& e, std::int32_t value) { return e.ID < value; });
  return it != ControlQueue->end() && it->ID == id ? &*it : nullptr;
}
