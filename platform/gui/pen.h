// A cosmetic pen: one pixel wide, solid, or null (draws nothing).
#pragma once

#include "platform/gui/color.h"

namespace gui {

class Pen {
 public:
  // The null pen.
  Pen() = default;
  // A solid one-pixel pen; only the low 24 bits of the colour count.
  explicit Pen(ColorRef color) : color_(color), null_(false) {}

  bool IsNull() const { return null_; }
  ColorRef color() const { return color_; }

 private:
  ColorRef color_ = 0;
  bool null_ = true;
};

}  // namespace gui
