// Pixel checks of the looks, drawn straight into surfaces: state in, pixels out.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "controls/progressbar_looks.h"

namespace progressbar {
namespace {

using gui::ColorRef;
using gui::Rgb;

constexpr ColorRef kC = Rgb(228, 101, 1);
constexpr ColorRef kWhite = Rgb(255, 255, 255);
constexpr ColorRef kFrame = Rgb(104, 104, 104);
ColorRef L(int a) { return gui::LightenColor(kC, a); }

BarState State(Look look, int percent, int w = 200, int h = 20) {
  BarState s;
  s.width = w;
  s.height = h;
  s.color = kC;
  s.percent = percent;
  s.scrolling = static_cast<int>(look);
  s.font = {"Arial", 8.25};
  return s;
}

struct Drawn {
  gui::Surface surface;
  BarGeometry geometry;
};

Drawn Draw(const BarState& state) {
  Drawn d{gui::Surface(state.width, state.height), {}};
  gui::Dc dc(d.surface);
  d.geometry = DrawBar(state, dc);
  return d;
}

gui::Surface Blank(int w, int h) {
  gui::Surface s(w, h);
  gui::Dc(s).FillRect({0, 0, w, h}, gui::Brush::Solid(kWhite));
  return s;
}

// How many pixels differ.
int Changed(const gui::Surface& a, const gui::Surface& b) {
  int n = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) n += a.Pixel(x, y) != b.Pixel(x, y);
  return n;
}

// Every pixel of the rectangle has `color`; reports the first that does not.
testing::AssertionResult AllOf(const gui::Surface& s, gui::Rect r, ColorRef color) {
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x)
      if (s.Pixel(x, y) != color)
        return testing::AssertionFailure() << "pixel " << x << "," << y << " is " << std::hex
                                           << s.Pixel(x, y) << ", not " << color;
  return testing::AssertionSuccess();
}

TEST(XpProgressBarHelpersTest, DrawGradientAndDrawLine) {
  gui::Surface s = Blank(12, 8);
  gui::Dc dc(s);
  DrawGradient(Rgb(0, 0, 0), Rgb(100, 100, 100), 2, 2, 10, 4, dc, false);
  for (int i = 0; i <= 4; ++i)
    EXPECT_TRUE(AllOf(s, {2, 2 + i, 10, 3 + i}, Rgb(25 * i, 25 * i, 25 * i)));
  EXPECT_EQ(Changed(s, Blank(12, 8)), 40);  // columns 2 to 9 of rows 2 to 6, nothing else

  // n = 0: one line in color1 (system colours translated); n < 0: nothing.
  const struct {
    bool left_to_right;
    int width, height;
    int painted;
  } rows[] = {{false, 6, 0, 5}, {true, 0, 6, 3}, {false, 6, -1, 0}, {true, -5, 6, 0}};
  for (const auto& row : rows) {
    gui::Surface t = Blank(8, 8);
    gui::Dc tdc(t);
    DrawGradient(0x80000010u, Rgb(0, 0, 0), 1, 3, row.width, row.height, tdc, row.left_to_right);
    EXPECT_EQ(Changed(t, Blank(8, 8)), row.painted) << row.width << "x" << row.height;
    if (row.painted > 0) {
      EXPECT_EQ(t.Pixel(1, 3), Rgb(128, 128, 128));
    }
  }

  gui::Surface line = Blank(12, 3);
  gui::Dc ldc(line);
  DrawLine(2, 1, 10, 1, ldc, 0x80000010u);
  EXPECT_TRUE(AllOf(line, {2, 1, 10, 2}, Rgb(128, 128, 128)));  // columns 2 to 9
  EXPECT_EQ(Changed(line, Blank(12, 3)), 8);
}

