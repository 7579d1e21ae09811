#include "platform/gui/region.h"

#include <QRect>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace gui {

namespace {

using i64 = std::int64_t;
constexpr i64 kLargestSide = 32767;  // keeps the error terms below within 64 bits

}  // namespace

// Alois Zingl's integer ellipse: one step per pixel, the four quadrants mirrored, and the tips
// of flat ellipses finished by hand.
std::vector<Point> EllipseOutline(const Rect& box) {
  std::vector<Point> out;
  i64 x0 = box.left;
  i64 y0 = box.top;
  i64 x1 = i64{box.right} - 1;
  i64 y1 = i64{box.bottom} - 1;
  if (x1 < x0 || y1 < y0 || x1 - x0 > kLargestSide || y1 - y0 > kLargestSide) return out;
  i64 a = x1 - x0;
  const i64 b = y1 - y0;
  i64 b1 = b & 1;
  i64 dx = 4 * (1 - a) * b * b;
  i64 dy = 4 * (b1 + 1) * a * a;
  i64 err = dx + dy + b1 * a * a;
  y0 += (b + 1) / 2;
  y1 = y0 - b1;
  a = 8 * a * a;
  b1 = 8 * b * b;
  const auto put = [&out](i64 x, i64 y) {
    out.push_back({static_cast<int>(x), static_cast<int>(y)});
  };
  do {
    put(x1, y0);
    put(x0, y0);
    put(x0, y1);
    put(x1, y1);
    const i64 e2 = 2 * err;
    if (e2 <= dy) {
      ++y0;
      --y1;
      dy += a;
      err += dy;
    }
    if (e2 >= dx || 2 * err > dy) {
      ++x0;
      --x1;
      dx += b1;
      err += dx;
    }
  } while (x0 <= x1);
  while (y0 - y1 <= b) {
    put(x0 - 1, y0);
    put(x1 + 1, y0++);
    put(x0 - 1, y1);
    put(x1 + 1, y1--);
  }
  return out;
}

// Walks one quadrant with the same error terms as the outline and records, for each row below
// the middle, how far in the span starts; the rows above mirror them.
QRegion CreateEllipticRgn(int left, int top, int right, int bottom) {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
  // The region covers the box's inside at the right and the bottom only.
  const i64 r = i64{right} - 1;
  const i64 b = i64{bottom} - 1;
  const i64 width = r - left;
  const i64 height = b - top;
  if (width < 2 || height < 2 || width > kLargestSide || height > kLargestSide) {
    return QRegion(QRect(left, top, static_cast<int>(std::max<i64>(width, 0)),
                         static_cast<int>(std::max<i64>(height, 0))));
  }
  std::vector<i64> inset(static_cast<size_t>(height) + 1, 0);  // per row of the lower half
  const i64 a = width - 1;
  const i64 bb = height - 1;
  const i64 asq = 8 * a * a;
  const i64 bsq = 8 * bb * bb;
  i64 dx = 4 * bb * bb * (1 - a);
  i64 dy = 4 * a * a * (1 + bb % 2);
  i64 err = dx + dy + a * a * (bb % 2);
  i64 x = 0;
  i64 y = height / 2;
  while (x <= width / 2) {
    const i64 e2 = 2 * err;
    if (e2 >= dx) {
      ++x;
      dx += bsq;
      err += dx;
    }
    if (e2 <= dy) {
      ++y;
      dy += asq;
      err += dy;
      if (y <= height) inset[static_cast<size_t>(y)] = x;
    }
  }
  QRegion region;
  for (i64 row = 0; row < height; ++row) {
    // Rows above the middle take the inset of their mirror below it.
    const i64 in =
        row < height / 2 ? inset[static_cast<size_t>(bb - row)] : inset[static_cast<size_t>(row)];
    const i64 span = width - 2 * in;
    if (span <= 0) continue;
    region +=
        QRect(static_cast<int>(left + in), static_cast<int>(top + row), static_cast<int>(span), 1);
  }
  return region;
}

}  // namespace gui
