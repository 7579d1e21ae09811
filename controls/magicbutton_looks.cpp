#include "controls/magicbutton_looks.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace magicbutton {

namespace {

using gui::ColorRef;

int Clamp255Up(int v) { return std::min(v, 255); }
int Clamp0Down(int v) { return std::max(v, 0); }

}  // namespace

ColorRef ShiftColor(ColorRef c, int amount, bool soft_bevel, bool scale_blue) {
  const int a = soft_bevel ? amount / 2 : amount;
  int red = gui::RedOf(c) + a;
  int green = gui::GreenOf(c) + a;
  const int blue_in = gui::BlueOf(c);
  int blue = scale_blue ? blue_in + blue_in * a / 192 : blue_in + a;
  // Only the direction of the move is held: a brightening never darkens, and the reverse.
  if (a > 0) {
    red = Clamp255Up(red);
    green = Clamp255Up(green);
    blue = Clamp255Up(blue);
  } else if (a < 0) {
    red = Clamp0Down(red);
    green = Clamp0Down(green);
    blue = Clamp0Down(blue);
  }
  return static_cast<ColorRef>(blue * 65536 + green * 256 + red);
}

// | entry          | 2 custom        | 3 classic | 4 container         | 1 and others  |
// | FaceColor      | BackColor       | C0C0C0    | container back      | sys 15        |
// | TextColor      | ForeColor       | 0         | container text      | sys 18        |
// | TextOverColor  | ForeOver        | 0         | = TextColor         | = TextColor   |
// | ShadowColor    | S(Face, -64)    | 808080    | S(Face, -64)        | sys 16        |
// | LightColor     | S(Face, 31)     | DFDFDF    | S(Face, 31)         | sys 22        |
// | HighlightColor | S(Face, 47)     | FFFFFF    | S(Face, 47)         | sys 20        |
// | DarkShadowColor| S(Face, -192)   | 0         | S(Face, -192)       | sys 21        |
// | HotColor       | S(Face, -128)   | 800000    | sys 13              | sys 13        |
// | HotPaleColor   | FaceColor       | D1ADAD    | Lighten(Hot, 176)   | Lighten(Hot, 176) |
// Then MaskRGB = MaskColor and GlowColor = S(Face, 48), blue scaled for RoundedGradient.
Palette SetColors(const ColorSource& source) {
  const auto shift = [&](ColorRef c, int amount) {
    return ShiftColor(c, amount, source.soft_bevel);
  };
  const auto sys = [](gui::SysColor index) { return gui::GetSysColor(index); };
  Palette p;
  switch (source.color_scheme) {
    case static_cast<int>(ColorSchemes::SchemeCustom):
    case static_cast<int>(ColorSchemes::SchemeContainer): {
      const bool custom = source.color_scheme == static_cast<int>(ColorSchemes::SchemeCustom);
      p.FaceColor = custom ? gui::TranslateColor(source.back_color) : source.container_back;
      p.TextColor = custom ? gui::TranslateColor(source.fore_color) : source.container_text;
      p.TextOverColor = custom ? gui::TranslateColor(source.fore_over) : p.TextColor;
      p.ShadowColor = shift(p.FaceColor, -64);
      p.LightColor = shift(p.FaceColor, 31);
      p.HighlightColor = shift(p.FaceColor, 47);
      p.DarkShadowColor = shift(p.FaceColor, -192);
      p.HotColor = custom ? shift(p.FaceColor, -128) : sys(gui::SysColor::kHighlight);
      p.HotPaleColor = custom ? p.FaceColor : gui::LightenColor(p.HotColor, 176);
      break;
    }
    case static_cast<int>(ColorSchemes::SchemeClassic):
      p.FaceColor = 0xC0C0C0;
      p.TextColor = 0;
      p.TextOverColor = 0;
      p.ShadowColor = 0x808080;
      p.LightColor = 0xDFDFDF;
      p.HighlightColor = 0xFFFFFF;
      p.DarkShadowColor = 0;
      p.HotColor = 0x800000;
      p.HotPaleColor = 0xD1ADAD;
      break;
    default:
      p.FaceColor = sys(gui::SysColor::kBtnFace);
      p.TextColor = sys(gui::SysColor::kBtnText);
      p.TextOverColor = p.TextColor;
      p.ShadowColor = sys(gui::SysColor::kBtnShadow);
      p.LightColor = sys(gui::SysColor::k3dLight);
      p.HighlightColor = sys(gui::SysColor::kBtnHighlight);
      p.DarkShadowColor = sys(gui::SysColor::k3dDkShadow);
      p.HotColor = sys(gui::SysColor::kHighlight);
      p.HotPaleColor = gui::LightenColor(p.HotColor, 176);
      break;
  }
  p.MaskRGB = gui::TranslateColor(source.mask_color);
  p.GlowColor = ShiftColor(p.FaceColor, 48, source.soft_bevel,
                           source.button_type == static_cast<int>(ButtonTypes::RoundedGradient));
  return p;
}

