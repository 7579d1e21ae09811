#include "platform/gui/dc.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace gui {
namespace {

using Pixels = std::set<std::pair<int, int>>;

constexpr ColorRef kMarker = Rgb(255, 0, 255);

Surface Blank(int w, int h) {
  Surface s(w, h);
  Dc(s).FillRect({0, 0, w, h}, Brush::Solid(kMarker));
  return s;
}

Pixels Changed(const Surface& s) {
  Pixels out;
  for (int y = 0; y < s.height(); ++y)
    for (int x = 0; x < s.width(); ++x)
      if (s.Pixel(x, y) != kMarker) out.insert({x, y});
  return out;
}

// One character per pixel through `legend`: '.' is untouched, '?' a colour not in it.
std::vector<std::string> Picture(const Surface& s, const std::map<ColorRef, char>& legend) {
  std::vector<std::string> rows(static_cast<size_t>(s.height()));
  for (int y = 0; y < s.height(); ++y) {
    for (int x = 0; x < s.width(); ++x) {
      const auto it = legend.find(s.Pixel(x, y));
      rows[static_cast<size_t>(y)] +=
          s.Pixel(x, y) == kMarker ? '.' : (it != legend.end() ? it->second : '?');
    }
  }
  return rows;
}

Pixels Line(int w, int x0, int y0, int x1, int y1) {
  Surface s = Blank(w, w);
  Dc dc(s);
  dc.MoveTo(x0, y0);
  dc.LineTo(x1, y1);
  return Changed(s);
}

// The line rule as written: Bresenham with a bias towards the smaller minor coordinate,
// clipped to a w x w surface.
Pixels ModelLine(int w, int x0, int y0, int x1, int y1) {
  Pixels out;
  const int dx = x1 - x0, dy = y1 - y0;
  const bool x_major = std::abs(dx) > std::abs(dy);
  const int big = std::max(std::abs(dx), std::abs(dy)),
            small = std::min(std::abs(dx), std::abs(dy));
  const int minor_delta = x_major ? dy : dx;
  const int bias = minor_delta < 0 ? 1 : 0;
  int a = x_major ? x0 : y0, b = x_major ? y0 : x0, e = 2 * small - big;
  for (int i = 0; i < big; ++i) {
    const int x = x_major ? a : b, y = x_major ? b : a;
    if (x >= 0 && x < w && y >= 0 && y < w) out.insert({x, y});
    if (e + bias > 0) {
      b += minor_delta < 0 ? -1 : 1;
      e += 2 * small - 2 * big;
    } else {
      e += 2 * small;
    }
    a += (x_major ? dx : dy) < 0 ? -1 : 1;
  }
  return out;
}

TEST(GuiDcLineTest, WorkedExamplesExcludeTheEndPoint) {
  const struct {
    int x0, y0, x1, y1;
    Pixels expected;
  } rows[] = {
      {1, 2, 2, 0, {{1, 2}, {1, 1}}},  // y-major, the 1.5 tie goes left
      {2, 0, 1, 2, {{2, 0}, {1, 1}}},  // the same middle pixel backwards
      {8, 7, 6, 9, {{8, 7}, {7, 8}}},
      {6, 9, 8, 7, {{6, 9}, {7, 8}}},
      {0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}}},  // the tie at x = 2 stays up
      {0, 0, 3, 0, {{0, 0}, {1, 0}, {2, 0}}},
      {3, 0, 0, 0, {{3, 0}, {2, 0}, {1, 0}}},
      {3, 3, 3, 3, {}},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(Line(12, r.x0, r.y0, r.x1, r.y1), r.expected)
        << r.x0 << "," << r.y0 << " -> " << r.x1 << "," << r.y1;
  }
}

