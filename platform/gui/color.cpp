#include "platform/gui/color.h"

#include <algorithm>
#include <array>

#include "platform/gui/geometry.h"

namespace gui {

namespace {

// The classic scheme, the one place that knows the system colours. Index 25 is unused
// by the platform and reads as black.
constexpr std::array<ColorRef, 31> kSystemColors = {
    Rgb(212, 208, 200),  //  0 scroll bar
    Rgb(58, 110, 165),   //  1 desktop
    Rgb(10, 36, 106),    //  2 active caption
    Rgb(128, 128, 128),  //  3 inactive caption
    Rgb(212, 208, 200),  //  4 menu
    Rgb(255, 255, 255),  //  5 window
    Rgb(0, 0, 0),        //  6 window frame
    Rgb(0, 0, 0),        //  7 menu text
    Rgb(0, 0, 0),        //  8 window text
    Rgb(255, 255, 255),  //  9 caption text
    Rgb(212, 208, 200),  // 10 active border
    Rgb(212, 208, 200),  // 11 inactive border
    Rgb(128, 128, 128),  // 12 application workspace
    Rgb(10, 36, 106),    // 13 highlight
    Rgb(255, 255, 255),  // 14 highlight text
    Rgb(212, 208, 200),  // 15 button face
    Rgb(128, 128, 128),  // 16 button shadow
    Rgb(128, 128, 128),  // 17 grey text
    Rgb(0, 0, 0),        // 18 button text
    Rgb(212, 208, 200),  // 19 inactive caption text
    Rgb(255, 255, 255),  // 20 button highlight
    Rgb(64, 64, 64),     // 21 3-D dark shadow
    Rgb(212, 208, 200),  // 22 3-D light
    Rgb(0, 0, 0),        // 23 tooltip text
    Rgb(255, 255, 225),  // 24 tooltip background
    Rgb(0, 0, 0),        // 25 (unused)
    Rgb(0, 0, 128),      // 26 hot-tracked item
    Rgb(166, 202, 240),  // 27 active caption gradient
    Rgb(192, 192, 192),  // 28 inactive caption gradient
    Rgb(10, 36, 106),    // 29 menu highlight
    Rgb(212, 208, 200),  // 30 menu bar
};

}  // namespace

ColorRef GetSysColor(int index) {
  if (index < 0 || index >= static_cast<int>(kSystemColors.size())) return 0;
  return kSystemColors[static_cast<size_t>(index)];
}

ColorRef TranslateColor(ColorRef c) {
  if ((c & kSystemColorFlag) == 0) return c;
  const ColorRef index = c & ~kSystemColorFlag;
  return index < kSystemColors.size() ? kSystemColors[index] : 0;
}

ColorRef LightenColor(ColorRef c, int a) {
  a = std::clamp(a, 0, 255);
  const auto lighten = [a](int ch) { return ClampChannel(ch * (255 - a) / 255 + a); };
  return Rgb(lighten(RedOf(c)), lighten(GreenOf(c)), lighten(BlueOf(c)));
}

ColorRef BlendColors(ColorRef c1, ColorRef c2, int a) {
  c1 = TranslateColor(c1);
  c2 = TranslateColor(c2);
  a = std::clamp(a, 0, 255);
  const auto mix = [a](int ch1, int ch2) {
    return ClampChannel(
        RoundToInt(ch2 * (255.0 - a) / 255.0 + ch1 * static_cast<double>(a) / 255.0));
  };
  return Rgb(mix(RedOf(c1), RedOf(c2)), mix(GreenOf(c1), GreenOf(c2)), mix(BlueOf(c1), BlueOf(c2)));
}

}  // namespace gui