// Row 9 of a 200 x 20 shared bar: frame columns, then the band in C with white gaps.
TEST(XpProgressBarLooksTest, BlocksAndSmoothFillEdgeGapsAndBandEnd) {
  const struct {
    Look look;
    int percent;
    int fill_right;  // FillRectangle's right after the stub rule
    int band_end;    // first column after the band
    bool gaps;
  } rows[] = {
      {Look::Blocks, 0, 12, 12, true},      // one 6-pixel segment, columns 4 to 9
      {Look::Blocks, 50, 99, 99, true},     // round(197 x 50/98 + 3) = 104, less 101 mod 8
      {Look::Blocks, 100, 203, 199, true},  // beyond W: the band stops 4 short
      {Look::Smooth, 0, 12, 12, false},
      {Look::Smooth, 6, 15, 15, false},           // 15 is not below 15: kept
      {static_cast<Look>(42), 6, 15, 15, false},  // unknown looks draw Smooth
  };
  for (const auto& row : rows) {
    const Drawn d = Draw(State(row.look, row.percent));
    EXPECT_EQ(d.geometry.fill.right, row.fill_right) << row.percent;
    for (int x = 0; x < 200; ++x) {
      ColorRef expected = kWhite;
      const bool gap = row.gaps && x >= 10 && (x - 10) % 8 < 2 && x <= row.fill_right;
      if (x == 0 || x == 199) {
        expected = kFrame;
      } else if (x == 1) {
        expected = Rgb(190, 190, 190);
      } else if (x == 2 || x == 198) {
        expected = Rgb(239, 239, 239);
      } else if (x >= 4 && x < row.band_end && !gap) {
        expected = kC;
      }
      EXPECT_EQ(d.surface.Pixel(x, 9), expected)
          << "look " << static_cast<int>(row.look) << " at " << row.percent << "%, column " << x;
    }
  }
}

TEST(XpProgressBarLooksTest, SharedBarBodyShadesTopAndBottom) {
  const Drawn d = Draw(State(Look::Smooth, 50));
  EXPECT_EQ(d.surface.Pixel(50, 3), L(150));   // top shading starts pale
  EXPECT_EQ(d.surface.Pixel(50, 8), kC);       // C from row 8 to row H - 11 ...
  EXPECT_EQ(d.surface.Pixel(50, 10), kC);      // ... where the bottom shading starts in C
  EXPECT_EQ(d.surface.Pixel(50, 16), L(150));  // and ends pale in row H - 4
  EXPECT_EQ(d.surface.Pixel(50, 17), kWhite);
}

TEST(XpProgressBarLooksTest, SearchingBlocksTravelWithThePercentage) {
  {
    // Blocks start at 80, 92 and 104 (the fill edge 103, round(103 - 22.5) = 80).
    const Drawn d = Draw(State(Look::Searching, 50));
    const struct {
      int x;
      ColorRef color;
    } columns[] = {
        {79, kWhite},  {80, L(220)},  {89, L(200)},  {90, kWhite},  {91, kWhite},  {92, L(180)},
        {101, L(160)}, {102, kWhite}, {104, L(140)}, {113, L(120)}, {114, kWhite},
    };
    for (const auto& c : columns) {
      EXPECT_EQ(d.surface.Pixel(c.x, 3), c.color) << c.x;
      EXPECT_EQ(d.surface.Pixel(c.x, 17), c.color) << c.x;
    }
    EXPECT_EQ(d.surface.Pixel(80, 18), Rgb(239, 239, 239));  // row H - 2 is the frame's
  }
  // At 0 only column 0 is touched, and the frame paints over it; at 100 all lie beyond W.
  for (const int percent : {0, 100}) {
    const Drawn d = Draw(State(Look::Searching, percent));
    EXPECT_TRUE(AllOf(d.surface, {3, 3, 197, 17}, kWhite)) << percent;
    EXPECT_EQ(d.surface.Pixel(0, 10), kFrame) << percent;
  }
}

TEST(XpProgressBarLooksTest, VerticalBlocksAtZeroHaveNoFill) {
  BarState state = State(Look::Blocks, 0, 20, 200);
  state.orientation = 1;
  const Drawn d = Draw(state);
  EXPECT_EQ(d.geometry.fill.top, 200);
  EXPECT_TRUE(AllOf(d.surface, {3, 3, 17, 197}, kWhite));
  // At 50 the fill top is 104 (round(200 x (1 - 50/98)) = 98, moved down to whole steps from
  // the bottom); the band is columns 9 to W - 9, with white gaps every 8 rows up from H.
  state.percent = 50;
  const Drawn half = Draw(state);
  EXPECT_EQ(half.geometry.fill.top, 104);
  const struct {
    int y;
    ColorRef color;
  } rows[] = {{103, kWhite}, {104, kC},     {109, kC},     {110, kWhite}, {111, kWhite}, {112, kC},
              {189, kC},     {190, kWhite}, {191, kWhite}, {192, kC},     {197, kC}};
  for (const auto& row : rows) EXPECT_EQ(half.surface.Pixel(10, row.y), row.color) << row.y;
  EXPECT_EQ(half.surface.Pixel(4, 148), L(150));  // shaded from the left ...
  EXPECT_EQ(half.surface.Pixel(8, 148), kC);
  EXPECT_EQ(half.surface.Pixel(16, 148), L(150));  // ... and to the right
  EXPECT_EQ(half.surface.Pixel(16, 150), kWhite);  // a gap crosses the shading too
}

