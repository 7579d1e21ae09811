// The button's drawing as data in, pixels out: palette, access keys, layout, picture transfer,
// regions, and pixel checks of small buttons. Expected values are derived by hand from the
// rules (the arithmetic is in the comments).
#include <gtest/gtest.h>

#include <iterator>
#include <optional>
#include <tuple>
#include <utility>

#include "controls/magicbutton_looks.h"

namespace magicbutton {
namespace {

using gui::ColorRef;
using gui::Rgb;

TEST(MagicButtonPaletteTest, ShiftColor) {
  // Colour, amount, soft bevel, blue scaled: expected. Row by row: a = -32; a = -64; red
  // saturates; blue 0x60 + 0x60 * 48 / 192 = 0x78; a = -9 / 2 = -4, toward zero; held at 0.
  const std::tuple<ColorRef, int, bool, bool, ColorRef> rows[] = {
      {0xFFFFFF, -64, true, false, 0xDFDFDF}, {0xFFFFFF, -64, false, false, 0xBFBFBF},
      {0x0000FF, 48, false, false, 0x3030FF}, {0x608040, 48, false, true, 0x78B070},
      {0x101010, -9, true, false, 0x0C0C0C},  {0x202020, -64, false, false, 0x000000},
  };
  for (const auto& [color, amount, soft, blue, expected] : rows) {
    EXPECT_EQ(ShiftColor(color, amount, soft, blue), expected)
        << std::hex << color << " " << amount;
  }
}

TEST(MagicButtonPaletteTest, SetColorsForTheFourSchemes) {
  // Scheme, type, BackColor, soft bevel.
  const std::tuple<const char*, int, int, ColorRef, bool> rows[] = {
      {"the program's buttons", 2, 14, 0xFFFFFF, true},
      {"custom grey, hard", 2, 2, 0x808080, false},
      {"custom system face: 212, 208, 200 - 64 = 148, 144, 136", 2, 2, 0x8000000F, false},
      {"classic soft: only the glow is derived, + 24", 3, 2, 0, true},
      {"container RGB(100, 150, 200), blue text", 4, 2, 0, false},
      {"system", 1, 2, 0, false},
      {"0 behaves as system; RoundedGradient scales the glow's blue: 200 + 50", 0, 3, 0, false},
  };
  // Row by row: Face Light Highlight Shadow DarkShadow Text TextOver Mask Glow Hot HotPale. The
  // system highlight RGB(10, 36, 106) lightened by 176 is 10 x 79 / 255 + 176 = 179, 187, 208.
  const Palette expected[] = {
      {0xFFFFFF, 0xFFFFFF, 0xFFFFFF, 0xDFDFDF, 0x9F9F9F, 0x000000, 0xFF7709, 0xC0C0C0, 0xFFFFFF,
       0xBFBFBF, 0xFFFFFF},
      {0x808080, 0x9F9F9F, 0xAFAFAF, 0x404040, 0x000000, 0x000000, 0xFF7709, 0xC0C0C0, 0xB0B0B0,
       0x000000, 0x808080},
      {0xC8D0D4, 0xE7EFF3, 0xF7FFFF, 0x889094, 0x081014, 0x000000, 0xFF7709, 0xC0C0C0, 0xF8FFFF,
       0x485054, 0xC8D0D4},
      {0xC0C0C0, 0xDFDFDF, 0xFFFFFF, 0x808080, 0, 0, 0, 0xC0C0C0, 0xD8D8D8, 0x800000, 0xD1ADAD},
      {0xC89664, 0xE7B583, 0xF7C593, 0x885624, 0x080000, 0xFF0000, 0xFF0000, 0xC0C0C0, 0xF8C694,
       0x6A240A, 0xD0BBB3},
      {0xC8D0D4, 0xC8D0D4, 0xFFFFFF, 0x808080, 0x404040, 0, 0, 0xC0C0C0, 0xF8FFFF, 0x6A240A,
       0xD0BBB3},
      {0xC8D0D4, 0xC8D0D4, 0xFFFFFF, 0x808080, 0x404040, 0, 0, 0xC0C0C0, 0xFAFFFF, 0x6A240A,
       0xD0BBB3},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& [name, scheme, type, back, soft] = rows[i];
    // ForeColor black, ForeOver (9, 119, 255), MaskColor C0C0C0; the container's colours.
    const ColorSource source{scheme,        back, 0,    Rgb(9, 119, 255),
                             0xC0C0C0,      soft, type, Rgb(100, 150, 200),
                             Rgb(0, 0, 255)};
    EXPECT_EQ(SetColors(source), expected[i]) << name;
  }
}

TEST(MagicButtonCaptionTest, AccessKeys) {
  const std::pair<const char*, QChar> rows[] = {
      {"&Copy", u'c'}, {"A&&B", {}}, {"&&&x", u'x'},   {"ab&", {}},     {"&", {}},
      {"x", {}},       {"&&", {}},   {"a&&b&c", u'c'}, {"a&&b&&c", {}}, {"E&xit", u'x'},
  };
  for (const auto& [caption, key] : rows) EXPECT_EQ(AccessKeyOf(caption), key) << caption;
}

// "Copy" in Arial 8.25 pt is 25 pixels wide, a line 12 high; a 16 x 16 picture, 75 x 23.
TEST(MagicButtonCaptionTest, CaptionAndPictureForTheFivePositions) {
  // PicturePosition, caption: TextRect, the picture's left and top.
  // 0: box (17, 1) -> (42, 13); moved by ((75 - 42) / 2, (23 - 13) / 2); x = 33 - 16 - 4.
  // 1: box (1, 1) -> (26, 13); moved by ((75 - 16 - 26 - 4) / 2, 5); x = 40 + 4.
  // 2: box (1, 17) -> (26, 29); moved by (24, (23 - 29) / 2 = -3); y = 14 - 16 - 2.
  // 3: moved by (24, (23 - 16 - 13 - 4) / 2 = -5); y = 8 + 2.
  // Last: only blanks (three of 3 pixels) count as no caption: the picture is centred.
  const std::tuple<int, const char*, gui::Rect, int, int> rows[] = {
      {0, "&Copy", {33, 6, 58, 18}, 13, 3},   {1, "&Copy", {15, 6, 40, 18}, 44, 3},
      {2, "&Copy", {25, 14, 50, 26}, 29, -4}, {3, "&Copy", {25, -4, 50, 8}, 29, 10},
      {4, "&Copy", {25, 6, 50, 18}, 29, 3},   {0, "   ", {41, 6, 50, 18}, 29, 3},
  };
  const gui::Font font({"Arial", 8.25});
  for (const auto& [position, caption, text, picture_left, picture_top] : rows) {
    CaptionLayout layout;
    layout.PictureRect = {0, 0, 16, 16};
    CalcCaptionRect(caption, font, position, true, 75, 23, &layout);
    EXPECT_EQ(layout.TextRect, text) << position << " " << caption;
    EXPECT_EQ(layout.PictureRect, (PictureBox{picture_left, picture_top, 16, 16})) << position;
  }
  // Wrapped: "Copy it" (33) does not fit 27 pixels: lines of 25 and 5, 24 high.
  CaptionLayout wrapped;
  CalcCaptionRect("Copy it", font, 4, false, 30, 30, &wrapped);
  EXPECT_EQ(wrapped.TextRect, (gui::Rect{3, 3, 28, 27}));
  EXPECT_EQ(wrapped.text_width, 25);
  EXPECT_EQ(wrapped.text_height, 24);
}

// Three source pixels (an odd width), two rows, onto a background of RGB(16, 32, 48).
TEST(MagicButtonPictureTest, BlendPictureRules) {
  constexpr ColorRef kBack = Rgb(16, 32, 48);
  constexpr ColorRef kMask = Rgb(192, 192, 192);
  constexpr ColorRef kS = Rgb(1, 2, 3);
  const ColorRef pixels[6] = {kMask,          Rgb(255, 0, 0), Rgb(200, 200, 0),
                              Rgb(0, 255, 0), Rgb(0, 0, 255), Rgb(255, 255, 255)};
  gui::Surface source(3, 2);
  gui::Dc source_dc(source);
  for (int i = 0; i < 6; ++i) source_dc.SetPixel(i % 3, i / 3, pixels[i]);
  // Mask colour, silhouette, dark parts only, greyscale, blend: plain, no mask colour,
  // silhouette, dark only (R + G + B below 385: 200 + 200 = 400 and white are not), greyscale,
  // blend.
  const std::tuple<std::optional<ColorRef>, std::optional<ColorRef>, bool, bool, bool> rows[] = {
      {kMask, {}, false, false, false}, {{}, {}, false, false, false},
      {kMask, kS, false, false, false}, {kMask, kS, true, false, false},
      {kMask, {}, false, true, false},  {kMask, {}, false, false, true},
  };
  // Greyscale: 0.3 x 255 = 76.5 -> 76; 0.59 x 200 = 118 + 60 -> 178; 150.45 -> 150; 28.05 -> 28;
  // 76 + 150.45 + 28.05 -> 254. Blend: (2 x 255 + 16) / 3 = 175, 32 / 3 = 10, 48 / 3 = 16; ...
  const ColorRef expected[][6] = {
      {kBack, Rgb(255, 0, 0), Rgb(200, 200, 0), Rgb(0, 255, 0), Rgb(0, 0, 255), 0xFFFFFF},
      {kMask, Rgb(255, 0, 0), Rgb(200, 200, 0), Rgb(0, 255, 0), Rgb(0, 0, 255), 0xFFFFFF},
      {kBack, kS, kS, kS, kS, kS},
      {kBack, kS, kBack, kS, kS, kBack},
      {kBack, Rgb(76, 76, 76), Rgb(178, 178, 178), Rgb(150, 150, 150), Rgb(28, 28, 28),
       Rgb(254, 254, 254)},
      {kBack, Rgb(175, 10, 16), Rgb(138, 144, 16), Rgb(5, 180, 16), Rgb(5, 10, 186),
       Rgb(175, 180, 186)},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    const auto& [transparent, silhouette, dark_only, grey, blend] = rows[i];
    gui::Surface target(5, 4);
    gui::Dc dc(target);
    dc.FillRect({0, 0, 5, 4}, gui::Brush::Solid(kBack));
    BlendPicture(dc, 1, 1, -1, -1, source, transparent, silhouette, dark_only, grey, blend);
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 5; ++x) {
        const bool inside = x >= 1 && x <= 3 && y >= 1 && y <= 2;
        EXPECT_EQ(target.Pixel(x, y), inside ? expected[i][(y - 1) * 3 + x - 1] : kBack)
            << "row " << i << " at " << x << "," << y;
      }
  }
}

// The oval: the ellipse of the box one pixel smaller, each row a whole span.
TEST(MagicButtonRegionTest, TheOval) {
  const char* oval[] = {"..###...", "#######.", "#######.", "#######.", "..###...", "........"};
  const QRegion region = BuildRegion(13, 8, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(region.contains(QPoint(x, y)), oval[y][x] == '#');
}

// --- Pixel checks --------------------------------------------------------------------------

struct Drawn {
  gui::Surface surface;
  ButtonState state;
};

constexpr ColorRef kBlue = Rgb(9, 119, 255);

// Paints `state` (the surface is its size) in the palette of `source`.
Drawn Paint(ButtonState state, const ColorSource& source, int button_state) {
  Drawn drawn{gui::Surface(state.width, state.height), std::move(state)};
  gui::Dc dc(drawn.surface);
  PaintButton(drawn.state, SetColors(source), button_state, dc);
  return drawn;
}

// The program's button (59 x 23 here) in `look`; `over` picks the hover palette (BackOver
// RGB(224, 224, 224)) as the widget does in the custom scheme.
Drawn Draw(int type, int button_state, bool over, bool enabled = true, int scheme = 2) {
  ButtonState state;
  state.width = 59;
  state.height = 23;
  state.button_type = type;
  state.color_scheme = scheme;
  state.special_effect = 3;
  state.enabled = enabled;
  state.mouse_is_over = over;
  state.show_focus_rect = false;
  state.soft_bevel = scheme == 2;
  state.caption = "&Copy";
  state.font = gui::Font({"Arial", 8.25});
  state.FocusRect = FocusRectOf(type, 59, 23);
  CalcCaptionRect(state.caption, state.font, 0, false, 59, 23, &state.layout);
  const ColorRef back = over ? 0xE0E0E0u : 0xFFFFFFu;
  // Scheme, BackColor, ForeColor, ForeOver, MaskColor, soft bevel, type, the container's colours.
  const ColorSource source{scheme, back, 0, kBlue, 0, scheme == 2, type, 0xFFFFFF, 0};
  return Paint(std::move(state), source, button_state);
}

int Count(const gui::Surface& surface, ColorRef color, gui::Rect rect = {0, 0, 59, 23}) {
  int count = 0;
  for (int y = rect.top; y < rect.bottom; ++y)
    for (int x = rect.left; x < rect.right; ++x) count += surface.Pixel(x, y) == color;
  return count;
}

TEST(MagicButtonLooksTest, GradientUpHotDownDisabled) {
  const Drawn up = Draw(14, 0, false), hot = Draw(14, 0, true), down = Draw(14, 2, true);
  const Drawn disabled = Draw(14, 0, false, false);
  // Up: rows shade from white by round(58 i / 23), halved: row 4: 10 -> 5, row 10: 25 -> 12,
  // row 18: 45 -> 22 (toward zero). Outer box S(DFDFDF, -50) -> -25; inner box S(white, -9) -> -4;
  // the highlight band at (3, 10). Hot: flat LightColor of the hover face (224 + 15); outer box
  // S(224 - 32, -50) -> 167. Down: face S(224, -9) -> 220, box S(192, -48) -> 168, highlight
  // lines 224 + 23 at the bottom and right. Disabled: the up panel.
  const std::tuple<const Drawn*, int, int, ColorRef> pixels[] = {
      {&up, 5, 4, 0xFAFAFA},        {&up, 5, 10, 0xF3F3F3},    {&up, 56, 18, 0xE9E9E9},
      {&up, 30, 0, 0xC6C6C6},       {&up, 1, 12, 0xFBFBFB},    {&up, 3, 10, 0xFFFFFF},
      {&hot, 5, 10, 0xEFEFEF},      {&hot, 30, 0, 0xA7A7A7},   {&down, 5, 10, 0xDCDCDC},
      {&down, 30, 0, 0xA8A8A8},     {&down, 30, 21, 0xF7F7F7}, {&down, 57, 10, 0xF7F7F7},
      {&disabled, 5, 10, 0xF3F3F3},
  };
  for (const auto& [drawn, x, y, color] : pixels)
    EXPECT_EQ(drawn->surface.Pixel(x, y), color) << x << "," << y;
  EXPECT_GT(Count(up.surface, 0x000000), 20);  // caption in ForeColor
  // Its shadow S(white, -40) -> -20, on row 12 where the panel is S(white, -30) -> -15.
  EXPECT_GT(Count(up.surface, 0xEBEBEBu, {17, 12, 44, 13}), 0);
  EXPECT_EQ(Count(up.surface, kBlue), 0);
  EXPECT_GT(Count(hot.surface, kBlue), 20);
  EXPECT_EQ(Count(hot.surface, 0x000000), 0);
  // Down: the caption in the highlight with a S(192, -50) -> 167 copy under it. Disabled: the
  // caption white over a highlight copy: no ink at all.
  EXPECT_GT(Count(down.surface, 0xA7A7A7u), 20);
  for (const Drawn* inkless : {&down, &disabled})
    EXPECT_EQ(Count(inkless->surface, 0x000000) + Count(inkless->surface, kBlue), 0);
  EXPECT_EQ(down.state.LastTextState, 7);
  EXPECT_EQ(disabled.state.LastTextState, 6);
}

TEST(MagicButtonLooksTest, FocusFlatAndOval) {
  // Standard shows the focus rectangle only as the default button.
  const auto standard = [](bool is_default) {
    ButtonState state;
    state.width = 40;
    state.height = 20;
    state.has_focus = true;
    state.is_default = is_default;
    state.FocusRect = FocusRectOf(2, 40, 20);
    return Paint(std::move(state), {}, 0).surface;
  };
  // Face RGB(212, 208, 200) XOR white at (5, 4): an odd x + y.
  EXPECT_EQ(standard(true).Pixel(5, 4), Rgb(43, 47, 55));
  EXPECT_EQ(standard(false).Pixel(5, 4), Rgb(212, 208, 200));

  // HotFlat and HotRaised: a frame only while hovered (system scheme: highlight white).
  for (const int type : {8, 12}) {
    EXPECT_EQ(Draw(type, 0, false, true, 1).surface.Pixel(10, 0), Rgb(212, 208, 200)) << type;
    EXPECT_EQ(Draw(type, 0, true, true, 1).surface.Pixel(10, 0), 0xFFFFFFu) << type;
  }

  // Oval pressed: a 2-pixel outline in the dark shadow, one pixel of it inside the top edge,
  // two at the bottom; the fill S(face, -32) inside; the corners keep the face.
  const gui::Surface oval = Draw(13, 2, false, true, 1).surface;
  const std::tuple<int, int, ColorRef> oval_pixels[] = {
      {29, 0, Rgb(64, 64, 64)},  {29, 1, Rgb(180, 176, 168)}, {29, 22, Rgb(64, 64, 64)},
      {29, 21, Rgb(64, 64, 64)}, {0, 0, Rgb(212, 208, 200)},
  };
  for (const auto& [x, y, color] : oval_pixels) EXPECT_EQ(oval.Pixel(x, y), color) << x << "," << y;
}

}  // namespace
}  // namespace magicbutton
