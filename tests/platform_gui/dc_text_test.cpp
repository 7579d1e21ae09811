#include <QFontMetrics>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>
#include <tuple>

#include "platform/gui/dc.h"

namespace gui {
namespace {

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
  for (int y = 0; y < surface.height(); ++y)
    for (int x = 0; x < surface.width(); ++x)
      if (surface.Pixel(x, y) != kWhite)
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
  EXPECT_EQ(font_.pixel_size(), 11);  // 8.25 pt at 96 dpi
  // Text, format, the text whose advance is the width, lines.
  const std::tuple<const char*, TextFormat, const char*, int> rows[] = {
      {"45 %", TextFormat::kCalcRect | TextFormat::kSingleLine, "45 %", 1},
      {"", TextFormat::kCalcRect | TextFormat::kSingleLine, "", 1},
      {"", TextFormat::kCalcRect, "", 0},
      {"&Copy", TextFormat::kCalcRect, "Copy", 1},
      {"a&&b", TextFormat::kCalcRect, "a&b", 1},
      {"ab&", TextFormat::kCalcRect, "ab&", 1},  // a final lone "&" shows
      {"wide\r\nw\n", TextFormat::kCalcRect, "wide", 2},
  };
  for (const auto& [text, format, shown, lines] : rows) {
    Surface surface = Draw("", {}, TextFormat::kCalcRect);  // white
    Dc dc(surface);
    ScopedSelect font(dc, font_);
    Rect rect{7, 3, 7, 3};
    const int height = dc.DrawText(text, &rect, format);
    EXPECT_EQ(rect, (Rect{7, 3, 7 + Advance(shown), 3 + lines * metrics_.height()})) << text;
    EXPECT_EQ(height, lines * metrics_.height()) << text;
    EXPECT_EQ(InkBox(surface).left, INT_MAX) << text;  // nothing drawn
  }
}

TEST_F(GuiDcTextTest, WordBreakWrapsBetweenWords) {
  Surface surface(10, 10);
  Dc dc(surface);
  ScopedSelect font(dc, font_);
  Rect rect{0, 0, Advance("one two") + 2, 0};
  dc.DrawText("one two three", &rect, TextFormat::kCalcRect | TextFormat::kWordBreak);
  EXPECT_EQ(rect, (Rect{0, 0, Advance("one two"), 2 * metrics_.height()}));  // the widest line
  // A word wider than the rectangle keeps a line of its own, and the width grows.
  Rect narrow{0, 0, 5, 0};
  dc.DrawText("Searching.. on", &narrow, TextFormat::kCalcRect | TextFormat::kWordBreak);
  EXPECT_EQ(narrow, (Rect{0, 0, Advance("Searching.."), 2 * metrics_.height()}));
}

TEST_F(GuiDcTextTest, CentringMovesTheInkByHalfTheSpareRoom) {
  const Rect rect{0, 0, 61, 21};
  const Rect plain = InkBox(Draw("Copy", rect, TextFormat::kSingleLine));
  const Rect centred = InkBox(
      Draw("Copy", rect, TextFormat::kSingleLine | TextFormat::kCenter | TextFormat::kVCenter));
  EXPECT_EQ(centred.left - plain.left, (61 - Advance("Copy")) / 2);
  EXPECT_EQ(centred.top - plain.top, 21 / 2 - metrics_.height() / 2);
}

TEST_F(GuiDcTextTest, PrefixUnderlinesTheAccessKey) {
  const Rect rect{2, 1, 70, 25};
  const Surface with = Draw("&Copy", rect, TextFormat::kSingleLine);
  const Surface without = Draw("Copy", rect, TextFormat::kSingleLine);
  const int row = rect.top + metrics_.ascent() + 1;
  const int from = rect.left, to = rect.left + Advance("C") - 2;
  for (int y = 0; y < with.height(); ++y) {
    for (int x = 0; x < with.width(); ++x) {
      const bool underline = y == row && x >= from && x <= to;
      EXPECT_EQ(with.Pixel(x, y), underline ? kInk : without.Pixel(x, y)) << x << "," << y;
    }
  }
}

}  // namespace
}  // namespace gui