// The main window's bar: 267 x 11, C = (228, 101, 1).
TEST(XpProgressBarLooksTest, GradientOnTheMainWindowBar) {
  const ColorRef background[7] = {Rgb(228, 101, 1),  Rgb(230, 111, 18), Rgb(231, 121, 34),
                                  Rgb(233, 131, 50), Rgb(235, 141, 67), Rgb(236, 151, 84),
                                  Rgb(238, 161, 100)};  // rows 2 to 8, C to L(100)
  const ColorRef fill[6] = {Rgb(254, 251, 250), Rgb(249, 221, 200), Rgb(244, 191, 150),
                            Rgb(238, 161, 101), Rgb(233, 131, 51),  Rgb(228, 101, 1)};  // rows 3-8
  const ColorRef frame = Rgb(229, 107, 10);
  const ColorRef marker = Rgb(230, 116, 25);

  const Drawn d = Draw(State(Look::Gradient, 50, 267, 11));
  const gui::Surface& s = d.surface;
  EXPECT_EQ(d.geometry.fill.right, 132);
  EXPECT_TRUE(AllOf(s, {0, 0, 267, 1}, frame));
  EXPECT_TRUE(AllOf(s, {0, 10, 267, 11}, frame));
  EXPECT_TRUE(AllOf(s, {0, 0, 1, 11}, frame));
  EXPECT_TRUE(AllOf(s, {266, 0, 267, 11}, frame));
  EXPECT_TRUE(AllOf(s, {1, 1, 266, 2}, kWhite));
  EXPECT_TRUE(AllOf(s, {1, 9, 266, 10}, kWhite));
  EXPECT_TRUE(AllOf(s, {265, 1, 266, 10}, kWhite));
  for (int i = 0; i < 7; ++i) EXPECT_TRUE(AllOf(s, {133, 2 + i, 265, 3 + i}, background[i])) << i;
  EXPECT_TRUE(AllOf(s, {2, 2, 132, 3}, background[0]));  // the fill starts a row lower ...
  for (int i = 0; i < 6; ++i) {
    EXPECT_TRUE(AllOf(s, {3, 3 + i, 132, 4 + i}, fill[i])) << i;
    EXPECT_EQ(s.Pixel(2, 3 + i), background[1 + i]);  // ... and a column further in
  }
  EXPECT_TRUE(AllOf(s, {132, 2, 133, 9}, marker));

  // At 0 each fill line runs from column 3 leftwards, and the marker lies on the frame.
  const Drawn zero = Draw(State(Look::Gradient, 0, 267, 11));
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(AllOf(zero.surface, {1, 3 + i, 4, 4 + i}, fill[i])) << i;
  EXPECT_TRUE(AllOf(zero.surface, {0, 2, 1, 9}, marker));
  EXPECT_EQ(zero.surface.Pixel(0, 1), frame);
  EXPECT_EQ(zero.surface.Pixel(0, 9), frame);
  EXPECT_TRUE(AllOf(zero.surface, {4, 3, 265, 4}, background[1]));
}

TEST(XpProgressBarLooksTest, GlossyHalvesAtHeightTwenty) {
  const Drawn d = Draw(State(Look::Glossy, 50));  // h = round(8.5) = 8, e = 98
  const gui::Surface& s = d.surface;
  // Row 2 belongs to the frame's inner light line.
  EXPECT_TRUE(AllOf(s, {3, 2, 198, 3}, Rgb(239, 239, 239)));
  const int unfilled[] = {247, 239, 231, 224, 216};  // rows 3 to 7: white to silver, cut short
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(s.Pixel(150, 3 + i), Rgb(unfilled[i], unfilled[i], unfilled[i])) << i;
  EXPECT_TRUE(AllOf(s, {98, 8, 197, 17}, Rgb(192, 192, 192)));  // rows 8 to 16 silver
  EXPECT_EQ(s.Pixel(150, 17), kWhite);
  EXPECT_EQ(s.Pixel(50, 3), Rgb(233, 176, 131));  // the fill: L(150) = (243, 191, 150) ...
  EXPECT_EQ(s.Pixel(50, 7), Rgb(192, 116, 57));   // ... towards D(180) = (161, 71, 1)
  EXPECT_EQ(s.Pixel(50, 8), Rgb(170, 75, 1));     // D(190) ...
  EXPECT_EQ(s.Pixel(50, 16), kC);                 // ... to C
  EXPECT_EQ(s.Pixel(97, 12), s.Pixel(50, 12));    // the fill's last column
  EXPECT_EQ(s.Pixel(98, 12), Rgb(192, 192, 192));
}

