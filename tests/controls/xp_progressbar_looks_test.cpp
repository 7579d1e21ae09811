// The looks drawn straight into surfaces: state in, pixels out. The single pixels and rows are
// derived by hand from the drawing rules; the reviewed images hold each look as a whole.
#include <QDir>
#include <QImage>

#include <gtest/gtest.h>

#include <climits>
#include <tuple>

#include "controls/progressbar_looks.h"

namespace progressbar {
namespace {

using gui::ColorRef;
using gui::Rect;
using gui::Rgb;

// C, the main window's orange, and its tints L(a): each channel ch x (255 - a) / 255, truncated,
// plus a. For L(100): 228 x 155 / 255 = 138, 101 -> 61, 1 -> 0.
constexpr ColorRef kC = Rgb(228, 101, 1);
constexpr ColorRef kL80 = Rgb(236, 149, 80);    // 156, 69, 0
constexpr ColorRef kL100 = Rgb(238, 161, 100);  // 138, 61, 0
constexpr ColorRef kL140 = Rgb(242, 185, 140);  // 102, 45, 0
constexpr ColorRef kL180 = Rgb(247, 209, 180);  // 67, 29, 0
constexpr ColorRef kWhite = Rgb(255, 255, 255);
constexpr ColorRef kBlack = Rgb(0, 0, 0);
constexpr ColorRef kFrame = Rgb(104, 104, 104);

// Bars taller than wide fill from the bottom.
BarState State(Look look, int percent, int width = 200, int height = 20) {
  // Size, colour, percent, look, orientation, cross size, image, caption, font.
  return {width,          height, kC, percent, static_cast<int>(look),
          height > width, 4,      {}, false,   {"Arial", 8.25}};
}

// The bar on a surface `margin` pixels wider and taller than itself.
gui::Surface Draw(const BarState& state, int margin = 0) {
  gui::Surface surface(state.width + margin, state.height + margin);
  gui::Dc dc(surface);
  DrawBar(state, dc);
  return surface;
}

gui::Surface White(int width, int height) {
  gui::Surface surface(width, height);
  gui::Dc(surface).FillRect({0, 0, width, height}, gui::Brush::Solid(kWhite));
  return surface;
}

int Inked(const gui::Surface& surface) {  // pixels that are not white
  int inked = 0;
  for (int y = 0; y < surface.height(); ++y)
    for (int x = 0; x < surface.width(); ++x) inked += surface.Pixel(x, y) != kWhite;
  return inked;
}

// Every pixel of the rectangle has `color`; reports the first that does not.
testing::AssertionResult AllOf(const gui::Surface& surface, Rect rect, ColorRef color) {
  for (int y = rect.top; y < rect.bottom; ++y)
    for (int x = rect.left; x < rect.right; ++x)
      if (surface.Pixel(x, y) != color)
        return testing::AssertionFailure() << "pixel " << x << "," << y << " is " << std::hex
                                           << surface.Pixel(x, y) << ", not " << color;
  return testing::AssertionSuccess();
}

// Black to (100, 100, 100) in rows 2 to 6 over columns 2 to 9: the greys 0, 25, 50, 75, 100.
// n = 0 draws one line in color1, n < 0 nothing; system colours are translated.
TEST(XpProgressBarHelpersTest, DrawGradientAndDrawLine) {
  gui::Surface surface = White(12, 8);
  gui::Dc dc(surface);
  DrawGradient(kBlack, Rgb(100, 100, 100), 2, 2, 10, 4, dc, false);
  for (int i = 0; i <= 4; ++i)
    EXPECT_TRUE(AllOf(surface, {2, 2 + i, 10, 3 + i}, Rgb(25 * i, 25 * i, 25 * i)));
  EXPECT_EQ(Inked(surface), 40);
  // Left to right, width, height: pixels painted.
  const std::tuple<bool, int, int, int> rows[] = {
      {false, 6, 0, 5}, {true, 0, 6, 3}, {false, 6, -1, 0}, {true, -5, 6, 0}};
  for (const auto& [left_to_right, width, height, painted] : rows) {
    gui::Surface one = White(8, 8);
    gui::Dc one_dc(one);
    DrawGradient(0x80000010u, kBlack, 1, 3, width, height, one_dc, left_to_right);
    EXPECT_EQ(Inked(one), painted) << width << "x" << height;
    EXPECT_TRUE(painted == 0 || one.Pixel(1, 3) == Rgb(128, 128, 128));
  }
  gui::Surface line = White(12, 3);
  gui::Dc line_dc(line);
  DrawLine(2, 1, 10, 1, line_dc, 0x80000010u);
  EXPECT_TRUE(AllOf(line, {2, 1, 10, 2}, Rgb(128, 128, 128)));  // columns 2 to 9
  EXPECT_EQ(Inked(line), 8);
}

// Every pixel of `rect` has `color`, in bars of 200 x 20 unless stated. The reviewed images
// below hold the looks at 50 %; these rows check the ends and the edges of the fill.
TEST(XpProgressBarLooksTest, PixelsOfEachLookAtChosenPercentages) {
  const ColorRef marker = Rgb(230, 116, 25);  // L(25)
  const struct {
    Look look;
    int percent;
    Rect rect;
    ColorRef color;
    const char* why;
    int width = 200, height = 20;
  } rows[] = {
      // The shared bar's fill in row 9: the band in C, white gaps every 8 from 10 in Blocks.
      {Look::Blocks, 0, {4, 9, 10, 10}, kC, "Blocks at 0: one segment, 4 to 9"},
      {Look::Blocks, 0, {10, 9, 198, 10}, kWhite, "and nothing after it"},
      {Look::Blocks, 100, {196, 9, 198, 10}, kC, "at 100 the band stops at 199"},
      {Look::Smooth, 0, {4, 9, 12, 10}, kC, "Smooth at 0: the stub, to 12"},
      {Look::Smooth, 0, {12, 9, 198, 10}, kWhite, "and no further"},
      {Look::Smooth, 6, {4, 9, 15, 10}, kC, "at 6 the edge is 15, not below 15"},
      {Look::Smooth, 6, {15, 9, 198, 10}, kWhite, "and kept"},
      {static_cast<Look>(42), 6, {4, 9, 15, 10}, kC, "unknown looks draw Smooth"},
      {Look::Flat, 100, {1, 1, 200, 19}, kL180, "Flat fills over its right frame"},
      {Look::Flat, 100, {0, 0, 1, 20}, kL100, "Flat's frame"},
      {Look::Blocks, 0, {3, 3, 17, 197}, kWhite, "vertical Blocks at 0: no fill, no gaps", 20, 200},
      {Look::Searching, 0, {3, 3, 197, 17}, kWhite, "at 0 they lie left of the bar"},
      {Look::Searching, 0, {0, 3, 1, 17}, kFrame, "and the frame covers column 0"},
      {Look::Searching, 100, {3, 3, 197, 17}, kWhite, "at 100 they lie right of it"},
      // The main window's bar, 267 x 11: the end marker in column e = round(p/101 x 267).
      {Look::Gradient, 100, {264, 2, 265, 9}, marker, "at 100, e = 264", 267, 11},
      {Look::Gradient, 0, {1, 3, 4, 4}, Rgb(254, 251, 250), "at 0 the fill runs left", 267, 11},
      {Look::Gradient, 0, {0, 2, 1, 9}, marker, "and the marker lies on the frame", 267, 11},
      {Look::Picture, 50, {1, 1, 199, 19}, kWhite, "Picture without an image"},
      // A negative Percent draws an empty fill.
      {Look::Blocks, INT_MIN, {12, 9, 198, 10}, kWhite, "Blocks: the stub only"},
      {Look::Blocks, INT_MIN, {3, 3, 17, 197}, kWhite, "vertical Blocks", 20, 200},
      {Look::Searching, INT_MIN, {3, 3, 197, 17}, kWhite, "Searching"},
      {Look::Flat, INT_MIN, {1, 1, 199, 19}, kWhite, "Flat"},
      {Look::Dark, INT_MIN, {2, 2, 198, 18}, kBlack, "Dark"},
      {Look::Hatched, INT_MIN, {2, 2, 198, 18}, kWhite, "Hatched"},
  };
  for (const auto& row : rows) {
    EXPECT_TRUE(
        AllOf(Draw(State(row.look, row.percent, row.width, row.height)), row.rect, row.color))
        << row.why;
  }
}

TEST(XpProgressBarLooksTest, HatchedCrossOverTintWhateverTheContextHeld) {
  gui::Surface surface(200, 20);
  gui::Dc dc(surface);
  dc.SetBkMode(gui::BkMode::kTransparent);  // as a caption leaves it
  dc.SetBkColor(Rgb(1, 2, 3));
  DrawBar(State(Look::Hatched, 50), dc);
  // The fill is (2, 2, round(200 x 50/101) = 99, 18); the cross is row 3 and column 4 of
  // every 8 x 8 cell from the surface origin.
  int wrong = 0;
  for (int y = 2; y < 18; ++y)
    for (int x = 2; x < 99; ++x)
      wrong += surface.Pixel(x, y) != ((y % 8 == 3 || x % 8 == 4) ? kC : kL140);
  EXPECT_EQ(wrong, 0);
  EXPECT_TRUE(AllOf(surface, {99, 2, 198, 18}, kWhite));
}

gui::Surface GreyStripes() {
  gui::Surface image(1, 3);
  gui::Dc dc(image);
  for (int y = 0; y < 3; ++y) dc.SetPixel(0, y, Rgb(50 * y, 50 * y, 50 * y));
  return image;
}

// The caption's ink (the pixels that differ from the bar without it) left and right of `split`:
// one colour each side, as the look says.
testing::AssertionResult CaptionColours(BarState state, int split, ColorRef left, ColorRef right) {
  const gui::Surface plain = Draw(state);
  state.show_text = true;
  const gui::Surface shown = Draw(state);
  int inked[2] = {0, 0};
  for (int y = 0; y < plain.height(); ++y)
    for (int x = 0; x < plain.width(); ++x)
      if (shown.Pixel(x, y) != plain.Pixel(x, y)) {
        if (shown.Pixel(x, y) != (x < split ? left : right))
          return testing::AssertionFailure() << "caption pixel " << x << "," << y;
        ++inked[x < split ? 0 : 1];
      }
  if ((split > 0 && inked[0] == 0) || inked[1] == 0) return testing::AssertionFailure() << "no ink";
  return testing::AssertionSuccess();
}

TEST(XpProgressBarLooksTest, CaptionColoursAndPlace) {
  EXPECT_TRUE(CaptionColours(State(Look::Glossy, 50), 100, kWhite, kBlack));  // edge 0.5 x 200
  EXPECT_TRUE(CaptionColours(State(Look::Dark, 100), 0, kL80, kL80));  // only the overlay pass
  EXPECT_EQ(CaptionText(5, -3), "-3 %");
  // 150 is drawn as 100: the same pixels (the reviewed image holds the centred caption at 100).
  BarState state = State(Look::Smooth, 150);
  state.show_text = true;
  const gui::Surface drawn = Draw(state);
  state.percent = 100;
  EXPECT_EQ(drawn, Draw(state));
}

TEST(XpProgressBarLooksTest, TinyBarsAndAbsurdValuesClipCleanly) {
  // Sizes of 0 to 5 pixels, every look (and some that do not exist), absurd percentages and
  // hatch styles. Drawing may reach past W x H, but what lands inside it must not depend on how
  // much surface lies beyond (the sanitizers watch the arithmetic on the way).
  const int sizes[][2] = {{0, 0}, {1, 1}, {2, 30}, {30, 2}, {5, 5}, {3, 20}};
  const int percents[] = {INT_MIN, -1, 0, 50, 100, INT_MAX};
  for (int look = -1; look <= 10; ++look)
    for (const auto& size : sizes)
      for (const int percent : percents) {
        BarState state = State(static_cast<Look>(look), percent, size[0], size[1]);
        state.show_text = true;
        state.brush_style = look;
        state.image = GreyStripes();
        const gui::Surface big = Draw(state, 6);
        if (size[0] == 0) continue;
        EXPECT_EQ(Draw(state).image(), big.image().copy(0, 0, size[0], size[1]))
            << "look " << look << ", " << size[0] << " x " << size[1] << ", " << percent << "%";
      }
}

// Every look as a whole, against images a person has reviewed (tests/controls/reference).
// MENDRA_WRITE_REFERENCE=DIR writes the renders to DIR instead, for review.
TEST(XpProgressBarLooksTest, LooksMatchTheirReviewedImages) {
  // File (its look, percent, "-text" with a caption; "-vertical" bars are 20 x 200, "-main"
  // the main window's 267 x 11, the others 200 x 20) and look.
  const std::pair<const char*, Look> rows[] = {
      {"blocks-50-text.png", Look::Blocks},           {"blocks-50-vertical.png", Look::Blocks},
      {"smooth-100-text.png", Look::Smooth},          {"searching-50-text.png", Look::Searching},
      {"searching-50-vertical.png", Look::Searching}, {"etched-50-text.png", Look::Etched},
      {"gradient-50-main.png", Look::Gradient},       {"dark-50-text.png", Look::Dark},
      {"hatched-50-text.png", Look::Hatched},         {"picture-50-text.png", Look::Picture},
      {"glossy-50-text.png", Look::Glossy},
  };
  const QString write_to = qEnvironmentVariable("MENDRA_WRITE_REFERENCE");
  for (const auto& [file, look] : rows) {
    const QString name = QString::fromUtf8(file);
    QSize size(200, 20);
    if (name.contains("-vertical")) size.transpose();
    if (name.contains("-main")) size = {267, 11};
    BarState state = State(look, name.section('-', 1, 1).toInt(), size.width(), size.height());
    state.show_text = name.contains("-text");
    state.image = GreyStripes();
    const QImage drawn = Draw(state).image();
    const QString reviewed = QDir(QStringLiteral(REFERENCE_DIR)).filePath(file);
    if (!write_to.isEmpty()) {
      EXPECT_TRUE(drawn.save(QDir(write_to).filePath(file)));
    } else if (drawn != QImage(reviewed).convertToFormat(drawn.format())) {
      const QString actual = QDir::temp().filePath(file);
      drawn.save(actual);
      ADD_FAILURE() << qPrintable(reviewed) << " differs from the render " << qPrintable(actual);
    }
  }
}

}  // namespace
}  // namespace progressbar
