#include "platform/gui/brush.h"

#include <array>

namespace gui {

namespace {

// Rows top to bottom, bit 7 = leftmost pixel; the platform's own hatch bitmaps.
constexpr std::array<std::array<unsigned char, 8>, 6> kHatches = {{
    {0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00},  // horizontal
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},  // vertical
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // forward diagonal
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // backward diagonal
    {0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08, 0x08},  // cross
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // diagonal cross
}};

}  // namespace

std::optional<HatchStyle> HatchStyleFromInt(int style) {
  if (style < 0 || style >= static_cast<int>(kHatches.size())) return std::nullopt;
  return static_cast<HatchStyle>(style);
}

unsigned char HatchRow(HatchStyle style, int row) {
  return kHatches[static_cast<size_t>(style)][static_cast<size_t>(row & 7)];
}

Brush Brush::Solid(ColorRef color) {
  Brush b;
  b.kind_ = Kind::kSolid;
  b.color_ = color;
  return b;
}

Brush Brush::Hatch(HatchStyle style, ColorRef color) {
  Brush b;
  b.kind_ = Kind::kHatch;
  b.hatch_style_ = style;
  b.color_ = color;
  return b;
}

Brush Brush::Pattern(const Surface& bitmap) {
  Brush b;
  if (bitmap.IsNull()) return b;
  b.kind_ = Kind::kPattern;
  b.pattern_ = bitmap;
  return b;
}

}  // namespace gui