QChar AccessKeyOf(const QString& caption) {
  if (caption.size() < 2) return {};
  const qsizetype first = caption.indexOf(u'&');
  if (first < 0 || first + 1 >= caption.size()) return {};
  if (caption[first + 1] != u'&') return caption[first + 1].toLower();
  // "&&" is a literal ampersand: the next "&" may still mark a key.
  const qsizetype next = caption.indexOf(u'&', first + 2);
  if (next < 0 || next + 1 >= caption.size()) return {};
  if (caption[next + 1] != u'&') return caption[next + 1].toLower();
  return {};
}

void CalcCaptionRect(std::string_view caption, const gui::Font& font, int picture_position,
                     bool has_picture, int width, int height, CaptionLayout* layout) {
  const int pic_w = layout->PictureRect.width;
  const int pic_h = layout->PictureRect.height;
  gui::Rect box = layout->TextRect;
  switch (picture_position) {
    case static_cast<int>(PicturePositions::PictureLeft):
      box = {pic_w + 1, 1, width - 2, height - 2};
      break;
    case static_cast<int>(PicturePositions::PictureRight):
      box = {1, 1, width - pic_w - 2, height - 2};
      break;
    case static_cast<int>(PicturePositions::PictureTop):
      box = {1, pic_h + 1, width - 2, height - 2};
      break;
    case static_cast<int>(PicturePositions::PictureBottom):
      box = {1, 1, width - 2, height - pic_h - 2};
      break;
    case static_cast<int>(PicturePositions::PictureBehind):
      box = {1, 1, width - 2, height - 2};
      break;
    default:
      break;  // the box keeps its last contents
  }
  // Measure the word-wrapped caption: left and top stay, right and bottom follow the text.
  gui::Surface scratch(1, 1);
  gui::Dc dc(scratch);
  dc.Select(font);
  dc.DrawText(caption, &box,
              gui::TextFormat::kCalcRect | gui::TextFormat::kCenter | gui::TextFormat::kWordBreak);
  layout->text_width = box.right - box.left;
  layout->text_height = box.bottom - box.top;
  int dx = 0;
  int dy = 0;
  switch (picture_position) {
    case static_cast<int>(PicturePositions::PictureLeft):
    case static_cast<int>(PicturePositions::PictureTop):
    case static_cast<int>(PicturePositions::PictureBehind):
      dx = (width - box.right) / 2;
      dy = (height - box.bottom) / 2;
      break;
    case static_cast<int>(PicturePositions::PictureRight):
      dx = (width - pic_w - box.right - 4) / 2;
      dy = (height - box.bottom) / 2;
      break;
    case static_cast<int>(PicturePositions::PictureBottom):
      dx = (width - box.right) / 2;
      dy = (height - pic_h - box.bottom - 4) / 2;
      break;
    default:
      break;
  }
  layout->TextRect = {box.left + dx, box.top + dy, box.right + dx, box.bottom + dy};
  const gui::Rect& t = layout->TextRect;
  layout->TextRectDown = {t.left + 1, t.top + 1, t.right + 1, t.bottom + 1};

  // CalcPicturePos: beside the caption, or centred when there is none to go beside.
  if (!has_picture) return;
  const bool caption_present =
      std::any_of(caption.begin(), caption.end(), [](char c) { return c != ' '; });
  PictureBox& pic = layout->PictureRect;
  const int centre_x = (width - pic_w) / 2;
  const int centre_y = (height - pic_h) / 2;
  if (!caption_present || picture_position == static_cast<int>(PicturePositions::PictureBehind)) {
    pic.left = centre_x;
    pic.top = centre_y;
    return;
  }
  switch (picture_position) {
    case static_cast<int>(PicturePositions::PictureLeft):
      pic.left = t.left - pic_w - 4;
      pic.top = centre_y;
      break;
    case static_cast<int>(PicturePositions::PictureRight):
      pic.left = t.right + 4;
      pic.top = centre_y;
      break;
    case static_cast<int>(PicturePositions::PictureTop):
      pic.left = centre_x;
      pic.top = t.top - pic_h - 2;
      break;
    case static_cast<int>(PicturePositions::PictureBottom):
      pic.left = centre_x;
      pic.top = t.bottom + 2;
      break;
    default:
      break;  // unchanged
  }
}

gui::Surface PictureSource(const QImage& picture, int w, int h, ColorRef mask) {
  if (picture.isNull() || w <= 0 || h <= 0) return {};
  gui::Surface source(w, h);
  QImage& pixels = source.MutableImage();
  pixels.fill(gui::ToPixel(mask));
  QPainter painter(&pixels);
  painter.drawImage(QPoint(0, 0), picture);
  return source;
}

