#include "platform/gui/dc.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace gui {
namespace {

using Pixels = std::set<std::pair<int, int>>;

constexpr ColorRef kMarker = Rgb(255, 0, 255);

Surface Blank(int width, int height) {
  Surface surface(width, height);
  Dc(surface).FillRect({0, 0, width, height}, Brush::Solid(kMarker));
  return surface;
}

Pixels Changed(const Surface& surface) {
  Pixels changed;
  for (int y = 0; y < surface.height(); ++y)
    for (int x = 0; x < surface.width(); ++x)
      if (surface.Pixel(x, y) != kMarker) changed.insert({x, y});
  return changed;
}

// One character per pixel through `legend`: '.' is untouched, '?' a colour not in it.
std::vector<std::string> Picture(const Surface& surface, const std::map<ColorRef, char>& legend) {
  std::vector<std::string> rows(static_cast<size_t>(surface.height()));
  for (int y = 0; y < surface.height(); ++y) {
    for (int x = 0; x < surface.width(); ++x) {
      const ColorRef color = surface.Pixel(x, y);
      const auto it = legend.find(color);
      rows[static_cast<size_t>(y)] +=
          color == kMarker ? '.' : (it != legend.end() ? it->second : '?');
    }
  }
  return rows;
}

// The lines the looks draw: straight ones, the diagonals of the bevelled buttons (BevelB4's
// (1, 2) to (2, 0), the pressed RoundedBevel's (W - 2, H - 3) to (W - 4, H - 1)), and lines
// that reach far past the surface.
TEST(GuiDcLineTest, PixelsNearestTheLineWithoutTheEndPoint) {
  Pixels shallow_clipped;  // y = 8 + x / 2 exactly: every tie at an odd x goes up
  for (int x = 0; x < 16; ++x) shallow_clipped.insert({x, 8 + x / 2});
  Pixels diagonal, row5;
  for (int i = 0; i < 16; ++i) {
    diagonal.insert({i, i});
    row5.insert({i, 5});
  }
  const std::tuple<int, int, int, int, Pixels> rows[] = {
      {1, 2, 2, 0, {{1, 2}, {1, 1}}},  // y-major, the 1.5 tie goes left
      {2, 0, 1, 2, {{2, 0}, {1, 1}}},  // the same middle pixel backwards
      {8, 7, 6, 9, {{8, 7}, {7, 8}}},
      {6, 9, 8, 7, {{6, 9}, {7, 8}}},
      {0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}}},  // the tie at x = 2 stays up
      {0, 1, 4, 0, {{0, 1}, {1, 1}, {2, 0}, {3, 0}}},  // and goes up when the line rises
      {3, 0, 0, 0, {{3, 0}, {2, 0}, {1, 0}}},
      {0, 2, 0, 5, {{0, 2}, {0, 3}, {0, 4}}},
      {3, 3, 3, 3, {}},
      {-16, 0, 16, 16, shallow_clipped},
      {-1000, 5, 1000, 5, row5},
      {INT_MIN + 1, INT_MIN + 1, INT_MAX, INT_MAX, diagonal},
  };
  for (const auto& [x0, y0, x1, y1, expected] : rows) {
    Surface surface = Blank(16, 16);
    Dc dc(surface);
    dc.MoveTo(x0, y0);
    dc.LineTo(x1, y1);
    EXPECT_EQ(Changed(surface), expected) << x0 << "," << y0 << " -> " << x1 << "," << y1;
    EXPECT_EQ(dc.current_position(), (Point{x1, y1}));
  }
}

// The edges of the Etched, Hatched and Picture looks, in the classic colours.
TEST(GuiDcEdgeTest, EdgesInTheClassicColours) {
  const std::map<ColorRef, char> legend = {{Rgb(128, 128, 128), 'S'},
                                           {Rgb(255, 255, 255), 'H'},
                                           {Rgb(64, 64, 64), 'D'},
                                           {Rgb(212, 208, 200), 'L'}};
  const std::pair<Edge, std::vector<std::string>> rows[] = {
      {Edge::kEtched, {"SSSSSH", "SHHHSH", "SH..SH", "SSSSSH", "HHHHHH"}},
      {Edge::kBump, {"LLLLLD", "LDDDLD", "LD..LD", "LLLLLD", "DDDDDD"}},
      {Edge::kSunkenOuter, {"SSSSSH", "S....H", "S....H", "S....H", "HHHHHH"}},
  };
  for (const auto& [edge, picture] : rows) {
    Surface surface = Blank(6, 5);
    Dc(surface).DrawEdge({0, 0, 6, 5}, edge, EdgeFlags::kRect);
    EXPECT_EQ(Picture(surface, legend), picture) << static_cast<unsigned>(edge);
  }
}

// A bar keeps its Image as a brush pattern and hands its buffer out: copies must not change.
TEST(GuiSurfaceTest, CopiesAndPatternsDoNotSeeLaterWrites) {
  Surface surface = Blank(4, 4);
  const Surface copy = surface;
  const Brush pattern = Brush::Pattern(surface);
  Dc dc(surface);
  dc.SetPixel(1, 1, 0);
  dc.SetPixel(9, 9, 0);                // outside: nothing
  dc.FillRect({0, 0, 2, 2}, pattern);  // a pattern of this surface as it was
  EXPECT_EQ(copy.Pixel(1, 1), kMarker);
  EXPECT_EQ(surface.Pixel(1, 1), kMarker);
  EXPECT_EQ(dc.GetPixel(9, 9), Surface::kInvalidColor);
}

// The worked examples of the button's raster rules: the focus frame's checkerboard (odd
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

}  // namespace
}  // namespace gui