TEST(GuiDcLineTest, MatchesTheRuleOnEveryLineOfAGridAndWhenClipped) {
  int mismatches = 0;
  for (int from = 0; from < 169; ++from) {
    for (int to = 0; to < 169; ++to) {
      const int x0 = from % 13, y0 = from / 13, x1 = to % 13, y1 = to / 13;
      if (Line(13, x0, y0, x1, y1) != ModelLine(13, x0, y0, x1, y1) && ++mismatches <= 5)
        ADD_FAILURE() << x0 << "," << y0 << " -> " << x1 << "," << y1;
    }
  }
  EXPECT_EQ(mismatches, 0);
  // Lines from far outside are clipped, not skewed.
  const int far[][4] = {
      {-1000, -1000, 1000, 999}, {1000, 5, -1000, 7}, {-300, 40, 40, -300}, {7, -900, 2, 900}};
  for (const auto& r : far)
    EXPECT_EQ(Line(16, r[0], r[1], r[2], r[3]), ModelLine(16, r[0], r[1], r[2], r[3])) << r[0];
  // Across the whole int range: still the diagonal, without overflow.
  Pixels diagonal;
  for (int i = 0; i < 16; ++i) diagonal.insert({i, i});
  EXPECT_EQ(Line(16, INT_MIN + 1, INT_MIN + 1, INT_MAX, INT_MAX), diagonal);
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
  for (const Rect& r : {Rect{2, 2, 2, 4}, Rect{2, 2, 5, 2}, Rect{4, 1, 2, 3}, Rect{1, 3, 4, 1}}) {
    Dc(empty).FillRect(r, black);
    Dc(empty).FrameRect(r, black);
  }
  EXPECT_TRUE(Changed(empty).empty());
  Dc(all).FillRect({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, black);
  EXPECT_EQ(Changed(all).size(), 12u);
}

// The platform's hatch bitmaps: rows top to bottom, bit 7 = leftmost pixel.
constexpr unsigned char kHatchBytes[6][8] = {
    {0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00},
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},
    {0x08, 0x08, 0x08, 0xFF, 0x08, 0x08, 0x08, 0x08},
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},
};

TEST(GuiDcHatchTest, PatternIsAnchoredAtTheBrushOriginNotTheRect) {
  const ColorRef fore = Rgb(228, 101, 1), back = Rgb(243, 191, 150);
  for (int style = 0; style < 6; ++style) {
    for (const Point org : {Point{0, 0}, Point{3, -5}}) {
      for (const Rect& r : {Rect{3, 5, 19, 21}, Rect{-4, 7, 9, 30}}) {
        for (const BkMode mode : {BkMode::kOpaque, BkMode::kTransparent}) {
          Surface s = Blank(24, 24);
          Dc dc(s);
          dc.SetBrushOrg(org);
          dc.SetBkColor(back);
          dc.SetBkMode(mode);
          dc.FillRect(r, Brush::Hatch(*HatchStyleFromInt(style), fore));
          int wrong = 0;
          for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < 24; ++x) {
              const bool in = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
              const bool set = (kHatchBytes[style][((y - org.y) % 8 + 8) % 8] >>
                                (7 - ((x - org.x) % 8 + 8) % 8)) &
                               1;
              const ColorRef expected = !in                       ? kMarker
                                        : set                     ? fore
                                        : mode == BkMode::kOpaque ? back
                                                                  : kMarker;
              wrong += s.Pixel(x, y) != expected;
            }
          }
          EXPECT_EQ(wrong, 0) << "style " << style << ", origin " << org.x << ", rect " << r.left;
        }
      }
    }
  }
  EXPECT_FALSE(HatchStyleFromInt(6).has_value());
}

TEST(GuiDcPatternTest, PatBltTilesTheWholeBitmapFromTheOrigin) {
  Surface bitmap(3, 2);
  for (int i = 0; i < 6; ++i) Dc(bitmap).SetPixel(i % 3, i / 3, Rgb(10 * i, 0, 0));
  for (const Point org : {Point{0, 0}, Point{-2, 5}}) {
    Surface s = Blank(12, 10);
    Dc dc(s);
    dc.SetBrushOrg(org);
    ScopedSelect brush(dc, Brush::Pattern(bitmap));
    dc.PatBlt(2, 2, 7, 5, Rop::kPatCopy);
    dc.PatBlt(0, 0, 0, 5, Rop::kPatCopy);   // no width: nothing
    dc.PatBlt(0, 0, 5, -1, Rop::kPatCopy);  // negative height: nothing
    for (int y = 0; y < 10; ++y) {
      for (int x = 0; x < 12; ++x) {
        const bool in = x >= 2 && x < 9 && y >= 2 && y < 7;
        EXPECT_EQ(s.Pixel(x, y),
                  in ? bitmap.Pixel(((x - org.x) % 3 + 3) % 3, ((y - org.y) % 2 + 2) % 2) : kMarker)
            << x << "," << y;
      }
    }
  }
}

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
      {Edge::kRaised, {"LLLLLD", "LHHHSD", "LH..SD", "LSSSSD", "DDDDDD"}},
      {Edge::kSunken, {"SSSSSH", "SDDDLH", "SD..LH", "SLLLLH", "HHHHHH"}},
  };
  for (const auto& row : rows) {
    Surface s = Blank(6, 5);
    Rect r{0, 0, 6, 5};
    Dc(s).DrawEdge(&r, row.edge, EdgeFlags::kRect);
    EXPECT_EQ(Picture(s, legend), row.picture) << static_cast<unsigned>(row.edge);
    EXPECT_EQ(r, (Rect{0, 0, 6, 5}));  // unchanged without kAdjust
  }
  // kMiddle fills the inside with the button face; kAdjust moves in by the edge's width.
  Surface s = Blank(6, 5);
  Rect two{0, 0, 6, 5}, one{0, 0, 6, 5};
  Dc(s).DrawEdge(&two, Edge::kEtched, EdgeFlags::kRect | EdgeFlags::kMiddle | EdgeFlags::kAdjust);
  EXPECT_EQ(Picture(s, legend)[2], "SHLLSH");
  EXPECT_EQ(two, (Rect{2, 2, 4, 3}));
  Dc(s).DrawEdge(&one, Edge::kSunkenOuter, EdgeFlags::kAdjust);  // no sides: nothing drawn
  EXPECT_EQ(one, (Rect{1, 1, 5, 4}));
  EXPECT_EQ(Picture(s, legend)[2], "SHLLSH");
}

