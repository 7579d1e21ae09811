// Brushes: solid, hatched or patterned, or null (paints nothing).
//
// Hatched and patterned brushes are anchored at the device context's brush origin, not at the
// shape they fill: pixel (x, y) of a surface always takes the same pattern bit, whatever
// rectangle is filled.
#pragma once

#include <optional>

#include "platform/gui/color.h"
#include "platform/gui/surface.h"

namespace gui {

enum class HatchStyle : int {
  kHorizontal = 0,  // ----
  kVertical = 1,    // ||||
  kFDiagonal = 2,   // \\\\ (x = y)
  kBDiagonal = 3,   // //// (x = 7 - y)
  kCross = 4,       // ++++
  kDiagCross = 5,   // xxxx
};

// The style with this number, or nothing when there is none.
std::optional<HatchStyle> HatchStyleFromInt(int style);

// The 8 x 8 hatch pattern: row r (0 = top) of `style`; bit 7 is the leftmost pixel.
unsigned char HatchRow(HatchStyle style, int row);

class Brush {
 public:
  enum class Kind { kNull, kSolid, kHatch, kPattern };

  // The null brush.
  Brush() = default;

  static Brush Solid(ColorRef color);
  // Set pattern bits take `color`; clear ones the context's background colour when its
  // background mode is opaque, else they are left alone.
  static Brush Hatch(HatchStyle style, ColorRef color);
  // Tiles the whole bitmap (any size) from the brush origin; a null bitmap gives the null brush.
  static Brush Pattern(const Surface& bitmap);

  Kind kind() const { return kind_; }
  ColorRef color() const { return color_; }
  HatchStyle hatch_style() const { return hatch_style_; }
  const Surface& pattern() const { return pattern_; }

 private:
  Kind kind_ = Kind::kNull;
  ColorRef color_ = 0;
  HatchStyle hatch_style_ = HatchStyle::kHorizontal;
  Surface pattern_;
};

}  // namespace gui
