// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Moves and resizes a window's controls when the window's size changes. Each control has a
// positional strategy (how its left and top edges follow its container) and a resize
// strategy (how its width and height follow); the defaults come from the application
// strategy chosen for the whole window. New positions are always computed from the layout
// recorded at the last Reset, never from the previous resize, so rounding never accumulates.
// Controls inside a container (group, option group, sheet) follow the container.

#include <cstdint>
#include <memory>
#include <vector>

#include "framework/window/ResizeTarget.h"

namespace rt {
class Window;
struct Rect;
}  // namespace rt

// Positional strategies: the low byte for the horizontal edge, the high byte for the
// vertical one; 0 scales the edge's place in both.
inline constexpr std::uint16_t PosScaleX = 0;
inline constexpr std::uint16_t PosFixX = 1;
inline constexpr std::uint16_t PosFixRight = 2;
inline constexpr std::uint16_t PosFixLeft = 4;
inline constexpr std::uint16_t PosFixCentreX = 8;
inline constexpr std::uint16_t PosFixNearestX = 16;
inline constexpr std::uint16_t PosCentreX = 32;
inline constexpr std::uint16_t PosScaleY = 0;
inline constexpr std::uint16_t PosFixY = 256;
inline constexpr std::uint16_t PosFixBottom = 512;
inline constexpr std::uint16_t PosFixTop = 1024;
inline constexpr std::uint16_t PosFixCentreY = 2048;
inline constexpr std::uint16_t PosFixNearestY = 4096;
inline constexpr std::uint16_t PosCentreY = 8192;

// Resize strategies (bits).
inline constexpr std::uint16_t SizeLockWidth = 1;
inline constexpr std::uint16_t SizeLockHeight = 2;
inline constexpr std::uint16_t SizeFixRight = 4;
inline constexpr std::uint16_t SizeFixBottom = 8;
inline constexpr std::uint16_t SizeHalfRight = 16;
inline constexpr std::uint16_t SizeHalfBottom = 32;

class ResizeManager : public ResizeTarget {
 public:
  struct Position {
    std::int32_t XPos = 0;
    std::int32_t YPos = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    bool operator==(const Position&) const = default;
  };
  struct WindowState {
    std::int32_t XPos = 0;
    std::int32_t YPos = 0;
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    std::uint8_t Maximized = 0;
    std::uint8_t Iconized = 0;
  };
  struct ControlQueueEntry {
    std::int32_t ID = 0;
    std::int32_t Type = 0;
    std::uint8_t HasChildren = 0;
    std::uint16_t PositionalStrategy = 0;
    std::uint16_t ResizeStrategy = 0;
    Position Pos;
    std::int32_t ParentID = 0;
  };
  struct ResizeListEntry {
    std::int32_t Priority = 0;
    std::int32_t ControlID = 0;
    std::int32_t Type = 0;
    Position Before;
    Position After;
  };

  std::uint8_t AppStrategy = 0;
  std::uint8_t AutoTransparent = 0;
  WindowState OrigWin;
  std::unique_ptr<std::vector<ControlQueueEntry>> ControlQueue;
  std::uint8_t DeferMoves = 0;
  Position PreviousWin;
  std::uint8_t ResizeCalled = 0;
  std::unique_ptr<std::vector<ResizeListEntry>> ResizeList;

  ResizeManager() = default;
  ResizeManager(const ResizeManager&) = delete;
  ResizeManager& operator=(const ResizeManager&) = delete;
  ~ResizeManager() override;

  virtual std::int32_t GetParentControl(std::int32_t control);  // 0
  virtual void Reset();                                         // 1
  virtual std::int32_t TakeResize();                            // 2
  virtual void Resize(std::int32_t control = 0);                // 3
  virtual void BeforeResize();                                  // 4
  virtual void AfterResize();                                   // 5
  virtual void RestoreWindow();                                 // 6
  virtual void SetParentDefaults();                             // 7
  virtual void SetParent();                                     // 8
  virtual void ComputePosition(const Position& containerBefore, const Position& containerAfter,
                               const ControlQueueEntry& control, Position& result);  // 9

  // Records the window's layout, registers for its size events, and optionally makes its
  // designed size the minimum and/or maximum size.
  void Init(rt::Window& window, std::uint8_t appStrategy = 0, std::uint8_t setMinSize = 0,
            std::uint8_t setMaxSize = 0);
  void Kill() override;
  Position GetPosition(std::int32_t control) const;
  void SetPosition(std::int32_t control, const Position& position);
  void RestoreControls();
  void SetParentId(std::int32_t child, std::int32_t parent);
  // Gives a recorded control strategies of its own in place of its type's defaults.
  void SetStrategy(std::int32_t control, std::uint16_t positional, std::uint16_t resize);
  static std::uint16_t DefaultPositionalStrategy(std::int32_t type, std::uint8_t appStrategy);
  static std::uint16_t DefaultResizeStrategy(std::int32_t type, std::uint8_t appStrategy);

 private:
  void ResizeChildren(std::int32_t parent, const Position& before, const Position& after);
  void SortByPriority(const Position& next);
  ControlQueueEntry* FindControl(std::int32_t id);

  rt::Window* window_ = nullptr;
  std::size_t current_ = 0;  // the ControlQueue record SetParent works on
};
