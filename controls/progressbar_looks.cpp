#include "controls/progressbar_looks.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/core/number_text.h"

namespace progressbar {

namespace {

using gui::ColorRef;
using gui::Rect;
using gui::Rgb;
using i64 = std::int64_t;

constexpr ColorRef kWhite = Rgb(255, 255, 255);
constexpr ColorRef kBlack = Rgb(0, 0, 0);
constexpr ColorRef kSilver = Rgb(192, 192, 192);

// Fractions to whole numbers, halves to even. Values past the int range (only reachable with
// absurd percentages) are held at its ends, which are off any surface.
int Round(double v) {
  const double r = platform::RoundHalfEven(v);
  if (!(r > std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
  if (r >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  return static_cast<int>(r);
}

Look LookOf(int scrolling) {
  return scrolling >= 0 && scrolling <= 9 ? static_cast<Look>(scrolling) : Look::Smooth;
}

// The per-look values that every look reads.
struct Ctx {
  const BarState& state;
  gui::Dc& dc;
  int w;  // W
  int h;  // H
  int p;  // P
  ColorRef c;

  ColorRef L(int a) const { return gui::LightenColor(c, a); }
  ColorRef D(int a) const { return gui::BlendColors(c, kBlack, a); }
};

// The grey frame with its shaded corner pixels, shared by the first three looks and Glossy.
void RoundedFrame(const Ctx& x) {
  const int w = x.w;
  const int h = x.h;
  DrawLine(2, 1, w - 2, 1, x.dc, Rgb(190, 190, 190));
  DrawLine(2, h - 2, w - 2, h - 2, x.dc, Rgb(239, 239, 239));
  DrawLine(1, 2, 1, h - 2, x.dc, Rgb(190, 190, 190));
  DrawLine(2, 2, 2, h - 2, x.dc, Rgb(239, 239, 239));
  DrawLine(2, 2, w - 2, 2, x.dc, Rgb(239, 239, 239));
  DrawLine(w - 2, 2, w - 2, h - 2, x.dc, Rgb(239, 239, 239));
  FrameRectColor({0, 0, w, h}, Rgb(104, 104, 104), x.dc);

  // The corners are deliberately not symmetric.
  struct Dot {
    int x;
    bool from_right;
    int y;
    bool from_bottom;
    ColorRef color;
  };
  static constexpr Dot kDots[] = {
      {0, false, 0, false, Rgb(255, 255, 255)}, {0, false, 1, false, Rgb(172, 171, 166)},
      {0, false, 2, false, Rgb(127, 126, 125)}, {1, false, 0, false, Rgb(172, 171, 167)},
      {1, false, 1, false, Rgb(119, 119, 119)}, {2, false, 0, false, Rgb(127, 126, 125)},
      {2, false, 2, false, Rgb(190, 190, 190)}, {0, false, 1, true, Rgb(255, 255, 255)},
      {1, false, 1, true, Rgb(172, 171, 166)},  {2, false, 1, true, Rgb(127, 126, 125)},
      {0, false, 3, true, Rgb(127, 126, 125)},  {0, false, 2, true, Rgb(172, 171, 167)},
      {1, false, 2, true, Rgb(119, 119, 119)},  {1, true, 0, false, Rgb(255, 255, 255)},
      {1, true, 1, false, Rgb(190, 190, 190)},  {1, true, 2, false, Rgb(127, 126, 125)},
      {2, true, 2, false, Rgb(190, 190, 190)},  {2, true, 1, false, Rgb(104, 104, 104)},
      {1, true, 1, true, Rgb(255, 255, 255)},   {1, true, 2, true, Rgb(190, 190, 190)},
      {1, true, 3, true, Rgb(127, 126, 125)},   {2, true, 2, true, Rgb(119, 119, 119)},
      {2, true, 1, true, Rgb(190, 190, 190)},   {3, true, 1, true, Rgb(127, 126, 125)},
  };
  for (const Dot& d : kDots) {
    x.dc.SetPixel(d.from_right ? w - d.x : d.x, d.from_bottom ? h - d.y : d.y, d.color);
  }
}

// Blocks, Smooth and Searching: fill geometry, body, gaps (Blocks only), rounded frame.
Rect SharedBar(const Ctx& x, Look look) {
  const int w = x.w;
  const int h = x.h;
  const int block_width = look == Look::Blocks ? 6 : 0;
  const int gap_width = 2;
  const int step = block_width + gap_width;
  const bool vertical = x.state.orientation != 0;
  const ColorRef c = x.c;

  // Fill geometry. The left edge sits at 3 while the body is drawn; the frame covers 0..2.
  // 98, not 100: a full bar overshoots its end, which the band rule below pulls back.
  double f = x.p / 98.0;
  if (f < 0) f = 0;
  Rect fill{3, 0, w, h};
  if (!vertical) {
    const i64 e = Round((w - 3) * f + 3);
    const i64 r = (e - 3) % step;  // a whole number of steps
    fill.right = static_cast<int>(std::max<i64>(e - r, 3));
  } else {
    f = 1 - f;
    const i64 e = Round(h * f);
    const i64 r = (e - h) % step;
    fill.top = static_cast<int>(std::min<i64>(e - r, h));
  }

  // Body.
  if (!vertical) {
    if (fill.right < 15) fill.right = 12;  // the bar always shows a stub
    const int band_end = fill.right + 4 > w ? fill.right - 4 : fill.right;
    if (look == Look::Searching) {
      for (int k = 0; k < 3; ++k) {
        const int bx = Round(fill.right + (gap_width + 10) * k - (100.0 - x.p) / 100 * 45);
        DrawGradient(x.L(220 - 40 * k), x.L(200 - 40 * k), bx, 3, 9, h - 2, x.dc, true);
      }
    } else {
      DrawGradient(x.L(150), c, 4, 3, band_end, 6, x.dc, false);
      FillRectColor({4, 8, band_end, h - 8}, c, x.dc);
      DrawGradient(c, x.L(150), 4, h - 10, band_end, 6, x.dc, false);
    }
  } else {
    if (look == Look::Searching) {
      for (int k = 0; k < 3; ++k) {
        const int by = fill.top + (gap_width + 10) * k;
        DrawGradient(x.L(220 - 40 * k), x.L(200 - 40 * k), w - 2, by, 2, 9, x.dc, false);
      }
    } else {
      DrawGradient(x.L(150), c, 4, fill.top, 4, h, x.dc, true);
      FillRectColor({9, fill.top, w - 8, h}, c, x.dc);
      DrawGradient(c, x.L(150), w - 8, fill.top, 4, h, x.dc, true);
    }
  }

  // Gaps: white two-pixel stripes every 8 pixels across the fill.
  if (look == Look::Blocks) {
    const gui::Brush white = gui::Brush::Solid(kWhite);
    Rect gap{3, 0, w, h};
    if (!vertical) {
      for (i64 gx = fill.left + block_width; gx <= fill.right; gx += step) {
        gap.left = static_cast<int>(gx + 1);
        gap.right = static_cast<int>(gx + 1 + gap_width);
        x.dc.FillRect(gap, white);
      }
    } else {
      for (i64 gy = fill.bottom; gy >= i64{fill.top} + block_width; gy -= step) {
        gap.top = static_cast<int>(gy - 2);
        gap.bottom = static_cast<int>(gy - 2 + gap_width);
        x.dc.FillRect(gap, white);
      }
    }
  }

  RoundedFrame(x);
  return fill;
}

Rect Flat(const Ctx& x) {
  FrameRectColor({0, 0, x.w, x.h}, x.L(100), x.dc);
  const Rect fill{1, 1, Round(x.w * (x.p / 100.0)), x.h - 1};
  FillRectColor(fill, x.L(180), x.dc);
  return fill;
}

Rect Etched(const Ctx& x) {
  Rect client{0, 0, x.w, x.h};
  x.dc.DrawEdge(&client, gui::Edge::kEtched, gui::EdgeFlags::kRect);
  const int e = Round((x.w - 4) * (x.p / 100.0));
  DrawGradient(x.L(140), x.L(200), 2, 2, e, x.h - 3, x.dc, true);
  return {2, 2, 2 + e, x.h - 3};
}

Rect GradientLook(const Ctx& x) {
  FrameRectColor({0, 0, x.w, x.h}, x.L(10), x.dc);
  // 101, not 100: a full bar stops short of the right frame.
  const int e = Round((x.p / 101.0) * x.w);
  DrawGradient(x.c, x.L(100), 2, 2, x.w - 2, x.h - 5, x.dc, false);  // unfilled background
  DrawGradient(x.L(250), x.c, 3, 3, e, x.h - 6, x.dc, false);        // fill
  DrawLine(e, 2, e, x.h - 2, x.dc, x.L(25));                         // end marker
  return {3, 3, e, x.h - 2};
}

Rect Dark(const Ctx& x) {
  FrameRectColor({0, 0, x.w, x.h}, x.D(200), x.dc);
  const ColorRef d = gui::LightenColor(x.D(100), 10);
  const int e = Round((x.w - 5) * (x.p / 100.0));
  DrawGradient(kBlack, d, 2, 2, e, x.h - 2, x.dc, true);
  return {2, 2, 2 + e, x.h - 2};
}

Rect Hatched(const Ctx& x) {
  Rect client{0, 0, x.w, x.h};
  x.dc.DrawEdge(&client, gui::Edge::kBump, gui::EdgeFlags::kRect);
  const Rect fill{2, 2, Round(x.w * (x.p / 101.0)), x.h - 2};
  const auto style = gui::HatchStyleFromInt(x.state.brush_style);
  if (!style) return fill;  // no such hatch: the brush cannot be made and paints nothing
  const gui::Brush hatch = gui::Brush::Hatch(*style, x.c);
  // The spaces between the hatch lines show L(140), whatever mode a caption left behind.
  x.dc.SetBkColor(x.L(140));
  x.dc.SetBkMode(gui::BkMode::kOpaque);
  x.dc.FillRect(fill, hatch);
  return fill;
}

Rect PictureLook(const Ctx& x) {
  Rect client{0, 0, x.w, x.h};
  x.dc.DrawEdge(&client, gui::Edge::kSunkenOuter, gui::EdgeFlags::kRect);
  const int e = Round(x.w * (x.p / 101.0));
  const Rect fill{2, 2, e, x.h - 2};
  if (x.state.image.IsNull()) return fill;
  gui::ScopedSelect brush(x.dc, gui::Brush::Pattern(x.state.image));
  x.dc.PatBlt(2, 2, e, x.h - 4, gui::Rop::kPatCopy);
  return fill;
}

Rect Glossy(const Ctx& x) {
  const int half = Round((x.h - 3) / 2.0);
  const int e = Round((x.w - 4) * (x.p / 100.0));
  DrawGradient(kWhite, kSilver, 2, 2, x.w - 3, half, x.dc, false);
  DrawGradient(kSilver, kSilver, 2, half, x.w - 3, half, x.dc, false);
  DrawGradient(x.L(150), x.D(180), 2, 2, e, half, x.dc, false);
  DrawGradient(x.D(190), x.c, 2, half, e, half, x.dc, false);
  RoundedFrame(x);
  return {2, 2, e, 2 * half + 1};
}

// The caption, centred on the client area. Dark and Glossy draw the part over the fill a second
// time in another colour, clipped at the fill edge.
void Caption(const Ctx& x, Look look, BarGeometry* geometry) {
  if (!x.state.show_text) return;
  const std::string text = CaptionText(x.state.scrolling, x.p);
  const bool overlay = look == Look::Dark || look == Look::Glossy;
  const gui::Font font(x.state.font);
  const double fill_edge = x.p / 100.0 * x.w;
  Rect& text_rect = geometry->text;
  {
    gui::ScopedSelect selected(x.dc, font);
    x.dc.SetBkMode(gui::BkMode::kTransparent);
    x.dc.SetTextColor(look == Look::Dark ? kSilver : kBlack);
    Rect measured;
    x.dc.DrawText(text, &measured, gui::TextFormat::kCalcRect);
    const int tw = measured.right - measured.left;
    const int th = measured.bottom - measured.top;
    text_rect.left = Round(x.w / 2.0 - tw / 2.0);
    text_rect.top = Round(x.h / 2.0 - th / 2.0);
    text_rect.right = text_rect.left + tw;
    text_rect.bottom = text_rect.top + th;
    geometry->text_laid_out = true;
    // Wholly over the fill, the overlay pass draws all of it.
    if (!(overlay && text_rect.right < fill_edge)) {
      Rect r = text_rect;
      x.dc.DrawText(text, &r, gui::TextFormat::kSingleLine);
    }
  }
  if (!overlay) return;
  gui::ScopedSelect selected(x.dc, font);
  x.dc.SetBkMode(gui::BkMode::kTransparent);
  if (text_rect.left <= fill_edge) {
    x.dc.SetTextColor(look == Look::Dark ? x.L(80) : kWhite);
    text_rect.right = Round(fill_edge);
    Rect r = text_rect;
    x.dc.DrawText(text, &r, gui::TextFormat::kSingleLine);
  }
}

}  // namespace

std::string CaptionText(int scrolling, int percent) {
  if (scrolling == static_cast<int>(Look::Searching)) return "Searching..";
  return std::to_string(percent) + " %";
}

void DrawLine(int x, int y, int width, int height, gui::Dc& dc, gui::ColorRef color) {
  gui::ScopedSelect pen(dc, gui::Pen(gui::TranslateColor(color)));
  dc.MoveTo(x, y);
  dc.LineTo(width, height);
}

void DrawGradient(gui::ColorRef color1, gui::ColorRef color2, int x, int y, int width, int height,
                  gui::Dc& dc, bool left_to_right) {
  color1 = gui::TranslateColor(color1);
  color2 = gui::TranslateColor(color2);
  // Channels and steps in single precision: the shades of every look depend on it.
  const auto red = [](ColorRef c) { return static_cast<float>(c & 0xFF); };
  const auto green = [](ColorRef c) { return static_cast<float>((c / 256) & 0xFF); };
  const auto blue = [](ColorRef c) { return static_cast<float>((c & 0xFF0000) / 65536); };
  const float r1 = red(color1), g1 = green(color1), b1 = blue(color1);
  const i64 n = left_to_right ? width : height;
  float step_r = 0, step_g = 0, step_b = 0;
  if (n != 0) {
    step_r = (red(color2) - r1) / static_cast<float>(n);
    step_g = (green(color2) - g1) / static_cast<float>(n);
    step_b = (blue(color2) - b1) / static_cast<float>(n);
  }
  // Line i lies in column x + i (or row y + i); lines off the surface change nothing, so only
  // the visible ones are drawn, with the colour they have in the whole run.
  const i64 origin = left_to_right ? x : y;
  const i64 extent = left_to_right ? dc.surface().width() : dc.surface().height();
  const i64 first = std::max<i64>(0, -origin);
  const i64 last = std::min<i64>(n, extent - 1 - origin);
  const auto channel = [](float start, float step, i64 i) {
    return std::clamp(Round(static_cast<double>(start) + static_cast<double>(i) * step), 0, 255);
  };
  for (i64 i = first; i <= last; ++i) {
    const ColorRef color =
        Rgb(channel(r1, step_r, i), channel(g1, step_g, i), channel(b1, step_b, i));
    const int at = static_cast<int>(origin + i);
    if (left_to_right) {
      DrawLine(at, y, at, height, dc, color);
    } else {
      DrawLine(x, at, width, at, dc, color);
    }
  }
}

void FillRectColor(const gui::Rect& rect, gui::ColorRef color, gui::Dc& dc) {
  dc.FillRect(rect, gui::Brush::Solid(gui::TranslateColor(color)));
}

void FrameRectColor(const gui::Rect& rect, gui::ColorRef color, gui::Dc& dc) {
  dc.FrameRect(rect, gui::Brush::Solid(color));
}

BarGeometry DrawBar(const BarState& state, gui::Dc& dc) {
  const Ctx x{state,
              dc,
              std::max(state.width, 0),
              std::max(state.height, 0),
              std::min(state.percent, 100),
              state.color};
  const Look look = LookOf(state.scrolling);
  FillRectColor({0, 0, x.w, x.h}, look == Look::Dark ? kBlack : kWhite, dc);

  BarGeometry geometry;
  switch (look) {
    case Look::Glossy:
      geometry.fill = Glossy(x);
      break;
    case Look::Flat:
      geometry.fill = Flat(x);
      break;
    case Look::Etched:
      geometry.fill = Etched(x);
      break;
    case Look::Gradient:
      geometry.fill = GradientLook(x);
      break;
    case Look::Dark:
      geometry.fill = Dark(x);
      break;
    case Look::Hatched:
      geometry.fill = Hatched(x);
      break;
    case Look::Picture:
      geometry.fill = PictureLook(x);
      break;
    case Look::Blocks:
    case Look::Smooth:
    case Look::Searching:
      geometry.fill = SharedBar(x, look);
      break;
  }
  Caption(x, look, &geometry);
  return geometry;
}

}  // namespace progressbar
