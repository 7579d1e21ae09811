// The device context: draws into a Surface by the classic raster rules.
//
// This is the one place that knows pixel rules; the controls speak only in these calls.
// - Rectangles are half-open: FillRect(l, t, r, b) paints columns l..r-1 and rows t..b-1; an
//   empty or inverted rectangle paints nothing.
// - LineTo draws from the current position up to, not including, the end point, which becomes
//   the current position. Each pixel is the one nearest the ideal line on the minor axis; an
//   exact tie goes to the smaller minor coordinate, whichever way the line runs.
// - Hatch and pattern brushes are anchored at the surface's origin, not at the shape they fill.
// - Everything is clipped to the surface; coordinates may lie anywhere in the int range.
// Colours are 0x00BBGGRR; only the low 24 bits are read (resolve system colours first).
//
// Pens, brushes and fonts are values: selecting one copies it into the context and returns the
// one it replaces. Use ScopedSelect to put the previous one back at the end of a scope.
#pragma once

#include <string_view>
#include <utility>

#include "platform/gui/brush.h"
#include "platform/gui/color.h"
#include "platform/gui/font.h"
#include "platform/gui/geometry.h"
#include "platform/gui/pen.h"
#include "platform/gui/surface.h"

namespace gui {

enum class BkMode { kTransparent = 1, kOpaque = 2 };

// Edge kinds: an outer ring, or an outer and an inner ring (the ones the looks draw).
enum class Edge : unsigned {
  kSunkenOuter = 0x2,
  kEtched = 0x6,  // sunken outer + raised inner
  kBump = 0x9,    // raised outer + sunken inner
};

enum class EdgeFlags : unsigned {
  kRect = 0x000F,  // all four sides
};

// Raster operations of PatBlt.
enum class Rop {
  kPatCopy,  // the selected brush
};

enum class TextFormat : unsigned {
  kCenter = 0x1,
  kVCenter = 0x4,  // single line only
  kWordBreak = 0x10,
  kSingleLine = 0x20,
  kCalcRect = 0x400,
};

constexpr TextFormat operator|(TextFormat a, TextFormat b) {
  return static_cast<TextFormat>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool Has(TextFormat set, TextFormat flag) {
  return (static_cast<unsigned>(set) & static_cast<unsigned>(flag)) == static_cast<unsigned>(flag);
}

class Dc {
 public:
  // Draws into `surface`, which must outlive the context. Starts with a black pen, a white
  // brush, the default font, black text on an opaque white background and the current position
  // at (0, 0).
  explicit Dc(Surface& surface);
  Dc(const Dc&) = delete;
  Dc& operator=(const Dc&) = delete;

  Surface& surface() { return *surface_; }
  const Surface& surface() const { return *surface_; }

  Pen Select(Pen pen) { return std::exchange(pen_, std::move(pen)); }
  Brush Select(Brush brush) { return std::exchange(brush_, std::move(brush)); }
  Font Select(Font font) { return std::exchange(font_, std::move(font)); }
  const Pen& pen() const { return pen_; }
  const Brush& brush() const { return brush_; }
  const Font& font() const { return font_; }

  // Each setter returns the previous value.
  ColorRef SetTextColor(ColorRef color) { return std::exchange(text_color_, color); }
  ColorRef SetBkColor(ColorRef color) { return std::exchange(bk_color_, color); }
  BkMode SetBkMode(BkMode mode) { return std::exchange(bk_mode_, mode); }
  ColorRef text_color() const { return text_color_; }
  ColorRef bk_color() const { return bk_color_; }
  BkMode bk_mode() const { return bk_mode_; }
  Point current_position() const { return position_; }

  // Paints the rectangle with `brush`.
  void FillRect(const Rect& rect, const Brush& brush);
  // A one-pixel frame just inside the rectangle, painted with `brush`: rows top and bottom - 1,
  // columns left and right - 1. Nothing for an empty rectangle.
  void FrameRect(const Rect& rect, const Brush& brush);

  void MoveTo(int x, int y) { position_ = {x, y}; }
  // With the selected pen, from the current position to (x, y) without the end point.
  void LineTo(int x, int y);

  void SetPixel(int x, int y, ColorRef color);
  // Surface::kInvalidColor outside the surface.
  ColorRef GetPixel(int x, int y) const { return surface_->Pixel(x, y); }

  // A 3-D edge in the system colours, one ring per border, painted outer ring first: top row,
  // left column, bottom row, right column, so the top-right and bottom-left corners take the
  // bottom/right colour. The inside is left alone.
  void DrawEdge(const Rect& rect, Edge edge, EdgeFlags flags);

  // Combines the pixels of [x, x + width) x [y, y + height) with the selected brush. Nothing
  // when a size is not positive.
  void PatBlt(int x, int y, int width, int height, Rop rop);

  // An ellipse touching all four sides of the half-open rectangle: the inside is painted with
  // the selected brush (the region CreateEllipticRgn(left, top, right + 1, bottom + 1)), then
  // the outline with the selected pen. A pen w pixels wide covers, for each outline pixel
  // (x, y), the w x w block from (x - w / 2, y - w / 2): a 2-pixel pen reaches one pixel out
  // at the top and left and lies two pixels thick inside at the right and bottom.
  void Ellipse(const Rect& rect);

  // The dotted focus frame: the pixels FrameRect would paint, each combined once by XOR with
  // the background colour where x + y is odd and with the text colour where it is even. Drawing it
  // twice restores the pixels. With black text on white every other pixel is inverted.
  void DrawFocusRect(const Rect& rect);

  // Copies width x height pixels from (x_src, y_src) of `source` to (x, y). Pixels outside
  // either surface are skipped. `source` may be this context's own surface.
  void BitBlt(int x, int y, int width, int height, const Surface& source, int x_src, int y_src);

  // Draws UTF-8 text in the selected font and the text colour, in the rectangle, by `format`
  // (see TextFormat), and returns the height of the text. Lines are as high as the font's cell
  // (ascent + descent) and drawn at the top of their cell. A single line (kSingleLine) ignores
  // line breaks and may be centred (kVCenter) in the rectangle: y = top + (bottom - top) / 2 -
  // height / 2, each half truncated. Otherwise lines break at line feeds and, with kWordBreak,
  // between words where a line would pass the right edge (a word wider than the rectangle keeps
  // a line of its own). kCenter centres each line: x = (left + right - line width) / 2,
  // truncated. "&x" underlines x, "&&" shows one "&"; only the first such character of a line is
  // underlined. The text is clipped to the rectangle. With an opaque background mode each line's
  // box is first filled with the background colour; a transparent one paints only the glyphs.
  // kCalcRect draws nothing and sets right = left + widest line, bottom = top + text height.
  // Needs a QGuiApplication (fonts come from Qt).
  int DrawText(std::string_view text, Rect* rect, TextFormat format);

 private:
  Surface* surface_;
  Pen pen_;
  Brush brush_;
  Font font_;
  ColorRef text_color_ = 0x000000;
  ColorRef bk_color_ = 0xFFFFFF;
  BkMode bk_mode_ = BkMode::kOpaque;
  Point position_;
};

// Selects an object into a context for the life of the scope, then puts the previous one back.
template <class Object>
class ScopedSelect {
 public:
  ScopedSelect(Dc& dc, Object object) : dc_(dc), previous_(dc.Select(std::move(object))) {}
  ~ScopedSelect() { dc_.Select(std::move(previous_)); }
  ScopedSelect(const ScopedSelect&) = delete;
  ScopedSelect& operator=(const ScopedSelect&) = delete;

 private:
  Dc& dc_;
  Object previous_;
};

template <class Object>
ScopedSelect(Dc&, Object) -> ScopedSelect<Object>;

}  // namespace gui
