// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where Tile and Cascade put the windows of an MDI area. Every window is given a place that
// lies inside the area whenever its minimum size lets it: tiling picks the grid whose cells
// hold every window at or above its minimum size and best keep the windows' shapes, and
// when no grid does, the windows overlap rather than hang out of the area.

#include <QRect>
#include <QSize>
#include <vector>

namespace gui {

class MdiLayout {
 public:
  struct Item {
    QSize size;     // the window's size now (its shape is kept as far as the cells allow)
    QSize minimum;  // the least size it may take
    QSize maximum;  // the largest
  };

  // One rectangle per item, in the order given, within `area`.
  static std::vector<QRect> Tile(const QRect& area, const std::vector<Item>& items);
  // Each window a `step` further down and right than the one before, at its own size (cut
  // to what is left of the area there, when larger); the diagonal starts again at the top
  // left corner before a window would leave the area.
  static std::vector<QRect> Cascade(const QRect& area, const std::vector<Item>& items, int step);
};

}  // namespace gui
