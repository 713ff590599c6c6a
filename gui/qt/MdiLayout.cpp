// SPDX-License-Identifier: GPL-3.0-or-later
#include "gui/qt/MdiLayout.h"

#include <algorithm>
#include <limits>

namespace gui {

namespace {

// The cells of a grid of `cols` columns over the area, row by row, for n windows; a last row
// that is not full shares the whole width among its windows.
std::vector<QRect> GridCells(const QRect& area, int n, int cols) {
  const int rows = (n + cols - 1) / cols;
  std::vector<QRect> cells;
  for (int row = 0; row < rows; ++row) {
    const int inRow = std::min(cols, n - row * cols);
    const int top = area.top() + area.height() * row / rows;
    const int bottom = area.top() + area.height() * (row + 1) / rows;
    for (int col = 0; col < inRow; ++col) {
      const int left = area.left() + area.width() * col / inRow;
      const int right = area.left() + area.width() * (col + 1) / inRow;
      cells.emplace_back(QPoint(left, top), QSize(right - left, bottom - top));
    }
  }
  return cells;
}

// A window of `size` placed at `at`, moved back up and left as far as needed to stay inside
// the area.
QRect Inside(const QRect& area, QPoint at, QSize size) {
  at.setX(std::max(area.left(), std::min(at.x(), area.left() + area.width() - size.width())));
  at.setY(std::max(area.top(), std::min(at.y(), area.top() + area.height() - size.height())));
  return QRect(at, size);
}

}  // namespace

std::vector<QRect> MdiLayout::Tile(const QRect& area, const std::vector<Item>& items) {
  const int n = static_cast<int>(items.size());
  if (n == 0) return {};
  // Every grid is weighed: one whose cells hold each window at its minimum size beats one
  // that does not; among those alike, the one that shrinks the windows' shapes least wins.
  std::vector<QRect> best;
  bool bestFits = false;
  double bestScore = -1.0;
  for (int cols = 1; cols <= n; ++cols) {
    const std::vector<QRect> cells = GridCells(area, n, cols);
    bool fits = true;
    double score = std::numeric_limits<double>::max();
    for (int i = 0; i < n; ++i) {
      const Item& item = items[static_cast<std::size_t>(i)];
      const QSize cell = cells[static_cast<std::size_t>(i)].size();
      fits = fits && cell.width() >= item.minimum.width() && cell.height() >= item.minimum.height();
      const QSize shape = item.size.expandedTo(item.minimum).expandedTo(QSize(1, 1));
      score = std::min({score, static_cast<double>(cell.width()) / shape.width(),
                        static_cast<double>(cell.height()) / shape.height()});
    }
    if (best.empty() || (fits && !bestFits) || (fits == bestFits && score > bestScore)) {
      best = cells;
      bestFits = fits;
      bestScore = score;
    }
  }
  std::vector<QRect> placed;
  for (int i = 0; i < n; ++i) {
    const Item& item = items[static_cast<std::size_t>(i)];
    const QRect cell = best[static_cast<std::size_t>(i)];
    const QSize size = cell.size().boundedTo(item.maximum).expandedTo(item.minimum);
    placed.push_back(Inside(area, cell.topLeft(), size));
  }
  return placed;
}

std::vector<QRect> MdiLayout::Cascade(const QRect& area, const std::vector<Item>& items, int step) {
  std::vector<QRect> placed;
  int offset = 0;
  for (const Item& item : items) {
    // A window too large for its place on the diagonal gives up what it must, down to its
    // minimum size; when even that does not fit, the diagonal starts again.
    const auto sizeAt = [&item, &area](int at) {
      return item.size.boundedTo(area.size() - QSize(at, at)).expandedTo(item.minimum);
    };
    QSize size = sizeAt(offset);
    if (offset > 0 &&
        (offset + size.width() > area.width() || offset + size.height() > area.height())) {
      offset = 0;
      size = sizeAt(0);
    }
    placed.push_back(Inside(area, area.topLeft() + QPoint(offset, offset), size));
    offset += std::max(1, step);
  }
  return placed;
}

}  // namespace gui
