// Colours as the controls store them, the classic system colour table, and the colour arithmetic
// shared by the owner-drawn controls.
//
// A ColorRef is 0x00BBGGRR: red in bits 0-7, green in 8-15, blue in 16-23. A value with the top
// bit set names a system colour (index in the low bits) and must be resolved with TranslateColor
// before it is drawn; the drawing layer itself only looks at the low 24 bits.
#pragma once

#include <algorithm>
#include <cstdint>

namespace gui {

using ColorRef = std::uint32_t;

inline constexpr ColorRef kSystemColorFlag = 0x80000000u;

constexpr ColorRef Rgb(int red, int green, int blue) {
  return static_cast<ColorRef>((red & 0xFF) | (green & 0xFF) << 8 | (blue & 0xFF) << 16);
}
// A channel value held within 0..255.
constexpr int ClampChannel(int value) { return std::clamp(value, 0, 255); }
constexpr int RedOf(ColorRef c) { return static_cast<int>(c & 0xFF); }
constexpr int GreenOf(ColorRef c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int BlueOf(ColorRef c) { return static_cast<int>((c >> 16) & 0xFF); }

// The same colour as a pixel of a 32-bit surface (0xFFRRGGBB) and back.
constexpr std::uint32_t ToPixel(ColorRef c) {
  return 0xFF000000u | (c & 0xFFu) << 16 | (c & 0xFF00u) | (c >> 16 & 0xFFu);
}
constexpr ColorRef FromPixel(std::uint32_t p) {
  return (p >> 16 & 0xFFu) | (p & 0xFF00u) | (p & 0xFFu) << 16;
}

// Indices of the system colour table (the low bits of a system colour reference).
enum class SysColor : int {
  kScrollBar = 0,
  kBackground = 1,
  kActiveCaption = 2,
  kInactiveCaption = 3,
  kMenu = 4,
  kWindow = 5,
  kWindowFrame = 6,
  kMenuText = 7,
  kWindowText = 8,
  kCaptionText = 9,
  kActiveBorder = 10,
  kInactiveBorder = 11,
  kAppWorkspace = 12,
  kHighlight = 13,
  kHighlightText = 14,
  kBtnFace = 15,
  kBtnShadow = 16,
  kGrayText = 17,
  kBtnText = 18,
  kInactiveCaptionText = 19,
  kBtnHighlight = 20,
  k3dDkShadow = 21,
  k3dLight = 22,
  kInfoText = 23,
  kInfoBk = 24,
  kHotLight = 26,
  kGradientActiveCaption = 27,
  kGradientInactiveCaption = 28,
  kMenuHilight = 29,
  kMenuBar = 30,
};

// The reference to a system colour, as a property stores it (0x80000000 | index).
constexpr ColorRef SystemColorRef(SysColor index) {
  return kSystemColorFlag | static_cast<ColorRef>(index);
}

// The RGB value of a system colour: the fixed classic scheme. An index outside the table gives
// 0 (black).
ColorRef GetSysColor(int index);
inline ColorRef GetSysColor(SysColor index) { return GetSysColor(static_cast<int>(index)); }

// Resolves a system colour reference to its RGB value; any other value is returned unchanged.
ColorRef TranslateColor(ColorRef c);

// Moves each channel of c towards white by a/255: ch * (255 - a) / 255 (integer division) + a.
// a = 0 keeps c, a = 255 gives white. Only the low 24 bits of c are read; a outside 0..255 is
// held within it.
ColorRef LightenColor(ColorRef c, int a);

// Mixes c1 into c2 (both translated first): each channel round(ch2 * (255 - a) / 255 +
// ch1 * a / 255), halves to even. a = 255 gives c1, a = 0 gives c2; a is held within 0..255.
ColorRef BlendColors(ColorRef c1, ColorRef c2, int a);

}  // namespace gui