// Caption pixels: those that differ from the same bar drawn without a caption.
struct CaptionInk {
  std::vector<ColorRef> left, right;  // of the split column
};

CaptionInk CaptionOf(BarState state, int split) {
  const gui::Surface plain = Draw(state).surface;
  state.show_text = true;
  const gui::Surface shown = Draw(state).surface;
  CaptionInk ink;
  for (int y = 0; y < plain.height(); ++y)
    for (int x = 0; x < plain.width(); ++x)
      if (shown.Pixel(x, y) != plain.Pixel(x, y))
        (x < split ? ink.left : ink.right).push_back(shown.Pixel(x, y));
  return ink;
}

TEST(XpProgressBarLooksTest, GlossyCaptionIsWhiteOverTheFillAndBlackBeyond) {
  const CaptionInk ink = CaptionOf(State(Look::Glossy, 50), 100);  // fill edge 0.5 x 200
  ASSERT_FALSE(ink.left.empty());
  ASSERT_FALSE(ink.right.empty());
  for (const ColorRef c : ink.left) EXPECT_EQ(c, kWhite);
  for (const ColorRef c : ink.right) EXPECT_EQ(c, Rgb(0, 0, 0));
}

TEST(XpProgressBarLooksTest, DarkAtFullIsDrawnOnlyByTheOverlay) {
  const CaptionInk ink = CaptionOf(State(Look::Dark, 100), 0);
  ASSERT_FALSE(ink.right.empty());
  for (const ColorRef c : ink.right) EXPECT_EQ(c, L(80));  // never the silver of the first pass
}

TEST(XpProgressBarLooksTest, CaptionIsCentredAndClampedPercentShows) {
  EXPECT_EQ(CaptionText(0, 45), "45 %");
  EXPECT_EQ(CaptionText(5, -3), "-3 %");
  EXPECT_EQ(CaptionText(2, 45), "Searching..");
  BarState state = State(Look::Smooth, 150);
  state.show_text = true;
  const Drawn d = Draw(state);
  ASSERT_TRUE(d.geometry.text_laid_out);
  const gui::Rect t = d.geometry.text;
  EXPECT_LE(std::abs(t.left + t.right - 200), 1);
  EXPECT_LE(std::abs(t.top + t.bottom - 20), 1);
  // Drawn as 100: the same pixels as a bar at 100.
  BarState full = State(Look::Smooth, 100);
  full.show_text = true;
  EXPECT_EQ(d.surface, Draw(full).surface);
  // Black text on the white part, nothing outside its rectangle.
  const CaptionInk ink = CaptionOf(State(Look::Flat, 0), 0);
  ASSERT_FALSE(ink.right.empty());
  for (const ColorRef c : ink.right) EXPECT_EQ(c, Rgb(0, 0, 0));
}

TEST(XpProgressBarLooksTest, FlatAtFullFillsOverTheRightFrame) {
  const Drawn d = Draw(State(Look::Flat, 100));
  EXPECT_TRUE(AllOf(d.surface, {1, 1, 200, 19}, L(180)));
  EXPECT_TRUE(AllOf(d.surface, {0, 0, 1, 20}, L(100)));
  EXPECT_TRUE(AllOf(d.surface, {0, 0, 200, 1}, L(100)));
  EXPECT_TRUE(AllOf(d.surface, {0, 19, 200, 20}, L(100)));
}

