#include "controls/progressbar_looks.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace progressbar {

namespace {

using gui::ColorRef;
using gui::Rect;
using gui::Rgb;
using i64 = std::int64_t;

constexpr ColorRef kWhite = Rgb(255, 255, 255);
constexpr ColorRef kBlack = Rgb(0, 0, 0);
constexpr ColorRef kSilver = Rgb(192, 192, 192);

Look LookOf(int scrolling) {
  return scrolling >= 0 && scrolling <= 9 ? static_cast<Look>(scrolling) : Look::Smooth;
}

// What every look reads, under the names of the looks' formulas: w and h are W and H (the
// client area), p is P (the percentage, at most 100), c is C (the colour); L(a) lightens C by a,
// D(a) darkens it to a / 255 of its brightness.
struct Bar {
  const BarState& state;
  gui::Dc& dc;
  int w;
  int h;
  int p;
  ColorRef c;

  ColorRef L(int a) const { return gui::LightenColor(c, a); }
  ColorRef D(int a) const { return gui::BlendColors(c, kBlack, a); }
};

// The grey frame with its shaded corner pixels, shared by the first three looks and Glossy.
void RoundedFrame(const Bar& bar) {
  const int w = bar.w;
  const int h = bar.h;
  DrawLine(2, 1, w - 2, 1, bar.dc, Rgb(190, 190, 190));
  DrawLine(2, h - 2, w - 2, h - 2, bar.dc, Rgb(239, 239, 239));
  DrawLine(1, 2, 1, h - 2, bar.dc, Rgb(190, 190, 190));
  DrawLine(2, 2, 2, h - 2, bar.dc, Rgb(239, 239, 239));
  DrawLine(2, 2, w - 2, 2, bar.dc, Rgb(239, 239, 239));
  DrawLine(w - 2, 2, w - 2, h - 2, bar.dc, Rgb(239, 239, 239));
  FrameRectColor({0, 0, w, h}, Rgb(104, 104, 104), bar.dc);

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
  for (const Dot& dot : kDots) {
    bar.dc.SetPixel(dot.from_right ? w - dot.x : dot.x, dot.from_bottom ? h - dot.y : dot.y,
                    dot.color);
  }
}

// Blocks, Smooth and Searching: fill geometry, body, gaps (Blocks only), rounded frame.
Rect SharedBar(const Bar& bar, Look look) {
  const int w = bar.w;
  const int h = bar.h;
  const int block_width = look == Look::Blocks ? 6 : 0;
  const int gap_width = 2;
  const int step = block_width + gap_width;
  const bool vertical = bar.state.orientation != 0;
  const ColorRef c = bar.c;

  // Fill geometry. The left edge sits at 3 while the body is drawn; the frame covers 0..2.
  // 98, not 100: a full bar overshoots its end, which the band rule below pulls back.
  double f = bar.p / 98.0;
  if (f < 0) f = 0;
  Rect fill{3, 0, w, h};
  if (!vertical) {
    const i64 e = gui::RoundToInt((w - 3) * f + 3);
    const i64 r = (e - 3) % step;  // a whole number of steps
    fill.right = static_cast<int>(std::max<i64>(e - r, 3));
  } else {
    f = 1 - f;
    const i64 e = gui::RoundToInt(h * f);
    const i64 r = (e - h) % step;
    fill.top = static_cast<int>(std::min<i64>(e - r, h));
  }

  // Body.
  if (!vertical) {
    if (fill.right < 15) fill.right = 12;  // the bar always shows a stub
    const int band_end = fill.right + 4 > w ? fill.right - 4 : fill.right;
    if (look == Look::Searching) {
      for (int k = 0; k < 3; ++k) {
        const int block_x =
            gui::RoundToInt(fill.right + (gap_width + 10) * k - (100.0 - bar.p) / 100 * 45);
        DrawGradient(bar.L(220 - 40 * k), bar.L(200 - 40 * k), block_x, 3, 9, h - 2, bar.dc, true);
      }
    } else {
      DrawGradient(bar.L(150), c, 4, 3, band_end, 6, bar.dc, false);
      FillRectColor({4, 8, band_end, h - 8}, c, bar.dc);
      DrawGradient(c, bar.L(150), 4, h - 10, band_end, 6, bar.dc, false);
    }
  } else {
    if (look == Look::Searching) {
      for (int k = 0; k < 3; ++k) {
        const int block_y = fill.top + (gap_width + 10) * k;
        DrawGradient(bar.L(220 - 40 * k), bar.L(200 - 40 * k), w - 2, block_y, 2, 9, bar.dc, false);
      }
    } else {
      DrawGradient(bar.L(150), c, 4, fill.top, 4, h, bar.dc, true);
      FillRectColor({9, fill.top, w - 8, h}, c, bar.dc);
      DrawGradient(c, bar.L(150), w - 8, fill.top, 4, h, bar.dc, true);
    }
  }

  // Gaps: white two-pixel stripes every 8 pixels across the fill.
  if (look == Look::Blocks) {
    const gui::Brush white = gui::Brush::Solid(kWhite);
    Rect gap{3, 0, w, h};
    if (!vertical) {
      for (i64 gap_x = fill.left + block_width; gap_x <= fill.right; gap_x += step) {
        gap.left = static_cast<int>(gap_x + 1);
        gap.right = static_cast<int>(gap_x + 1 + gap_width);
        bar.dc.FillRect(gap, white);
      }
    } else {
      for (i64 gap_y = fill.bottom; gap_y >= i64{fill.top} + block_width; gap_y -= step) {
        gap.top = static_cast<int>(gap_y - 2);
        gap.bottom = static_cast<int>(gap_y - 2 + gap_width);
        bar.dc.FillRect(gap, white);
      }
    }
  }

  RoundedFrame(bar);
  return fill;
}

Rect Flat(const Bar& bar) {
  FrameRectColor({0, 0, bar.w, bar.h}, bar.L(100), bar.dc);
  const Rect fill{1, 1, gui::RoundToInt(bar.w * (bar.p / 100.0)), bar.h - 1};
  FillRectColor(fill, bar.L(180), bar.dc);
  return fill;
}

Rect Etched(const Bar& bar) {
  bar.dc.DrawEdge({0, 0, bar.w, bar.h}, gui::Edge::kEtched, gui::EdgeFlags::kRect);
  const int e = gui::RoundToInt((bar.w - 4) * (bar.p / 100.0));
  DrawGradient(bar.L(140), bar.L(200), 2, 2, e, bar.h - 3, bar.dc, true);
  return {2, 2, 2 + e, bar.h - 3};
}

Rect GradientLook(const Bar& bar) {
  FrameRectColor({0, 0, bar.w, bar.h}, bar.L(10), bar.dc);
  // 101, not 100: a full bar stops short of the right frame.
  const int e = gui::RoundToInt((bar.p / 101.0) * bar.w);
  DrawGradient(bar.c, bar.L(100), 2, 2, bar.w - 2, bar.h - 5, bar.dc,
               false);                                                 // unfilled background
  DrawGradient(bar.L(250), bar.c, 3, 3, e, bar.h - 6, bar.dc, false);  // fill
  DrawLine(e, 2, e, bar.h - 2, bar.dc, bar.L(25));                     // end marker
  return {3, 3, e, bar.h - 2};
}

Rect Dark(const Bar& bar) {
  FrameRectColor({0, 0, bar.w, bar.h}, bar.D(200), bar.dc);
  const ColorRef d = gui::LightenColor(bar.D(100), 10);
  const int e = gui::RoundToInt((bar.w - 5) * (bar.p / 100.0));
  DrawGradient(kBlack, d, 2, 2, e, bar.h - 2, bar.dc, true);
  return {2, 2, 2 + e, bar.h - 2};
}

Rect Hatched(const Bar& bar) {
  bar.dc.DrawEdge({0, 0, bar.w, bar.h}, gui::Edge::kBump, gui::EdgeFlags::kRect);
  const Rect fill{2, 2, gui::RoundToInt(bar.w * (bar.p / 101.0)), bar.h - 2};
  const auto style = gui::HatchStyleFromInt(bar.state.brush_style);
  if (!style) return fill;  // no such hatch: the brush cannot be made and paints nothing
  const gui::Brush hatch = gui::Brush::Hatch(*style, bar.c);
  // The spaces between the hatch lines show L(140), whatever mode a caption left behind.
  bar.dc.SetBkColor(bar.L(140));
  bar.dc.SetBkMode(gui::BkMode::kOpaque);
  bar.dc.FillRect(fill, hatch);
  return fill;
}

Rect PictureLook(const Bar& bar) {
  bar.dc.DrawEdge({0, 0, bar.w, bar.h}, gui::Edge::kSunkenOuter, gui::EdgeFlags::kRect);
  const int e = gui::RoundToInt(bar.w * (bar.p / 101.0));
  const Rect fill{2, 2, e, bar.h - 2};
  if (bar.state.image.IsNull()) return fill;
  gui::ScopedSelect brush(bar.dc, gui::Brush::Pattern(bar.state.image));
  bar.dc.PatBlt(2, 2, e, bar.h - 4, gui::Rop::kPatCopy);
  return fill;
}

Rect Glossy(const Bar& bar) {
  const int half = gui::RoundToInt((bar.h - 3) / 2.0);
  const int e = gui::RoundToInt((bar.w - 4) * (bar.p / 100.0));
  DrawGradient(kWhite, kSilver, 2, 2, bar.w - 3, half, bar.dc, false);
  DrawGradient(kSilver, kSilver, 2, half, bar.w - 3, half, bar.dc, false);
  DrawGradient(bar.L(150), bar.D(180), 2, 2, e, half, bar.dc, false);
  DrawGradient(bar.D(190), bar.c, 2, half, e, half, bar.dc, false);
  RoundedFrame(bar);
  return {2, 2, e, 2 * half + 1};
}

// The caption, centred on the client area. Dark and Glossy draw the part over the fill a second
// time in another colour, clipped at the fill edge.
void Caption(const Bar& bar, Look look, BarGeometry* geometry) {
  if (!bar.state.show_text) return;
  const std::string text = CaptionText(bar.state.scrolling, bar.p);
  const bool overlay = look == Look::Dark || look == Look::Glossy;
  const gui::Font font(bar.state.font);
  const double fill_edge = bar.p / 100.0 * bar.w;
  Rect& text_rect = geometry->text;
  {
    gui::ScopedSelect selected(bar.dc, font);
    bar.dc.SetBkMode(gui::BkMode::kTransparent);
    bar.dc.SetTextColor(look == Look::Dark ? kSilver : kBlack);
    Rect measured;
    bar.dc.DrawText(text, &measured, gui::TextFormat::kCalcRect);
    const int text_width = measured.right - measured.left;
    const int text_height = measured.bottom - measured.top;
    text_rect.left = gui::RoundToInt(bar.w / 2.0 - text_width / 2.0);
    text_rect.top = gui::RoundToInt(bar.h / 2.0 - text_height / 2.0);
    text_rect.right = text_rect.left + text_width;
    text_rect.bottom = text_rect.top + text_height;
    geometry->text_laid_out = true;
    // Wholly over the fill, the overlay pass draws all of it.
    if (!(overlay && text_rect.right < fill_edge)) {
      Rect line = text_rect;
      bar.dc.DrawText(text, &line, gui::TextFormat::kSingleLine);
    }
  }
  if (!overlay) return;
  gui::ScopedSelect selected(bar.dc, font);
  bar.dc.SetBkMode(gui::BkMode::kTransparent);
  if (text_rect.left <= fill_edge) {
    bar.dc.SetTextColor(look == Look::Dark ? bar.L(80) : kWhite);
    text_rect.right = gui::RoundToInt(fill_edge);
    Rect line = text_rect;
    bar.dc.DrawText(text, &line, gui::TextFormat::kSingleLine);
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
  const auto red = [](ColorRef c) { return static_cast<float>(gui::RedOf(c)); };
  const auto green = [](ColorRef c) { return static_cast<float>(gui::GreenOf(c)); };
  const auto blue = [](ColorRef c) { return static_cast<float>(gui::BlueOf(c)); };
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
    return gui::ClampChannel(
        gui::RoundToInt(static_cast<double>(start) + static_cast<double>(i) * step));
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
  const Bar bar{state,
                dc,
                std::max(state.width, 0),
                std::max(state.height, 0),
                std::min(state.percent, 100),
                state.color};
  const Look look = LookOf(state.scrolling);
  FillRectColor({0, 0, bar.w, bar.h}, look == Look::Dark ? kBlack : kWhite, dc);

  BarGeometry geometry;
  switch (look) {
    case Look::Glossy:
      geometry.fill = Glossy(bar);
      break;
    case Look::Flat:
      geometry.fill = Flat(bar);
      break;
    case Look::Etched:
      geometry.fill = Etched(bar);
      break;
    case Look::Gradient:
      geometry.fill = GradientLook(bar);
      break;
    case Look::Dark:
      geometry.fill = Dark(bar);
      break;
    case Look::Hatched:
      geometry.fill = Hatched(bar);
      break;
    case Look::Picture:
      geometry.fill = PictureLook(bar);
      break;
    case Look::Blocks:
    case Look::Smooth:
    case Look::Searching:
      geometry.fill = SharedBar(bar, look);
      break;
  }
  Caption(bar, look, &geometry);
  return geometry;
}

gui::Surface GreyGradientImage() {
  static constexpr std::array<int, 15> kGreys = {122, 148, 175, 189, 203, 217, 231, 245,
                                                 250, 236, 222, 208, 193, 179, 96};
  gui::Surface image(1, static_cast<int>(kGreys.size()));
  gui::Dc dc(image);
  for (size_t y = 0; y < kGreys.size(); ++y) {
    dc.SetPixel(0, static_cast<int>(y), gui::Rgb(kGreys[y], kGreys[y], kGreys[y]));
  }
  return image;
}

}  // namespace progressbar
