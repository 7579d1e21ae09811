#include "platform/gui/color.h"

#include <gtest/gtest.h>

#include <tuple>

namespace gui {
namespace {

// L(a) and D(a) of the looks, worked out by hand: LightenColor truncates ch x (255 - a) / 255
// and adds a; BlendColors rounds ch2 x (255 - a) / 255 + ch1 x a / 255, halves to even.
TEST(GuiColorTest, LightenBlendAndTranslate) {
  constexpr ColorRef kOrange = Rgb(228, 101, 1);
  const std::tuple<const char*, ColorRef, ColorRef> rows[] = {
      {"L(100): 138 + 100, 61 + 100, 0 + 100", LightenColor(kOrange, 100), Rgb(238, 161, 100)},
      {"black by 176", LightenColor(0, 176), Rgb(176, 176, 176)},
      {"by 255 gives white", LightenColor(Rgb(12, 200, 99), 255), Rgb(255, 255, 255)},
      {"by 0 keeps", LightenColor(Rgb(12, 200, 99), 0), Rgb(12, 200, 99)},
      {"the top byte is ignored", LightenColor(0x0A000000u, 100), Rgb(100, 100, 100)},
      {"a above 255 is held", LightenColor(Rgb(1, 2, 3), 300), Rgb(255, 255, 255)},
      {"negative a is held", LightenColor(Rgb(1, 2, 3), -40), Rgb(1, 2, 3)},
      {"D(200): 178.8, 79.2, 0.8", BlendColors(kOrange, 0, 200), Rgb(179, 79, 1)},
      {"by 255 gives c1", BlendColors(kOrange, 0, 255), kOrange},
      {"by 0 gives c2", BlendColors(kOrange, Rgb(0, 0, 200), 0), Rgb(0, 0, 200)},
      {"both count: 40, 0, 160", BlendColors(Rgb(200, 0, 0), Rgb(0, 0, 200), 51), Rgb(40, 0, 160)},
      {"translated first", BlendColors(0x8000000Du, 0, 255), Rgb(10, 36, 106)},
      {"highlight", TranslateColor(0x8000000Du), Rgb(10, 36, 106)},
      {"button face", TranslateColor(0x8000000Fu), Rgb(212, 208, 200)},
      {"no such system colour", TranslateColor(0x800000FFu), 0},
      {"plain colours pass", TranslateColor(kOrange), kOrange},
  };
  for (const auto& [name, got, expected] : rows) EXPECT_EQ(got, expected) << name;
}

}  // namespace
}  // namespace gui
