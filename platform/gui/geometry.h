// Points and rectangles in device pixels: x to the right, y downwards, origin at the top left,
// and the two ways the drawing code turns other numbers into pixel coordinates.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/core/number_text.h"

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

// A 64-bit coordinate held within the int range.
inline int Saturate(std::int64_t value) {
  return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                   std::numeric_limits<int>::max()));
}

// A fraction to a whole number, halves to the even neighbour. Past the int range (and for NaN)
// the result is held at the range's ends, which lie off any surface.
inline int RoundToInt(double value) {
  const double rounded = platform::RoundHalfEven(value);
  if (!(rounded > std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  if (rounded >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(rounded);
}

}  // namespace gui
