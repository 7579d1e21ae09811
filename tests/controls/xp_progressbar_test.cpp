#include "controls/xp_progressbar.h"

#include <QImage>

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace {

using gui::ColorRef;
using gui::Rgb;

constexpr ColorRef kMarker = Rgb(255, 0, 255);

class RecordingHost : public gui::ControlHost {
 public:
  void PropertyChanged(std::string_view name) override { changed.emplace_back(name); }
  gui::FontDesc AmbientFont() const override { return {"Arial", 9.75}; }
  ColorRef AmbientBackColor() const override { return 0x8000000Fu; }
  bool UserMode() const override { return true; }

  std::vector<std::string> changed;
};

// A bar of the given size with its buffer in place, as after a resize.
struct Bar {
  explicit Bar(int w = 200, int h = 20) : bar(nullptr, &host) {
    bar.resize(w, h);
    bar.SetHdc();
  }
  RecordingHost host;
  XP_ProgressBar bar;
};

TEST(XpProgressBarValueTest, ConversionsWithMinZero) {
  const struct {
    const char* name;
    int max;
    int write;
    int percent;  // stored
    int read;     // Value read back
  } rows[] = {
      {"Max 300, 2", 300, 2, 1, 3},
      {"Max 300, 5", 300, 5, 2, 6},
      {"Max 200, 1: 0.5 to even 0", 200, 1, 0, 0},
      {"Max 200, 3: 1.5 to even 2", 200, 3, 2, 4},
      {"Max 100, 150 clamped by the redraw", 100, 150, 100, 100},
      {"Max 100, negative", 100, -7, -7, -7},
      {"Max 0 keeps the old Percent", 0, 50, 33, 0},
      {"product past 32 bits keeps it", 100, 30000000, 33, 33},
      {"negative Max", -100, 50, -50, 50},
  };
  for (const auto& row : rows) {
    Bar b;
    b.bar.SetValue(33);  // Percent 33 with the default Max 100
    b.bar.SetMax(row.max);
    b.bar.SetValue(row.write);
    EXPECT_EQ(b.bar.Percent(), row.percent) << row.name;
    EXPECT_EQ(b.bar.Value(), row.read) << row.name;
  }
}

TEST(XpProgressBarValueTest, SplashLoopReachesMaxInExactlyOneHundredWrites) {
  Bar b;
  b.bar.SetMax(300);
  int rounds = 0;
  while (b.bar.Value() < b.bar.Max() && rounds < 1000) {
    b.bar.SetValue(b.bar.Value() + 2);
    ++rounds;
  }
  EXPECT_EQ(rounds, 100);
  EXPECT_EQ(b.bar.Value(), 300);
}

TEST(XpProgressBarValueTest, OutOfRangeReadsAndOtherMins) {
  Bar b;
  b.bar.SetMax(1);
  b.bar.SetValue(-20000000);  // Percent -2e9
  ASSERT_EQ(b.bar.Percent(), -2000000000);
  b.bar.SetMax(INT_MAX);
  EXPECT_EQ(b.bar.Value(), 0);  // -2e7 x (2^31 - 1) does not fit
  b.bar.SetMin(10);
  b.bar.SetMax(110);
  b.bar.SetValue(60);
  EXPECT_EQ(b.bar.Percent(), 50);
  EXPECT_EQ(b.bar.Value(), 60);
  b.bar.SetMax(10);  // Max = Min: nothing to convert
  b.bar.SetValue(80);
  EXPECT_EQ(b.bar.Percent(), 50);
  EXPECT_EQ(b.bar.Value(), 10);
}

// Whether a property write redraws (the marker painted into the buffer is gone) and what it
// marks changed.
TEST(XpProgressBarPropertiesTest, EachWriteRedrawsAndMarksAsStated) {
  const struct {
    const char* name;
    std::function<void(XP_ProgressBar&)> write;
    bool redraws;
    std::vector<std::string> marked;
  } rows[] = {
      {"BrushStyle", [](XP_ProgressBar& b) { b.SetBrushStyle(2); }, false, {"BrushStyle"}},
      {"Color", [](XP_ProgressBar& b) { b.SetColor(Rgb(1, 2, 3)); }, true, {}},
      {"Font",
       [](XP_ProgressBar& b) {
         b.SetFont({"Arial", 12});
       },
       false,
       {}},
      {"Image", [](XP_ProgressBar& b) { b.SetImage(gui::Surface(2, 2)); }, true, {"Image"}},
      {"Min", [](XP_ProgressBar& b) { b.SetMin(5); }, false, {"Min"}},
      {"Max", [](XP_ProgressBar& b) { b.SetMax(50); }, false, {"Max"}},
      {"Orientation", [](XP_ProgressBar& b) { b.SetOrientation(1); }, true, {"Orientation"}},
      {"Scrolling", [](XP_ProgressBar& b) { b.SetScrolling(3); }, true, {"Scrolling"}},
      {"ShowText", [](XP_ProgressBar& b) { b.SetShowText(true); }, true, {"ShowText"}},
      {"Value", [](XP_ProgressBar& b) { b.SetValue(40); }, true, {}},
      {"Value with Max 0",
       [](XP_ProgressBar& b) {
         b.SetMax(0);
         b.SetValue(40);
       },
       true,
       {"Max"}},
  };
  for (const auto& row : rows) {
    Bar b;
    ASSERT_NE(b.bar.hdc(), nullptr);
    b.bar.hdc()->FillRect({0, 0, 200, 20}, gui::Brush::Solid(kMarker));
    b.host.changed.clear();
    row.write(b.bar);
    EXPECT_EQ(b.bar.hdc()->GetPixel(100, 10) != kMarker, row.redraws) << row.name;
    EXPECT_EQ(b.host.changed, row.marked) << row.name;
  }
}

TEST(XpProgressBarPropertiesTest, ColoursAreStoredTranslated) {
  Bar b;
  EXPECT_EQ(b.bar.Color(), Rgb(10, 36, 106));  // the highlight colour, from creation
  b.bar.SetColor(0x8000000Fu);
  EXPECT_EQ(b.bar.Color(), Rgb(212, 208, 200));
  gui::PropertyBag bag;
  b.bar.WriteProperties(bag);  // the RGB value: the design no longer follows the system colour
  EXPECT_EQ(bag.ReadProperty<std::int32_t>("Color", 0),
            static_cast<std::int32_t>(Rgb(212, 208, 200)));
  // DrawGradient hands back its colours translated.
  ColorRef from = 0x8000000Du, to = Rgb(1, 2, 3);
  gui::Surface s(4, 4);
  gui::Dc dc(s);
  b.bar.DrawGradient(from, to, 0, 0, 4, 1, dc, false);
  EXPECT_EQ(from, Rgb(10, 36, 106));
  EXPECT_EQ(s.Pixel(0, 0), Rgb(10, 36, 106));
}

TEST(XpProgressBarBufferTest, GrowsButNeverShrinks) {
  Bar b(100, 20);
  EXPECT_TRUE(b.bar.Buffered());
  EXPECT_EQ(b.bar.BufferSize(), QSize(100, 20));
  const struct {
    int w, h;
    QSize buffer;
  } steps[] = {
      {50, 10, {100, 20}},   // smaller: kept
      {120, 10, {120, 20}},  // wider: grows, keeps its height
      {30, 40, {120, 40}},   // taller
      {0, 0, {120, 40}},
  };
  for (const auto& step : steps) {
    b.bar.resize(step.w, step.h);
    b.bar.SetHdc();
    EXPECT_EQ(b.bar.BufferSize(), step.buffer) << step.w << "x" << step.h;
  }
}

TEST(XpProgressBarBufferTest, ZeroSizeBarHasNoBufferUntilItGrows) {
  Bar b(0, 0);
  EXPECT_FALSE(b.bar.Buffered());
  EXPECT_EQ(b.bar.hdc(), nullptr);
  b.bar.SetValue(50);  // draws nowhere, harmlessly
  EXPECT_EQ(b.bar.Percent(), 50);
  b.bar.resize(30, 0);
  b.bar.SetHdc();
  EXPECT_FALSE(b.bar.Buffered());
  b.bar.resize(30, 8);
  b.bar.SetHdc();
  EXPECT_EQ(b.bar.BufferSize(), QSize(30, 8));
}

TEST(XpProgressBarBufferTest, ScreenShowsTheBufferAndPDrawCopiesIt) {
  Bar b(60, 12);
  b.bar.SetScrolling(5);
  b.bar.SetValue(70);
  b.bar.resize(40, 12);  // smaller than the buffer: only its corner shows
  const QImage screen = b.bar.grab().toImage().convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(screen.size(), QSize(40, 12));
  const QImage buffer = b.bar.hdc()->surface().image();
  EXPECT_EQ(screen, buffer.copy(0, 0, 40, 12));

  gui::Surface target(80, 20);
  gui::Dc dc(target);
  b.bar.pDraw(dc);  // only a context: the whole buffer to (0, 0)
  EXPECT_EQ(target.image().copy(0, 0, 60, 12), buffer);
  EXPECT_EQ(target.Pixel(60, 0), Rgb(0, 0, 0));
  b.bar.pDraw(dc, 10, 2, 5, 3, 70, 15);
  EXPECT_EQ(target.Pixel(70, 15), b.bar.hdc()->GetPixel(10, 2));
  EXPECT_EQ(target.Pixel(74, 17), b.bar.hdc()->GetPixel(14, 4));
}

TEST(XpProgressBarPersistenceTest, NewBarWritesOnlyWhatDiffersFromTheDefaults) {
  Bar b;
  gui::PropertyBag bag;
  b.bar.WriteProperties(bag);
  // BrushStyle starts at 0, which differs from its persisted default 4.
  EXPECT_EQ(bag.Names(), (std::vector<std::string>{"Font", "BrushStyle", "Color"}));
  EXPECT_EQ(bag.ReadProperty<std::int32_t>("BrushStyle", -1), 0);

  Bar fresh;
  fresh.bar.ReadProperties(gui::PropertyBag());  // nothing stored: every default
  gui::PropertyBag again;
  fresh.bar.WriteProperties(again);
  EXPECT_EQ(again.Find("BrushStyle"), nullptr);  // read as 4, the default, so not written
  EXPECT_EQ(again.ReadProperty<gui::FontDesc>("Font", {}), fresh.host.AmbientFont());
  EXPECT_EQ(fresh.bar.Max(), 100);
  EXPECT_EQ(fresh.bar.Color(), Rgb(10, 36, 106));
}

TEST(XpProgressBarPersistenceTest, RoundTripThroughTheTextForm) {
  Bar b;
  gui::Surface image(1, 2);
  gui::Dc(image).SetPixel(0, 1, Rgb(96, 96, 96));
  b.bar.SetFont({"Arial", 8.25});
  b.bar.SetBrushStyle(5);
  b.bar.SetColor(Rgb(228, 101, 1));
  b.bar.SetImage(image);
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
  EXPECT_EQ(bag.ReadProperty<std::int32_t>("Value", 0), 57);  // the percentage itself

  std::string error;
  const auto text_bag = gui::PropertyBag::FromText(bag.ToText(), &error);
  ASSERT_TRUE(text_bag.has_value()) << error;
  Bar copy;
  copy.bar.ReadProperties(*text_bag);
  // The percentage comes back as it was saved, whatever Max is.
  EXPECT_EQ(copy.bar.Percent(), 57);
  EXPECT_EQ(copy.bar.Value(), 171);
  gui::PropertyBag written;
  copy.bar.WriteProperties(written);
  EXPECT_EQ(written.ToText(), bag.ToText());
  EXPECT_EQ(copy.bar.hdc()->surface(), b.bar.hdc()->surface());
}

}  // namespace
