#include "platform/gui/dc.h"

#include <QFontMetrics>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace gui {
namespace {

using enum TextFormat;

using Pixels = std::set<std::pair<int, int>>;

constexpr ColorRef kMarker = Rgb(255, 0, 255);

Surface Blank(int width, int height) {
  Surface surface(width, height);
  Dc(surface).FillRect({0, 0, width, height}, Brush::Solid(kMarker));
  return surface;
}

// The pixels that are not `background`.
Pixels Changed(const Surface& surface, ColorRef background = kMarker) {
  Pixels changed;
  for (int y = 0; y < surface.height(); ++y)
    for (int x = 0; x < surface.width(); ++x)
      if (surface.Pixel(x, y) != background) changed.insert({x, y});
  return changed;
}

// One character per pixel through `legend`: '.' is untouched, '?' a colour not in it.
std::vector<std::string> Picture(const Surface& surface, const std::map<ColorRef, char>& legend) {
  std::vector<std::string> rows(static_cast<size_t>(surface.height()));
  for (int y = 0; y < surface.height(); ++y)
    for (int x = 0; x < surface.width(); ++x) {
      const auto it = legend.find(surface.Pixel(x, y));
      rows[size_t(y)] +=
          surface.Pixel(x, y) == kMarker ? '.' : (it != legend.end() ? it->second : '?');
    }
  return rows;
}

// The lines the looks draw: straight ones, the diagonals of the bevelled buttons (BevelB4's
// (1, 2) to (2, 0), the pressed RoundedBevel's (W - 2, H - 3) to (W - 4, H - 1)), and lines
// that reach far past the surface.
TEST(GuiDcLineTest, PixelsNearestTheLineWithoutTheEndPoint) {
  Pixels shallow_clipped, diagonal, row5;  // y = 8 + x / 2 exactly: every tie at an odd x goes up
  for (int x = 0; x < 16; ++x) shallow_clipped.insert({x, 8 + x / 2}), diagonal.insert({x, x});
  for (int x = 0; x < 16; ++x) row5.insert({x, 5});
  // clang-format off
  const std::tuple<int, int, int, int, Pixels> rows[] = {
      {1, 2, 2, 0, {{1, 2}, {1, 1}}},  // y-major, the 1.5 tie goes left
      {2, 0, 1, 2, {{2, 0}, {1, 1}}},  // the same middle pixel backwards
      {8, 7, 6, 9, {{8, 7}, {7, 8}}}, {6, 9, 8, 7, {{6, 9}, {7, 8}}},
      {0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}}},  // the tie at x = 2 stays up
      {0, 1, 4, 0, {{0, 1}, {1, 1}, {2, 0}, {3, 0}}},  // and goes up when the line rises
      {3, 0, 0, 0, {{3, 0}, {2, 0}, {1, 0}}}, {0, 2, 0, 5, {{0, 2}, {0, 3}, {0, 4}}}, {3, 3, 3, 3, {}},
      {-16, 0, 16, 16, shallow_clipped}, {-1000, 5, 1000, 5, row5},
      {INT_MIN + 1, INT_MIN + 1, INT_MAX, INT_MAX, diagonal}};
  // clang-format on
  for (const auto& [x0, y0, x1, y1, expected] : rows) {
    Surface surface = Blank(16, 16);
    Dc dc(surface);
    dc.MoveTo(x0, y0);
    dc.LineTo(x1, y1);
    EXPECT_EQ(Changed(surface), expected) << x0 << "," << y0 << " -> " << x1 << "," << y1;
    EXPECT_EQ(dc.current_position(), (Point{x1, y1}));
  }
}

// A bar keeps its Image as a brush pattern and hands its buffer out: copies must not change.
TEST(GuiSurfaceTest, CopiesAndPatternsDoNotSeeLaterWrites) {
  Surface surface = Blank(4, 4);
  const Surface copy = surface;
  const Brush pattern = Brush::Pattern(surface);
  Dc dc(surface);
  dc.SetPixel(1, 1, 0);
  dc.FillRect({0, 0, 2, 2}, pattern);  // a pattern of this surface as it was
  EXPECT_EQ(copy.Pixel(1, 1), kMarker);
  EXPECT_EQ(surface.Pixel(1, 1), kMarker);
}

// The button's raster rules, checked by hand: the focus frame's checkerboard (odd
// parity) and the Oval look's ellipse, filled, with a 2-pixel pen.
TEST(GuiDcTest, FocusRectAndEllipse) {
  Surface focus = Blank(9, 6);
  Dc dc(focus);
  dc.SetTextColor(0x000000);
  dc.SetBkColor(0xFFFFFF);
  dc.DrawFocusRect({1, 1, 8, 6});
  const ColorRef inverted = kMarker ^ 0xFFFFFFu;  // where x + y is odd; the rest XOR black
  EXPECT_EQ(Picture(focus, {{inverted, 'X'}}),
            (std::vector<std::string>{".........", "..X.X.X..", ".X.....X.", ".........",
                                      ".X.....X.", "..X.X.X.."}));
  dc.DrawFocusRect({1, 1, 8, 6});
  EXPECT_TRUE(Changed(focus).empty());

  // The inside is the region of the box one pixel larger, each row a whole span; the pen then
  // covers each outline pixel and the ones above and to the left of it: one pixel of it lies
  // inside the top and left edges, two at the right and bottom.
  Surface ellipse = Blank(8, 6);
  Dc ellipse_dc(ellipse);
  ellipse_dc.Select(Brush::Solid(0x0000FF));
  ellipse_dc.Select(Pen(0, 2));
  ellipse_dc.Ellipse({0, 0, 8, 6});
  EXPECT_EQ(Picture(ellipse, {{0, '#'}, {0x0000FF, 'o'}}),
            (std::vector<std::string>{"#######.", "##ooo###", "#ooooo##", "##ooo###", "#######.",
                                      ".#####.."}));
}

