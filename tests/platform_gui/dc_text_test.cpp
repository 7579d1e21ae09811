#include <QFontMetrics>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/gui/dc.h"

namespace gui {
namespace {

constexpr ColorRef kWhite = Rgb(255, 255, 255);
constexpr ColorRef kInk = Rgb(0, 0, 0);

const FontDesc kArial{"Arial", 8.25};

struct Ink {
  int count = 0;
  Rect box{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};  // bounding box of ink pixels
  bool only_ink = true;                                  // every changed pixel is kInk
};

Ink InkOf(const Surface& s) {
  Ink ink;
  for (int y = 0; y < s.height(); ++y) {
    for (int x = 0; x < s.width(); ++x) {
      const ColorRef c = s.Pixel(x, y);
      if (c == kWhite) continue;
      ++ink.count;
      ink.only_ink &= c == kInk;
      ink.box = {std::min(ink.box.left, x), std::min(ink.box.top, y),
                 std::max(ink.box.right, x + 1), std::max(ink.box.bottom, y + 1)};
    }
  }
  return ink;
}

// Draws `text` on a white surface with the Arial caption font, black, transparent.
Surface Draw(const std::string& text, Rect rect, TextFormat format, int w = 80, int h = 30) {
  Surface s(w, h);
  Dc dc(s);
  dc.FillRect({0, 0, w, h}, Brush::Solid(kWhite));
  ScopedSelect font(dc, Font(kArial));
  dc.SetBkMode(BkMode::kTransparent);
  dc.SetTextColor(kInk);
  dc.DrawText(text, &rect, format);
  return s;
}

class GuiDcTextTest : public testing::Test {
 protected:
  const Font font_{kArial};
  const QFontMetrics fm_{font_.qfont()};
  int Advance(const char* text) const { return fm_.horizontalAdvance(QString::fromUtf8(text)); }
};

TEST_F(GuiDcTextTest, CalcRectMeasuresWithoutDrawing) {
  EXPECT_EQ(font_.pixel_size(), 11);  // 8.25 pt at 96 dpi
  const struct {
    const char* text;
    TextFormat format;
    const char* shown;  // the text whose advance is the width
    int lines;
  } rows[] = {
      {"45 %", TextFormat::kCalcRect | TextFormat::kSingleLine, "45 %", 1},
      {"45 %", TextFormat::kCalcRect, "45 %", 1},
      {"", TextFormat::kCalcRect | TextFormat::kSingleLine, "", 1},
      {"", TextFormat::kCalcRect, "", 0},
      {"&Copy", TextFormat::kCalcRect, "Copy", 1},
      {"a&&b", TextFormat::kCalcRect, "a&b", 1},
      {"ab&", TextFormat::kCalcRect, "ab&", 1},  // a final lone "&" shows
      {"wide\nw", TextFormat::kCalcRect, "wide", 2},
      {"wide\r\nw\n", TextFormat::kCalcRect, "wide", 2},
  };
  for (const auto& row : rows) {
    Surface s(60, 30);
    Dc dc(s);
    dc.FillRect({0, 0, 60, 30}, Brush::Solid(kWhite));
    ScopedSelect font(dc, font_);
    Rect r{7, 3, 7, 3};
    const int height = dc.DrawText(row.text, &r, row.format);
    EXPECT_EQ(r.left, 7) << row.text;
    EXPECT_EQ(r.top, 3) << row.text;
    EXPECT_EQ(r.right - r.left, Advance(row.shown)) << row.text;
    EXPECT_EQ(r.bottom - r.top, row.lines * fm_.height()) << row.text;
    EXPECT_EQ(height, row.lines * fm_.height()) << row.text;
    EXPECT_EQ(InkOf(s).count, 0) << row.text;
  }
}

TEST_F(GuiDcTextTest, WordBreakWrapsBetweenWords) {
  const int two_words = Advance("one two");
  Surface s(10, 10);
  Dc dc(s);
  ScopedSelect font(dc, font_);
  Rect r{0, 0, two_words + 2, 0};
  dc.DrawText("one two three", &r, TextFormat::kCalcRect | TextFormat::kWordBreak);
  EXPECT_EQ(r.right, two_words);  // shrinks to the widest line
  EXPECT_EQ(r.bottom, 2 * fm_.height());
  // A word wider than the rectangle keeps a line of its own, and the width grows.
  Rect narrow{0, 0, 5, 0};
  dc.DrawText("Searching.. on", &narrow, TextFormat::kCalcRect | TextFormat::kWordBreak);
  EXPECT_EQ(narrow.right, Advance("Searching.."));
  EXPECT_EQ(narrow.bottom, 2 * fm_.height());
  // A single line ignores both line feeds and word breaks.
  Rect single{0, 0, 5, 0};
  dc.DrawText("one two", &single,
              TextFormat::kCalcRect | TextFormat::kWordBreak | TextFormat::kSingleLine);
  EXPECT_EQ(single.bottom, fm_.height());
}

TEST_F(GuiDcTextTest, SingleLineIsClippedToItsRectangle) {
  const Rect rect{5, 2, 25, 18};
  const Ink clipped = InkOf(Draw("Searching..", rect, TextFormat::kSingleLine));
  ASSERT_GT(clipped.count, 0);
  EXPECT_TRUE(clipped.only_ink);  // no smoothing: every glyph pixel has the text colour
  EXPECT_GE(clipped.box.left, rect.left);
  EXPECT_GE(clipped.box.top, rect.top);
  EXPECT_LE(clipped.box.right, rect.right);
  EXPECT_LE(clipped.box.bottom, rect.bottom);
  EXPECT_LT(clipped.count,
            InkOf(Draw("Searching..", {5, 2, 80, 18}, TextFormat::kSingleLine)).count);
}

TEST_F(GuiDcTextTest, CentringMovesTheInkByHalfTheSpareRoom) {
  const Rect rect{0, 0, 61, 21};
  const Ink plain = InkOf(Draw("Copy", rect, TextFormat::kSingleLine));
  const Ink centred = InkOf(
      Draw("Copy", rect, TextFormat::kSingleLine | TextFormat::kCenter | TextFormat::kVCenter));
  ASSERT_GT(plain.count, 0);
  EXPECT_EQ(centred.count, plain.count);
  EXPECT_EQ(centred.box.left - plain.box.left, (61 - Advance("Copy")) / 2);
  EXPECT_EQ(centred.box.top - plain.box.top, 21 / 2 - fm_.height() / 2);
}

TEST_F(GuiDcTextTest, PrefixUnderlinesTheAccessKey) {
  const Rect rect{2, 1, 70, 25};
  const Surface with = Draw("&Copy", rect, TextFormat::kSingleLine);
  const Surface without = Draw("Copy", rect, TextFormat::kSingleLine);
  const int row = rect.top + fm_.ascent() + 1;
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