void BlendPicture(gui::Dc& dc, int x, int y, int w, int h, const gui::Surface& source,
                  std::optional<ColorRef> transparent, std::optional<ColorRef> silhouette,
                  bool dark_only, bool greyscale, bool blend) {
  if (w == 0 || h == 0 || source.IsNull()) return;
  if (w < 0) w = source.width();
  if (h < 0) h = source.height();
  gui::Surface& target = dc.surface();
  // Only the part that lies on both images is transferred; the rest is off the surface.
  const int col_begin = std::max(0, -x);
  const int col_end = std::min({w, source.width(), target.width() - x});
  const int row_begin = std::max(0, -y);
  const int row_end = std::min({h, source.height(), target.height() - y});
  const std::uint32_t transparent_px =
      transparent ? (gui::ToPixel(*transparent) & 0xFFFFFFu) : 0x1000000u;  // none matches
  const std::uint32_t silhouette_px = silhouette ? gui::ToPixel(*silhouette) : 0;
  for (int row = row_begin; row < row_end; ++row) {
    const std::uint32_t* from = source.Row(row);
    std::uint32_t* to = target.Row(y + row);
    for (int col = col_begin; col < col_end; ++col) {
      const std::uint32_t s = from[col] & 0xFFFFFFu;
      if (s == transparent_px) continue;
      std::uint32_t& d = to[x + col];
      const int red = static_cast<int>(s >> 16 & 0xFF);
      const int green = static_cast<int>(s >> 8 & 0xFF);
      const int blue = static_cast<int>(s & 0xFF);
      if (silhouette) {
        if (!dark_only || red + green + blue < 385) d = silhouette_px;
      } else if (greyscale) {
        const double grey = std::nearbyint(std::nearbyint(0.3 * red) + 0.59 * green + 0.11 * blue);
        const auto g = static_cast<std::uint32_t>(std::clamp(grey, 0.0, 255.0));
        d = 0xFF000000u | g << 16 | g << 8 | g;
      } else if (blend) {
        const auto mix = [](std::uint32_t src, std::uint32_t dst) { return (2 * src + dst) / 3; };
        d = 0xFF000000u | mix(s >> 16 & 0xFF, d >> 16 & 0xFF) << 16 |
            mix(s >> 8 & 0xFF, d >> 8 & 0xFF) << 8 | mix(s & 0xFF, d & 0xFF);
      } else {
        d = 0xFF000000u | s;
      }
    }
  }
}

void PaintButton(ButtonState& state, const Palette& palette, int button_state, gui::Dc& dc) {
  (void)button_state;
  const int w = state.width;
  const int h = state.height;
  dc.FillRect({0, 0, w, h}, gui::Brush::Solid(palette.FaceColor));
  dc.SetBkMode(gui::BkMode::kTransparent);
  gui::ScopedSelect font(dc, state.font);
  dc.SetTextColor(state.enabled ? palette.TextColor : palette.ShadowColor);
  gui::Rect r = state.layout.TextRect;
  dc.DrawText(state.caption, &r,
              gui::TextFormat::kCenter | gui::TextFormat::kVCenter | gui::TextFormat::kWordBreak);
  dc.FrameRect({0, 0, w, h}, gui::Brush::Solid(palette.DarkShadowColor));
}

QRegion BuildRegion(int button_type, int width, int height) {
  QRegion region(0, 0, std::max(width, 0), std::max(height, 0));
  const auto cut = [&](int x, int y) { region -= QRegion(x, y, 1, 1); };
  const int r = width - 1;
  const int b = height - 1;
  switch (button_type) {
    case static_cast<int>(ButtonTypes::Raised3D):
    case static_cast<int>(ButtonTypes::Gradient):
      cut(0, 0);
      cut(r, 0);
      cut(0, b);
      cut(r, b);
      break;
    case static_cast<int>(ButtonTypes::Etched):
      cut(0, b);
      cut(r, 0);
      break;
    case static_cast<int>(ButtonTypes::RoundedGradient):
    case static_cast<int>(ButtonTypes::RoundedBevel):
      for (const auto& [x, y] : {std::pair{0, 0},
                                 {1, 0},
                                 {0, 1},
                                 {r - 1, 0},
                                 {r, 0},
                                 {r, 1},
                                 {0, b},
                                 {1, b},
                                 {0, b - 1},
                                 {r - 1, b},
                                 {r, b},
                                 {r, b - 1}}) {
        cut(x, y);
      }
      break;
    default:
      break;
  }
  return region;
}

gui::Rect FocusRectOf(int button_type, int width, int height) {
  gui::Rect r{0, 0, width, height};
  if (button_type >= static_cast<int>(ButtonTypes::ThinRaised) &&
      button_type <= static_cast<int>(ButtonTypes::Oval)) {
    return {r.left + 3, r.top + 3, r.right - 3, r.bottom - 3};
  }
  if (button_type == static_cast<int>(ButtonTypes::Gradient)) {
    return {r.left + 6, r.top + 6, r.right - 4, r.bottom - 4};
  }
  return {r.left + 4, r.top + 4, r.right - 4, r.bottom - 4};
}

}  // namespace magicbutton
