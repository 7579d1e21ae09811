#include "platform/gui/color.h"

#include <gtest/gtest.h>

namespace gui {
namespace {

struct ColorRow {
  const char* name;
  ColorRef input;
  int a;
  ColorRef expected;
};

TEST(GuiColorTest, LightenColor) {
  const ColorRow rows[] = {
      {"orange by 100", Rgb(228, 101, 1), 100, Rgb(238, 161, 100)},
      {"orange by 150", Rgb(228, 101, 1), 150, Rgb(243, 191, 150)},
      {"orange by 10 (frame)", Rgb(228, 101, 1), 10, Rgb(229, 107, 10)},
      {"orange by 25 (end marker)", Rgb(228, 101, 1), 25, Rgb(230, 116, 25)},
      {"black by 100", Rgb(0, 0, 0), 100, Rgb(100, 100, 100)},
      {"any by 255", Rgb(12, 200, 99), 255, Rgb(255, 255, 255)},
      {"by 0 keeps", Rgb(12, 200, 99), 0, Rgb(12, 200, 99)},
      {"top byte ignored", 0x0A000000u | Rgb(0, 0, 0), 100, Rgb(100, 100, 100)},
      {"a above 255 held", Rgb(1, 2, 3), 300, Rgb(255, 255, 255)},
      {"negative a held", Rgb(1, 2, 3), -40, Rgb(1, 2, 3)},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(LightenColor(row.input, row.a), row.expected) << row.name;
  }
}

TEST(GuiColorTest, BlendColorsIntoBlack) {
  const ColorRow rows[] = {
      {"orange by 200", Rgb(228, 101, 1), 200, Rgb(179, 79, 1)},
      {"orange by 255", Rgb(228, 101, 1), 255, Rgb(228, 101, 1)},
      {"orange by 0", Rgb(228, 101, 1), 0, Rgb(0, 0, 0)},
      {"orange by 190", Rgb(228, 101, 1), 190, Rgb(170, 75, 1)},
      {"system highlight by 255", SystemColorRef(SysColor::kHighlight), 255, Rgb(10, 36, 106)},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(BlendColors(row.input, Rgb(0, 0, 0), row.a), row.expected) << row.name;
  }
  // Both colours count: c1 by a/255, c2 by the rest.
  EXPECT_EQ(BlendColors(Rgb(200, 0, 0), Rgb(0, 0, 200), 51), Rgb(40, 0, 160));
  EXPECT_EQ(BlendColors(Rgb(200, 0, 0), Rgb(0, 0, 200), 0), Rgb(0, 0, 200));
}

TEST(GuiColorTest, TranslateColorResolvesSystemColours) {
  const struct {
    ColorRef input;
    ColorRef expected;
  } rows[] = {
      {0x8000000Du, Rgb(10, 36, 106)},       // highlight
      {0x8000000Fu, Rgb(212, 208, 200)},     // button face
      {0x80000010u, Rgb(128, 128, 128)},     // button shadow
      {0x80000015u, Rgb(64, 64, 64)},        // 3-D dark shadow
      {0x80000016u, Rgb(212, 208, 200)},     // 3-D light
      {0x80000014u, Rgb(255, 255, 255)},     // button highlight
      {0x800000FFu, 0},                      // no such system colour
      {Rgb(228, 101, 1), Rgb(228, 101, 1)},  // plain colours pass through
  };
  for (const auto& row : rows) EXPECT_EQ(TranslateColor(row.input), row.expected) << row.input;
}

TEST(GuiColorTest, PixelFormatHasRedInTheHighBytes) {
  EXPECT_EQ(ToPixel(Rgb(0x12, 0x34, 0x56)), 0xFF123456u);
  EXPECT_EQ(FromPixel(0xFF123456u), Rgb(0x12, 0x34, 0x56));
}

}  // namespace
}  // namespace gui