TEST(GuiDcBlitTest, CopiesAndClipsOnBothSides) {
  Surface src(4, 4);
  for (int i = 0; i < 16; ++i) Dc(src).SetPixel(i % 4, i / 4, Rgb(i, 100, 0));
  const int rows[][6] = {
      {1, 1, 4, 4, 0, 0}, {-2, 3, 4, 4, 0, 0}, {2, 0, 4, 4, -1, 2}, {0, 0, 0, 4, 0, 0}};
  for (const auto& r : rows) {
    Surface dst = Blank(6, 6);
    Dc(dst).BitBlt(r[0], r[1], r[2], r[3], src, r[4], r[5]);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 6; ++x) {
        const int dx = x - r[0], dy = y - r[1];
        const ColorRef from = src.Pixel(r[4] + dx, r[5] + dy);
        const bool copied =
            dx >= 0 && dx < r[2] && dy >= 0 && dy < r[3] && from != Surface::kInvalidColor;
        EXPECT_EQ(dst.Pixel(x, y), copied ? from : kMarker) << x << "," << y;
      }
    }
  }
}

TEST(GuiSurfaceTest, CopiesAndPatternsDoNotSeeLaterWrites) {
  Surface a = Blank(4, 4);
  const Surface copy = a;
  const Brush pattern = Brush::Pattern(a);
  Dc dc(a);
  dc.SetPixel(1, 1, 0);
  dc.SetPixel(9, 9, 0);                // outside: nothing
  dc.FillRect({0, 0, 2, 2}, pattern);  // a pattern of this surface as it was
  EXPECT_EQ(copy.Pixel(1, 1), kMarker);
  EXPECT_EQ(a.Pixel(1, 1), kMarker);
  EXPECT_EQ(dc.GetPixel(9, 9), Surface::kInvalidColor);
  EXPECT_TRUE(Surface(0, 5).IsNull());
}

// The worked examples of the raster rules: the focus frame's checkerboard (odd parity), the
// ellipse outline, its fill and a 2-pixel pen.
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
  Dc edc(ellipse);
  edc.Select(Brush());  // the outline alone
  edc.Ellipse({0, 0, 8, 6});
  EXPECT_EQ(Picture(ellipse, {{0, '#'}}),
            (std::vector<std::string>{"..####..", ".#....#.", "#......#", "#......#", ".#....#.",
                                      "..####.."}));
  edc.Select(Pen());
  edc.Select(Brush::Solid(0x0000FF));
  edc.Ellipse({0, 0, 8, 6});  // the inside covers the outline and all between it on each row
  EXPECT_EQ(Picture(ellipse, {{0x0000FF, 'o'}}),
            (std::vector<std::string>{"..oooo..", ".oooooo.", "oooooooo", "oooooooo", ".oooooo.",
                                      "..oooo.."}));

  // A 2-pixel pen covers each outline pixel and the ones above and to the left of it: one pixel
  // of it is left inside the top and left edges, two at the right and bottom.
  Surface wide = Blank(8, 6);
  Dc wdc(wide);
  wdc.Select(Brush());
  wdc.Select(Pen(0, 2));
  wdc.Ellipse({0, 0, 8, 6});
  EXPECT_EQ(Picture(wide, {{0, '#'}}),
            (std::vector<std::string>{"#######.", "##...###", "#.....##", "##...###", "#######.",
                                      ".#####.."}));
}

}  // namespace
}  // namespace gui
