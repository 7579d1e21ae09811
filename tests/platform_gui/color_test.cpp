#include "platform/gui/color.h"

#include <gtest/gtest.h>

#include <tuple>

namespace gui {
namespace {

// LightenColor truncates ch x (255 - a) / 255 and adds a; BlendColors rounds ch2 x (255 - a) /
// 255 + ch1 x a / 255, halves to even.
TEST(GuiColorTest, LightenBlendAndTranslate) {
  constexpr ColorRef kOrange = Rgb(228, 101, 1);
  const std::tuple<const char*, ColorRef, ColorRef> rows[] = {
      {"L(100): 138 + 100, 61 + 100, 0 + 100", LightenColor(kOrange, 100), Rgb(238, 161, 100)},
      {"black by 176", LightenColor(0, 176), Rgb(176, 176, 176)},
      {"by 255 gives white", LightenColor(Rgb(12, 200, 99), 255), Rgb(255, 255, 255)},
      {"into black by 200: 178.8, 79.2, 0.8", BlendColors(kOrange, 0, 200), Rgb(179, 79, 1)},
      {"into black by 255 keeps", BlendColors(kOrange, 0, 255), kOrange},
      {"highlight", TranslateColor(0x8000000Du), Rgb(10, 36, 106)},
      {"button face", TranslateColor(0x8000000Fu), Rgb(212, 208, 200)},
  };
  for (const auto& [name, got, expected] : rows) EXPECT_EQ(got, expected) << name;
}

}  // namespace
}  // namespace gui