TEST(XpProgressBarLooksTest, HatchedCrossOverTintWhateverTheContextHeld) {
  BarState state = State(Look::Hatched, 50);
  state.brush_style = 4;
  gui::Surface s(200, 20);
  gui::Dc dc(s);
  dc.SetBkMode(gui::BkMode::kTransparent);  // as a caption leaves it
  dc.SetBkColor(Rgb(1, 2, 3));
  DrawBar(state, dc);
  // The fill is (2, 2, round(200 x 50/101) = 99, 18); the cross is row 3 and column 4 of
  // every 8 x 8 cell from the surface origin.
  int wrong = 0;
  for (int y = 2; y < 18; ++y)
    for (int x = 2; x < 99; ++x)
      wrong += s.Pixel(x, y) != ((y % 8 == 3 || x % 8 == 4) ? kC : L(140));
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(AllOf(s, {99, 2, 198, 18}, kWhite));
  EXPECT_EQ(s.Pixel(0, 0), Rgb(212, 208, 200));  // the bump edge's light outer ring
  EXPECT_EQ(s.Pixel(1, 1), Rgb(64, 64, 64));     // and its dark inner ring
}

TEST(XpProgressBarLooksTest, PictureTilesTheImageOrShowsOnlyTheEdge) {
  BarState state = State(Look::Picture, 50);
  const Drawn bare = Draw(state);
  EXPECT_EQ(bare.surface.Pixel(0, 0), Rgb(128, 128, 128));
  EXPECT_EQ(bare.surface.Pixel(199, 19), kWhite);
  EXPECT_EQ(bare.surface.Pixel(199, 0), kWhite);
  EXPECT_EQ(bare.surface.Pixel(0, 19), kWhite);
  EXPECT_TRUE(AllOf(bare.surface, {1, 1, 199, 19}, kWhite));

  state.image = gui::Surface(1, 3);
  gui::Dc idc(state.image);
  for (int y = 0; y < 3; ++y) idc.SetPixel(0, y, Rgb(50 * y, 50 * y, 50 * y));
  const Drawn d = Draw(state);  // e = 99: columns 2 to 100, rows 2 to 17
  for (int y = 2; y < 18; ++y) {
    const int g = 50 * (y % 3);
    EXPECT_TRUE(AllOf(d.surface, {2, y, 101, y + 1}, Rgb(g, g, g))) << y;
  }
  EXPECT_TRUE(AllOf(d.surface, {101, 1, 199, 19}, kWhite));
}

TEST(XpProgressBarLooksTest, NegativePercentDrawsAnEmptyFill) {
  // The looks whose fill is already empty at 0 look the same at any negative percentage.
  for (const Look look : {Look::Blocks, Look::Smooth, Look::Searching, Look::Flat, Look::Dark,
                          Look::Hatched, Look::Picture}) {
    for (const bool vertical : {false, true}) {
      BarState zero = State(look, 0);
      zero.orientation = vertical;
      zero.brush_style = 4;
      BarState negative = zero;
      negative.percent = INT_MIN;
      EXPECT_EQ(Draw(negative).surface, Draw(zero).surface) << static_cast<int>(look);
    }
  }
}

TEST(XpProgressBarLooksTest, TinyBarsAndAbsurdValuesClipCleanly) {
  // Sizes of 0 to 5 pixels, every look (and some that do not exist), absurd percentages and
  // hatch styles. Drawing may reach past W x H, but what lands inside it must not depend on how
  // much surface lies beyond (the sanitizers watch the arithmetic on the way).
  const int sizes[][2] = {{0, 0}, {1, 1}, {2, 30}, {30, 2}, {5, 5}, {3, 20}};
  const int percents[] = {INT_MIN, -1, 0, 50, 100, INT_MAX};
  for (int look = -1; look <= 10; ++look) {
    for (const auto& size : sizes) {
      for (const int p : percents) {
        BarState state = State(static_cast<Look>(look), p, size[0], size[1]);
        state.show_text = true;
        state.brush_style = look;
        gui::Surface big(size[0] + 6, size[1] + 6);
        gui::Dc big_dc(big);
        DrawBar(state, big_dc);
        if (size[0] == 0) continue;
        gui::Surface exact(size[0], size[1]);
        gui::Dc exact_dc(exact);
        DrawBar(state, exact_dc);
        EXPECT_EQ(exact.image(), big.image().copy(0, 0, size[0], size[1]))
            << "look " << look << ", " << size[0] << " x " << size[1] << ", " << p << "%";
      }
    }
  }
}

}  // namespace
}  // namespace progressbar
