// A solid pen, or the null pen (draws nothing).
#pragma once

#include <algorithm>

#include "platform/gui/color.h"

namespace gui {

class Pen {
 public:
  // The null pen.
  Pen() = default;
  // A solid pen; only the low 24 bits of the colour count. The width (at least 1) is honoured
  // by Ellipse, which centres it on the outline; lines are always one pixel wide.
  explicit Pen(ColorRef color, int width = 1)
      : color_(color), width_(std::max(width, 1)), null_(false) {}

  bool IsNull() const { return null_; }
  ColorRef color() const { return color_; }
  int width() const { return width_; }

 private:
  ColorRef color_ = 0;
  int width_ = 1;
  bool null_ = true;
};

}  // namespace gui
