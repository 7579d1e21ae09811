#include "platform/gui/dc.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <set>
#include <string>
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
  const struct {
    int x0, y0, x1, y1;
    Pixels expected;
  } rows[] = {
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
  for (const auto& row : rows) {
    Surface surface = Blank(16, 16);
    Dc dc(surface);
    dc.MoveTo(row.x0, row.y0);
    dc.LineTo(row.x1, row.y1);
    EXPECT_EQ(Changed(surface), row.expected)
        << row.x0 << "," << row.y0 << " -> " << row.x1 << "," << row.y1;
    EXPECT_EQ(dc.current_position(), (Point{row.x1, row.y1}));
  }
}

TEST(GuiDcRectTest, FillAndFrameExcludeRightAndBottom) {
  const std::map<ColorRef, char> legend = {{0, '#'}};
  const Brush black = Brush::Solid(0);
  Surface framed = Blank(6, 4), filled = Blank(6, 4), empty = Blank(6, 4), all = Blank(4, 3);
  Dc(framed).FrameRect({1, 1, 5, 4}, black);
  EXPECT_EQ(Picture(framed, legend),
            (std::vector<std::string>{"......", ".####.", ".#..#.", ".####."}));
  Dc(filled).FillRect({1, 1, 4, 3}, black);
  EXPECT_EQ(Picture(filled, legend),
            (std::vector<std::string>{"......", ".###..", ".###..", "......"}));
  for (const Rect& rect : {Rect{2, 2, 2, 4}, Rect{2, 2, 5, 2}, Rect{4, 1, 2, 3}}) {
    Dc(empty).FillRect(rect, black);
    Dc(empty).FrameRect(rect, black);
  }
  EXPECT_TRUE(Changed(empty).empty());
  Dc(all).FillRect({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, black);
  EXPECT_EQ(Changed(all).size(), 12u);
}

// The edges of the Etched, Hatched and Picture looks, in the classic colours.
TEST(GuiDcEdgeTest, EdgesInTheClassicColours) {
  const std::map<ColorRef, char> legend = {{Rgb(128, 128, 128), 'S'},
                                           {Rgb(255, 255, 255), 'H'},
                                           {Rgb(64, 64, 64), 'D'},
                                           {Rgb(212, 208, 200), 'L'}};
  const struct {
    Edge edge;
    std::vector<std::string> picture;
  } rows[] = {
      {Edge::kEtched, {"SSSSSH", "SHHHSH", "SH..SH", "SSSSSH", "HHHHHH"}},
      {Edge::kBump, {"LLLLLD", "LDDDLD", "LD..LD", "LLLLLD", "DDDDDD"}},
      {Edge::kSunkenOuter, {"SSSSSH", "S....H", "S....H", "S....H", "HHHHHH"}},
  };
  for (const auto& row : rows) {
    Surface surface = Blank(6, 5);
    Dc(surface).DrawEdge({0, 0, 6, 5}, row.edge, EdgeFlags::kRect);
    EXPECT_EQ(Picture(surface, legend), row.picture) << static_cast<unsigned>(row.edge);
  }
}

// The Transparent button copies its container's picture, and pDraw the bar's buffer.
TEST(GuiDcBlitTest, CopiesAndClipsOnBothSides) {
  Surface source(4, 4);
  for (int i = 0; i < 16; ++i) Dc(source).SetPixel(i % 4, i / 4, Rgb(i, 100, 0));
  const struct {
    int x, y, width, height, x_src, y_src;
  } rows[] = {{1, 1, 4, 4, 0, 0}, {-2, 3, 4, 4, 0, 0}, {2, 0, 4, 4, -1, 2}, {0, 0, 0, 4, 0, 0}};
  for (const auto& row : rows) {
    Surface target = Blank(6, 6);
    Dc(target).BitBlt(row.x, row.y, row.width, row.height, source, row.x_src, row.y_src);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 6; ++x) {
        const int dx = x - row.x, dy = y - row.y;
        const ColorRef from = source.Pixel(row.x_src + dx, row.y_src + dy);
        const bool copied = dx >= 0 && dx < row.width && dy >= 0 && dy < row.height &&
                            from != Surface::kInvalidColor;
        EXPECT_EQ(target.Pixel(x, y), copied ? from : kMarker) << x << "," << y;
      }
    }
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
// parity), the ellipse outline, its fill and a 2-pixel pen.
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

  Surface ellipse = Blank(8, 6);
  Dc ellipse_dc(ellipse);
  ellipse_dc.Select(Brush());  // the outline alone
  ellipse_dc.Ellipse({0, 0, 8, 6});
  EXPECT_EQ(Picture(ellipse, {{0, '#'}}),
            (std::vector<std::string>{"..####..", ".#....#.", "#......#", "#......#", ".#....#.",
                                      "..####.."}));
  ellipse_dc.Select(Pen());
  ellipse_dc.Select(Brush::Solid(0x0000FF));
  ellipse_dc.Ellipse({0, 0, 8, 6});  // the inside covers the outline and all between on each row
  EXPECT_EQ(Picture(ellipse, {{0x0000FF, 'o'}}),
            (std::vector<std::string>{"..oooo..", ".oooooo.", "oooooooo", "oooooooo", ".oooooo.",
                                      "..oooo.."}));

  // A 2-pixel pen covers each outline pixel and the ones above and to the left of it: one pixel
  // of it is left inside the top and left edges, two at the right and bottom.
  Surface wide = Blank(8, 6);
  Dc wide_dc(wide);
  wide_dc.Select(Brush());
  wide_dc.Select(Pen(0, 2));
  wide_dc.Ellipse({0, 0, 8, 6});
  EXPECT_EQ(Picture(wide, {{0, '#'}}),
            (std::vector<std::string>{"#######.", "##...###", "#.....##", "##...###", "#######.",
                                      ".#####.."}));
}

}  // namespace
}  // namespace gui