// --- Text ---------------------------------------------------------------------------------

constexpr ColorRef kWhite = Rgb(255, 255, 255);
constexpr ColorRef kInk = Rgb(0, 0, 0);

// Draws `text` on a white 80 x 30 surface in the captions' Arial, black, transparent.
Surface Draw(const std::string& text, Rect rect, TextFormat format) {
  Surface surface(80, 30);
  Dc dc(surface);
  dc.FillRect({0, 0, 80, 30}, Brush::Solid(kWhite));
  ScopedSelect font(dc, Font({"Arial", 8.25}));
  dc.SetBkMode(BkMode::kTransparent);
  dc.SetTextColor(kInk);
  dc.DrawText(text, &rect, format);
  return surface;
}

// The bounding box of the pixels that are not white.
Rect InkBox(const Surface& surface) {
  Rect box{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
  for (const auto& [x, y] : Changed(surface, kWhite))
    box = {std::min(box.left, x), std::min(box.top, y), std::max(box.right, x + 1),
           std::max(box.bottom, y + 1)};
  return box;
}

class GuiDcTextTest : public testing::Test {
 protected:
  const Font font_{{"Arial", 8.25}};
  const QFontMetrics metrics_{font_.qfont()};
  int Advance(const char* text) const {
    return metrics_.horizontalAdvance(QString::fromUtf8(text));
  }
};

TEST_F(GuiDcTextTest, CalcRectMeasuresWithoutDrawing) {
  EXPECT_EQ(font_.pixel_size(), 11);                // 8.25 pt at 96 dpi
  EXPECT_EQ(Font({"Arial", 11}).pixel_size(), 15);  // 14.67 pixels, rounded
  // Text, format, the text whose advance is the width, lines.
  // A final lone "&" shows. From a width of 0 each word takes a line, and the width grows to the
  // widest.
  // clang-format off
  const std::tuple<const char*, TextFormat, const char*, int> rows[] = {
      {"45 %", kCalcRect | kSingleLine, "45 %", 1}, {"", kCalcRect | kSingleLine, "", 1},
      {"", kCalcRect, "", 0}, {"&Copy", kCalcRect, "Copy", 1}, {"a&&b", kCalcRect, "a&b", 1},
      {"ab&", kCalcRect, "ab&", 1}, {"wide\r\nw\n", kCalcRect, "wide", 2},
      {"Searching.. on", kCalcRect | kWordBreak, "Searching..", 2}};
  // clang-format on
  for (const auto& [text, format, shown, lines] : rows) {
    Surface surface = Draw("", {}, kCalcRect);  // white
    Dc dc(surface);
    ScopedSelect font(dc, font_);
    Rect rect{7, 3, 7, 3};
    const int height = dc.DrawText(text, &rect, format);
    EXPECT_EQ(rect, (Rect{7, 3, 7 + Advance(shown), 3 + lines * metrics_.height()})) << text;
    EXPECT_EQ(height, lines * metrics_.height()) << text;
    EXPECT_TRUE(Changed(surface, kWhite).empty()) << text;  // nothing drawn
  }
}

TEST_F(GuiDcTextTest, CentringMovesTheInkByHalfTheSpareRoom) {
  const Rect rect{0, 0, 61, 21};
  const Rect plain = InkBox(Draw("Copy", rect, kSingleLine));
  const Rect centred = InkBox(Draw("Copy", rect, kSingleLine | kCenter | kVCenter));
  EXPECT_EQ(centred.left - plain.left, (61 - Advance("Copy")) / 2);
  EXPECT_EQ(centred.top - plain.top, 21 / 2 - metrics_.height() / 2);
}

TEST_F(GuiDcTextTest, PrefixUnderlinesTheAccessKey) {
  const Rect rect{2, 1, 70, 25};
  const Surface with = Draw("&Copy", rect, kSingleLine);
  const Surface without = Draw("Copy", rect, kSingleLine);
  const int row = rect.top + metrics_.ascent() + 1;
  const int from = rect.left, to = rect.left + Advance("C") - 2;
  for (int y = 0; y < with.height(); ++y)
    for (int x = 0; x < with.width(); ++x) {
      const bool underline = y == row && x >= from && x <= to;
      EXPECT_EQ(with.Pixel(x, y), underline ? kInk : without.Pixel(x, y)) << x << "," << y;
    }
  // "&&" shows one "&" and underlines nothing, as a final lone "&" does.
  EXPECT_EQ(Draw("x&&", rect, kSingleLine), Draw("x&", rect, kSingleLine));
}

}  // namespace
}  // namespace gui
