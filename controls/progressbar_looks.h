// The drawing of XP_ProgressBar: the ten looks and the caption, as functions of a small state
// and a device context. Nothing here knows about widgets; the same calls paint into any surface.
//
// Coordinates are pixels of the bar's client area (origin top left). Rounding of fractions to
// whole pixels, percentages and colour channels takes halves to the even neighbour.
#pragma once

#include <string>

#include "platform/gui/color.h"
#include "platform/gui/dc.h"
#include "platform/gui/font.h"
#include "platform/gui/geometry.h"
#include "platform/gui/surface.h"

namespace progressbar {

// Values of `Scrolling`. Any other value draws as Smooth.
enum class Look : int {
  Blocks = 0,
  Smooth = 1,
  Searching = 2,
  Flat = 3,
  Etched = 4,
  Gradient = 5,
  Dark = 6,
  Hatched = 7,
  Picture = 8,
  Glossy = 9,
};

// Everything one redraw reads; XP_ProgressBar fills it from its properties.
struct BarState {
  int width = 0;            // W, the client area; negative counts as 0
  int height = 0;           // H
  gui::ColorRef color = 0;  // C, already RGB
  int percent = 0;          // P; above 100 draws as 100, below 0 as an empty fill
  int scrolling = 0;        // the look (Look), any int
  int orientation = 0;      // 0 fills from the left, else from the bottom (first three looks)
  int brush_style = 0;      // hatch style of Hatched; no valid style, no fill
  gui::Surface image;       // the repeating pattern of Picture; null for none
  bool show_text = false;   // draw the caption
  gui::FontDesc font;       // font of the caption
};

// The working rectangles that a redraw leaves behind.
struct BarGeometry {
  gui::Rect fill;  // FillRectangle: the part that shows progress (as the look set it)
  gui::Rect text;  // TextRect, valid when text_laid_out
  bool text_laid_out = false;
};

// Draws the whole bar into `dc`: the background (black for Dark, white otherwise), the look,
// then the caption. The context keeps the caption's background mode (transparent) and the
// colours the last step set; pens, brushes and fonts are put back.
BarGeometry DrawBar(const BarState& state, gui::Dc& dc);

// "Searching.." for the Searching look, else the percentage followed by " %".
std::string CaptionText(int scrolling, int percent);

// The 1 x 15 grey gradient the main window gives its bar as `Picture`, rows top to bottom.
gui::Surface GreyGradientImage();

// A one-pixel line from (x, y) to (width, height) - the end point, not a size - without the end
// point, in TranslateColor(color).
void DrawLine(int x, int y, int width, int height, gui::Dc& dc, gui::ColorRef color);

// n + 1 one-pixel lines shading from color1 to color2 (both translated first), where n = width
// when left_to_right, else height. left_to_right: line i runs down column x + i from row y
// towards row `height` (an end coordinate); otherwise line i runs along row y + i from column x
// towards column `width`. Nothing when n < 0; one line in color1 when n = 0.
void DrawGradient(gui::ColorRef color1, gui::ColorRef color2, int x, int y, int width, int height,
                  gui::Dc& dc, bool left_to_right);

// Fills the rectangle in TranslateColor(color).
void FillRectColor(const gui::Rect& rect, gui::ColorRef color, gui::Dc& dc);
// A one-pixel frame just inside the rectangle in `color` (RGB).
void FrameRectColor(const gui::Rect& rect, gui::ColorRef color, gui::Dc& dc);

}  // namespace progressbar
