// Points and rectangles in device pixels: x to the right, y downwards, origin at the top left.
#pragma once

namespace gui {

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

// Half-open: covers columns [left, right) and rows [top, bottom). A rectangle whose right is not
// greater than its left (or bottom not greater than top) covers nothing.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  bool IsEmpty() const { return right <= left || bottom <= top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

}  // namespace gui
