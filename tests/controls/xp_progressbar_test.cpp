#include "controls/xp_progressbar.h"

#include <QImage>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <vector>

#include "tests/controls/recording_host.h"

namespace {

using gui::ColorRef;
using gui::Rgb;

// A bar of the given size with its buffer in place, as after a resize.
struct Bar {
  explicit Bar(int width = 200, int height = 20) : bar(nullptr, &host) {
    bar.resize(width, height);
    bar.SetHdc();
  }
  RecordingHost host;
  XP_ProgressBar bar;
};

// Each row starts from Percent 33 (Value 33 with Max 100).
TEST(XpProgressBarValueTest, Conversions) {
  // Min, Max, Value written: Percent stored, Value read back.
  const std::tuple<const char*, int, int, int, int, int> rows[] = {
      {"Max 300, 2", 0, 300, 2, 1, 3},
      {"Max 200, 1: 0.5 to even 0", 0, 200, 1, 0, 0},
      {"Max 200, 3: 1.5 to even 2", 0, 200, 3, 2, 4},
      {"Max 100, 150 clamped by the redraw", 0, 100, 150, 100, 100},
      {"Max 100, negative", 0, 100, -7, -7, -7},
      {"Max 0 keeps the old Percent", 0, 0, 50, 33, 0},
      {"product past 32 bits keeps it", 0, 100, 30000000, 33, 33},
      {"Min 10, Max 110", 10, 110, 60, 50, 60},
      {"Min = Max: nothing to convert", 10, 10, 80, 33, 10},
  };
  for (const auto& [name, min, max, write, percent, read] : rows) {
    Bar b;
    b.bar.SetValue(33);
    b.bar.SetMin(min);
    b.bar.SetMax(max);
    b.bar.SetValue(write);
    EXPECT_EQ(b.bar.Percent(), percent) << name;
    EXPECT_EQ(b.bar.Value(), read) << name;
  }
  Bar b;
  b.bar.SetMax(1);
  b.bar.SetValue(-20000000);  // Percent -2e9
  ASSERT_EQ(b.bar.Percent(), -2000000000);
  b.bar.SetMax(INT_MAX);
  EXPECT_EQ(b.bar.Value(), 0);  // -2e7 x (2^31 - 1) does not fit
}

TEST(XpProgressBarBufferTest, AppearsWithAnAreaAndGrowsButNeverShrinks) {
  Bar b(0, 0);
  EXPECT_EQ(b.bar.hdc(), nullptr);
  b.bar.SetValue(50);  // draws nowhere, harmlessly
  EXPECT_EQ(b.bar.Percent(), 50);
  // No area, no buffer; smaller keeps it; wider or taller grows it in that direction only.
  const std::tuple<int, int, QSize> steps[] = {
      {30, 0, {0, 0}},      {30, 8, {30, 8}},    {100, 20, {100, 20}}, {50, 10, {100, 20}},
      {120, 10, {120, 20}}, {30, 40, {120, 40}}, {0, 0, {120, 40}}};
  for (const auto& [width, height, buffer] : steps) {
    b.bar.resize(width, height);
    b.bar.SetHdc();
    EXPECT_EQ(b.bar.BufferSize(), buffer) << width << "x" << height;
    EXPECT_EQ(b.bar.Buffered(), !buffer.isEmpty());
  }
}

TEST(XpProgressBarBufferTest, ScreenShowsTheBufferAndPDrawCopiesIt) {
  Bar b(60, 12);
  b.bar.SetScrolling(5);
  b.bar.SetValue(70);
  b.bar.resize(40, 12);  // smaller than the buffer: only its corner shows
  const QImage screen = b.bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
  const QImage buffer = b.bar.hdc()->surface().image();
  EXPECT_EQ(screen, buffer.copy(0, 0, 40, 12));

  gui::Surface target(80, 20);
  gui::Dc dc(target);
  b.bar.pDraw(dc);  // only a context: the whole buffer to (0, 0)
  EXPECT_EQ(target.image().copy(0, 0, 60, 12), buffer);
  EXPECT_EQ(target.Pixel(60, 0), Rgb(0, 0, 0));
  b.bar.pDraw(dc, 10, 2, 5, 3, 77, 18);  // clipped at the target's right and bottom
  EXPECT_EQ(target.image().copy(77, 18, 3, 2), buffer.copy(10, 2, 3, 2));
  EXPECT_EQ(target.Pixel(0, 19), Rgb(0, 0, 0));  // nothing spills into the next row
}

// A new bar writes only what differs from the defaults: the font, BrushStyle 0 (the default is
// 4) and its colour, the system highlight frozen to RGB (the default is the reference to it).
TEST(XpProgressBarPersistenceTest, NewBarDefaultsAndColoursStoredAsRgb) {
  Bar b;
  gui::PropertyBag bag;
  b.bar.WriteProperties(bag);
  EXPECT_EQ(bag.Names(), (std::vector<std::string>{"Font", "BrushStyle", "Color"}));
  EXPECT_EQ(bag.ReadProperty<std::int32_t>("Color", 0), 0x6A240A);

  Bar fresh;
  fresh.bar.ReadProperties(gui::PropertyBag());  // nothing stored: every default
  fresh.bar.SetColor(0x8000000Fu);
  EXPECT_EQ(fresh.bar.Color(), Rgb(212, 208, 200));
  gui::PropertyBag again;
  fresh.bar.WriteProperties(again);
  EXPECT_EQ(again.Names(), (std::vector<std::string>{"Font", "Color"}));  // BrushStyle read as 4
  EXPECT_EQ(again.ReadProperty<gui::FontDesc>("Font", {}), fresh.host.AmbientFont());
  ColorRef from = 0x8000000Du, to = 0;  // DrawGradient hands its colours back translated
  fresh.bar.DrawGradient(from, to, 0, 0, 4, 1, *fresh.bar.hdc(), false);
  EXPECT_EQ(from, Rgb(10, 36, 106));
}

TEST(XpProgressBarPersistenceTest, RoundTrip) {
  Bar b;
  b.bar.SetFont({"Arial", 8.25});
  b.bar.SetBrushStyle(5);
  b.bar.SetColor(Rgb(228, 101, 1));
  b.bar.SetImage(gui::Surface(1, 2));
  b.bar.SetMax(300);
  b.bar.SetOrientation(1);
  b.bar.SetScrolling(7);
  b.bar.SetShowText(true);
  b.bar.SetValue(171);  // Percent 57
  gui::PropertyBag bag;
  b.bar.WriteProperties(bag);
  EXPECT_EQ(bag.Names(),
            (std::vector<std::string>{"Font", "BrushStyle", "Color", "Image", "Max", "Orientation",
                                      "Scrolling", "ShowText", "Value"}));

  Bar copy;
  copy.bar.ReadProperties(bag);
  EXPECT_EQ(copy.bar.Value(), 171);  // "Value" holds the percentage, 57, and comes back as such
  gui::PropertyBag written;
  copy.bar.WriteProperties(written);
  EXPECT_EQ(written.ToText(), bag.ToText());
  EXPECT_EQ(copy.bar.hdc()->surface(), b.bar.hdc()->surface());
}

}  // namespace
