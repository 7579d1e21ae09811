#include "controls/magicbutton_looks.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "platform/gui/region.h"

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

namespace {

// Fixed colours of RoundedGradient and Etched.
constexpr ColorRef kRoundedOutline = 0x733C00;
constexpr ColorRef kRoundedCorner = 0x7B4D10;
constexpr ColorRef kEtchedCaptionFrame = 0xCC9999;
// The six shapes drawn over RoundedGradient while hovered, and while focused (or default).
constexpr std::array<ColorRef, 6> kHoverLines = {0x31B2FF, 0x0096E7, 0xCEF3FF,
                                                 0x8CDBFF, 0x6BCBFF, 0x6BCBFF};
constexpr std::array<ColorRef, 6> kFocusLines = {0xE7AE8C, 0xEF826B, 0xFFE7CE,
                                                 0xF7D7BD, 0xF0D1B5, 0xF0D1B5};

constexpr gui::TextFormat kCaptionFormat =
    gui::TextFormat::kCenter | gui::TextFormat::kVCenter | gui::TextFormat::kWordBreak;

int RoundHalfEven(double v) { return static_cast<int>(std::nearbyint(v)); }

gui::Rect Moved(const gui::Rect& r, int dx, int dy) {
  return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

// One redraw: the drawing primitives of the looks, the caption and the picture, over one
// palette. The names follow the looks' tables: Fill, Box, Line, Dot, Frame3D, Oval, Focus,
// S (ShiftColor), Sb (ShiftColor with blue scaling).
class Painter {
 public:
  Painter(ButtonState& state, const Palette& palette, int button_state, gui::Dc& dc)
      : s_(state),
        p_(palette),
        dc_(dc),
        button_state_(button_state),
        type_(static_cast<ButtonTypes>(state.button_type)),
        w_(state.width),
        h_(state.height),
        layout_(&state.layout) {}

  void Paint() {
    Fill(0, 0, w_, h_, p_.FaceColor);
    dc_.SetBkMode(gui::BkMode::kTransparent);
    const gui::ScopedSelect font(dc_, s_.font);
    if (!s_.enabled) {
      Disabled();
      DrawPicture(2);
    } else if (button_state_ == 0) {
      Up();
      DrawPicture(0);
    } else if (button_state_ == 2) {
      Down();
      DrawPicture(1);
    }
  }

 private:
  bool Is(ButtonTypes type) const { return type_ == type; }
  int Over() const { return s_.mouse_is_over ? 1 : 0; }
  bool FocusShown() const { return s_.has_focus && s_.show_focus_rect; }

  ColorRef S(ColorRef c, int a) const { return ShiftColor(c, a, s_.soft_bevel); }
  ColorRef Sb(ColorRef c, int a) const { return ShiftColor(c, a, s_.soft_bevel, true); }

  void Fill(int x, int y, int w, int h, ColorRef c) {
    dc_.FillRect({x, y, x + w, y + h}, gui::Brush::Solid(c));
  }
  void Box(int x, int y, int w, int h, ColorRef c) {
    dc_.FrameRect({x, y, x + w, y + h}, gui::Brush::Solid(c));
  }
  void Line(int x1, int y1, int x2, int y2, ColorRef c) {
    const gui::ScopedSelect pen(dc_, gui::Pen(c));
    dc_.MoveTo(x1, y1);
    dc_.LineTo(x2, y2);
  }
  void Dot(int x, int y, ColorRef c) { dc_.SetPixel(x, y, c); }
  // The inner corner pixels of the rounded and bevelled looks.
  void CornerDots(ColorRef c) {
    Dot(1, 1, c);
    Dot(1, h_ - 2, c);
    Dot(w_ - 2, 1, c);
    Dot(w_ - 2, h_ - 2, c);
  }

  // Two nested one-pixel frames: c1 left and top, c2 right and bottom outside; c3 and c4 the
  // same one pixel in. Inset 0 is on the border, -1 one pixel in.
  void Frame3D(ColorRef c1, ColorRef c2, ColorRef c3, ColorRef c4, int inset, bool outer_only) {
    const int p = std::abs(inset);
    const int r = w_ + inset - 1;
    const int b = h_ + inset - 1;
    {
      const gui::ScopedSelect pen(dc_, gui::Pen(c1));
      dc_.MoveTo(p, b);
      dc_.LineTo(p, p);
      dc_.LineTo(r, p);
    }
    {
      const gui::ScopedSelect pen(dc_, gui::Pen(c2));
      dc_.LineTo(r, b);
      dc_.LineTo(p - 1, b);
    }
    if (outer_only) return;
    {
      const gui::ScopedSelect pen(dc_, gui::Pen(c3));
      dc_.MoveTo(p + 1, b - 1);
      dc_.LineTo(p + 1, p + 1);
      dc_.LineTo(r - 1, p + 1);
    }
    const gui::ScopedSelect pen(dc_, gui::Pen(c4));
    dc_.LineTo(r - 1, b - 1);
    dc_.LineTo(p, b - 1);
  }
  void Frame3D(ColorRef c1, ColorRef c2) { Frame3D(c1, c2, 0, 0, 0, true); }

  void Oval(ColorRef pen_color, ColorRef brush_color) {
    const gui::ScopedSelect pen(dc_, gui::Pen(pen_color, 2));
    const gui::ScopedSelect brush(dc_, gui::Brush::Solid(brush_color));
    dc_.Ellipse({0, 0, w_, h_});
  }

  void Focus() {
    if (!FocusShown()) return;
    dc_.SetTextColor(p_.TextColor);
    dc_.DrawFocusRect(s_.FocusRect);
  }

  // Rows 1 to H shading from `base`: G3 (up: darker downwards; down: darker upwards, from the
  // bottom row) and G14. The step is a single-precision value, as designed.
  void GradientG3(ColorRef base, bool down) {
    const double step = static_cast<float>(25.0 / h_);
    for (int i = 1; i <= h_; ++i) {
      const int y = down ? h_ - i : i;
      Line(0, y, w_, y, Sb(base, RoundHalfEven(-step * i)));
    }
  }
  void GradientG14() {
    const double step = static_cast<float>(58.0 / h_);
    for (int i = 1; i <= h_; ++i) Line(0, i, w_, i, S(p_.HighlightColor, RoundHalfEven(-step * i)));
  }

  void RoundedLines(const std::array<ColorRef, 6>& c) {
    Box(1, 2, w_ - 2, h_ - 4, c[0]);
    Line(2, h_ - 2, w_ - 2, h_ - 2, c[1]);
    Line(2, 1, w_ - 2, 1, c[2]);
    Line(1, 2, w_ - 1, 2, c[3]);
    Line(2, 3, 2, h_ - 3, c[4]);
    Line(w_ - 3, 3, w_ - 3, h_ - 3, c[5]);
  }
  void RoundedGradientLines() {
    if (s_.mouse_is_over) {
      RoundedLines(kHoverLines);
    } else if ((s_.has_focus || s_.is_default) && s_.show_focus_rect) {
      RoundedLines(kFocusLines);
    } else {
      const ColorRef glow = p_.GlowColor;
      Line(2, h_ - 2, w_ - 2, h_ - 2, Sb(glow, -48));
      Line(1, h_ - 3, w_ - 2, h_ - 3, Sb(glow, -32));
      Line(w_ - 2, 2, w_ - 2, h_ - 2, Sb(glow, -36));
      Line(w_ - 3, 3, w_ - 3, h_ - 3, Sb(glow, -24));
      Line(2, 1, w_ - 2, 1, Sb(glow, 16));
      Line(1, 2, w_ - 2, 2, Sb(glow, 10));
      Line(1, 2, 1, h_ - 2, Sb(glow, -5));
      Line(2, 3, 2, h_ - 3, Sb(glow, -10));
    }
  }

  void BevelB4() {
    Box(0, 0, w_, h_, p_.DarkShadowColor);
    CornerDots(p_.DarkShadowColor);
    Line(1, 2, 2, 0, p_.FaceColor);
    Line(3, 2, w_ - 3, 2, p_.HighlightColor);
    Line(2, 2, 2, h_ - 3, p_.HighlightColor);
    Dot(3, 3, p_.HighlightColor);
    Line(w_ - 3, 1, w_ - 3, h_ - 3, p_.FaceColor);
    Line(1, h_ - 3, w_ - 3, h_ - 3, p_.FaceColor);
    Dot(w_ - 4, h_ - 4, p_.FaceColor);
    Line(w_ - 2, 2, w_ - 2, h_ - 2, p_.ShadowColor);
    Line(2, h_ - 2, w_ - 2, h_ - 2, p_.ShadowColor);
    Dot(w_ - 3, h_ - 3, p_.ShadowColor);
  }

  void EtchedCaptionFrame() {
    if (!FocusShown()) return;
    const CaptionLayout& l = *layout_;
    Box(l.TextRect.left - 2, l.TextRect.top - 1, l.text_width + 4, l.text_height + 2,
        kEtchedCaptionFrame);
  }

  void CopyBackground() {
    if (s_.background != nullptr) dc_.BitBlt(0, 0, w_, h_, *s_.background, 0, 0);
  }

  // Gradient's up state shows a default button's caption in bold, laid out for bold.
  void GradientCaption() {
    if (!s_.is_default) {
      DrawCaption(Over());
      return;
    }
    gui::FontDesc bold = s_.font.desc();
    bold.bold = true;
    const gui::Font bold_font(bold);
    CaptionLayout bold_layout = s_.layout;
    CalcCaptionRect(s_.caption, bold_font, s_.picture_position,
                    !s_.picture_normal.IsNull() || !s_.picture_over.IsNull(), w_, h_, &bold_layout);
    const gui::ScopedSelect font(dc_, bold_font);
    layout_ = &bold_layout;
    DrawCaption(Over());
    layout_ = &s_.layout;
  }

  // --- The looks -----------------------------------------------------------------------------

  void Up() {
    const ColorRef face = p_.FaceColor, light = p_.LightColor, hi = p_.HighlightColor;
    const ColorRef shadow = p_.ShadowColor, dark = p_.DarkShadowColor;
    switch (type_) {
      case ButtonTypes::Raised3D:
        DrawCaption(Over());
        Frame3D(hi, shadow, hi, shadow, -1, false);
        Box(0, 0, w_, h_, dark);
        Focus();
        break;
      case ButtonTypes::Standard:
        DrawCaption(Over());
        if (s_.show_focus_rect && s_.is_default) {
          Frame3D(hi, dark, light, shadow, -1, false);
          Focus();
          Box(0, 0, w_, h_, dark);
        } else {
          Frame3D(hi, dark, light, shadow, 0, false);
        }
        break;
      case ButtonTypes::RoundedGradient:
        GradientG3(p_.GlowColor, false);
        DrawCaption(Over());
        Box(0, 0, w_, h_, kRoundedOutline);
        CornerDots(kRoundedCorner);
        RoundedGradientLines();
        break;
      case ButtonTypes::RoundedBevel:
        Fill(1, 1, w_ - 2, h_ - 2, light);
        DrawCaption(Over());
        BevelB4();
        break;
      case ButtonTypes::Etched:
        Fill(1, 1, w_ - 1, h_ - 1, S(face, 12));
        DrawCaption(Over());
        Box(1, 1, w_ - 1, h_ - 1, hi);
        Box(0, 0, w_ - 1, h_ - 1, S(shadow, -26));
        Dot(1, h_ - 2, S(shadow, 26));
        Dot(w_ - 2, 1, S(shadow, 26));
        EtchedCaptionFrame();
        break;
      case ButtonTypes::SoftRaised:
        DrawCaption(Over());
        Frame3D(S(light, 8), shadow, S(light, 8), shadow, 0, false);
        Focus();
        break;
      case ButtonTypes::ThinRaised:
        DrawCaption(Over());
        Frame3D(hi, shadow);
        Focus();
        break;
      case ButtonTypes::HotFlat:
        DrawCaption(Over());
        if (s_.mouse_is_over) Frame3D(hi, shadow);
        Focus();
        break;
      case ButtonTypes::SelectionBox:
        if (s_.mouse_is_over) Fill(1, 1, w_, h_, p_.HotPaleColor);
        DrawCaption(Over());
        if (s_.mouse_is_over) Box(0, 0, w_, h_, p_.HotColor);
        Focus();
        break;
      case ButtonTypes::PictureOnly:
        break;
      case ButtonTypes::Transparent:
        CopyBackground();
        DrawCaption(Over());
        Focus();
        break;
      case ButtonTypes::HotRaised:
        DrawCaption(Over());
        if (s_.mouse_is_over) Frame3D(hi, dark, light, shadow, 0, false);
        Focus();
        break;
      case ButtonTypes::Oval:
        Oval(s_.mouse_is_over ? shadow : face, face);
        DrawCaption(Over());
        break;
      case ButtonTypes::Gradient:
        if (s_.mouse_is_over) {
          Fill(0, 0, w_, h_, light);
        } else {
          GradientG14();
        }
        GradientCaption();
        GradientFrame();
        Focus();
        break;
    }
  }

  void GradientFrame() {
    Box(0, 0, w_, h_, S(p_.ShadowColor, -50));
    Box(1, 1, w_ - 2, h_ - 2, S(p_.FaceColor, -9));
    Fill(2, 2, w_ - 4, 2, p_.HighlightColor);
    Fill(2, 4, 2, h_ - 6, p_.HighlightColor);
  }

  void Down() {
    const ColorRef face = p_.FaceColor, light = p_.LightColor, hi = p_.HighlightColor;
    const ColorRef shadow = p_.ShadowColor, dark = p_.DarkShadowColor;
    switch (type_) {
      case ButtonTypes::Raised3D:
        DrawCaption(2);
        Frame3D(shadow, hi, shadow, hi, -1, false);
        Box(0, 0, w_, h_, dark);
        Focus();
        break;
      case ButtonTypes::Standard:
        DrawCaption(2);
        if (s_.show_focus_rect && s_.is_default) {
          Box(0, 0, w_, h_, dark);
          Box(1, 1, w_ - 2, h_ - 2, shadow);
          Focus();
        } else {
          Frame3D(dark, hi, shadow, light, 0, false);
        }
        break;
      case ButtonTypes::RoundedGradient: {
        const ColorRef base = Sb(p_.GlowColor, -32);
        GradientG3(base, true);
        DrawCaption(2);
        Box(0, 0, w_, h_, kRoundedOutline);
        CornerDots(kRoundedCorner);
        Line(2, h_ - 2, w_ - 2, h_ - 2, Sb(base, 16));
        Line(1, h_ - 3, w_ - 2, h_ - 3, Sb(base, 10));
        Line(w_ - 2, 2, w_ - 2, h_ - 2, Sb(base, 5));
        Line(w_ - 3, 3, w_ - 3, h_ - 3, p_.GlowColor);
        Line(2, 1, w_ - 2, 1, Sb(base, -32));
        Line(1, 2, w_ - 2, 2, Sb(base, -24));
        Line(1, 2, 1, h_ - 2, Sb(base, -32));
        Line(2, 2, 2, h_ - 2, Sb(base, -22));
        break;
      }
      case ButtonTypes::RoundedBevel:
        Fill(1, 1, w_ - 2, h_ - 2, S(shadow, -16));
        // The caption's effect copies take the pressed face as their base.
        p_.GlowColor = S(shadow, -16);
        DrawCaption(2);
        p_.GlowColor = S(face, 48);
        Box(0, 0, w_, h_, dark);
        Box(1, 1, w_ - 2, h_ - 2, S(shadow, -64));
        Box(2, 2, w_ - 4, h_ - 4, S(shadow, -32));
        Dot(2, 2, S(shadow, -64));
        Dot(3, 3, S(shadow, -32));
        CornerDots(dark);
        Line(w_ - 3, 1, w_ - 3, h_ - 3, shadow);
        Line(1, h_ - 3, w_ - 2, h_ - 3, shadow);
        Dot(w_ - 4, h_ - 4, shadow);
        Line(w_ - 2, 3, w_ - 2, h_ - 2, S(shadow, -16));
        Line(3, h_ - 2, w_ - 2, h_ - 2, S(shadow, -16));
        Line(w_ - 2, h_ - 3, w_ - 4, h_ - 1, S(shadow, -32));
        Dot(2, h_ - 2, S(shadow, -32));
        Dot(w_ - 2, 2, S(shadow, -32));
        break;
      case ButtonTypes::Etched:
        Fill(1, 1, w_ - 2, h_ - 2, S(shadow, 16));
        Box(0, 0, w_ - 1, h_ - 1, S(shadow, -26));
        Line(w_ - 1, 1, w_ - 1, h_, hi);
        Line(1, h_ - 1, w_ - 1, h_ - 1, hi);
        Text(layout_->TextRect, p_.TextOverColor);
        EtchedCaptionFrame();
        break;
      case ButtonTypes::SoftRaised:
        DrawCaption(2);
        Frame3D(shadow, S(light, 8), shadow, S(light, 8), 0, false);
        Focus();
        break;
      case ButtonTypes::ThinRaised:
      case ButtonTypes::HotFlat:
        DrawCaption(2);
        Frame3D(shadow, hi);
        Focus();
        break;
      case ButtonTypes::SelectionBox:
        if (s_.mouse_is_over) {
          Fill(0, 0, w_, h_,
               s_.color_scheme != static_cast<int>(ColorSchemes::SchemeCustom)
                   ? gui::LightenColor(p_.HotColor, 128)
                   : S(p_.HotPaleColor, -32));
        }
        DrawCaption(2);
        Box(0, 0, w_, h_, p_.HotColor);
        Focus();
        break;
      case ButtonTypes::PictureOnly:
        break;
      case ButtonTypes::Transparent:
        CopyBackground();
        DrawCaption(2);
        Focus();
        break;
      case ButtonTypes::HotRaised:
        DrawCaption(2);
        Frame3D(dark, hi, shadow, light, 0, false);
        Focus();
        break;
      case ButtonTypes::Oval:
        Oval(dark, S(face, -32));
        DrawCaption(2);
        break;
      case ButtonTypes::Gradient:
        Fill(1, 1, w_, h_, S(face, -9));
        Box(0, 0, w_, h_, S(shadow, -48));
        Line(2, h_ - 2, w_ - 2, h_ - 2, hi);
        Line(w_ - 2, 2, w_ - 2, h_ - 1, hi);
        DrawCaption(7);
        Focus();
        break;
    }
  }

  void Disabled() {
    const ColorRef light = p_.LightColor, hi = p_.HighlightColor;
    const ColorRef shadow = p_.ShadowColor, dark = p_.DarkShadowColor;
    switch (type_) {
      case ButtonTypes::Raised3D:
        DrawCaption(3);
        Frame3D(hi, shadow, hi, shadow, -1, false);
        Box(0, 0, w_, h_, dark);
        break;
      case ButtonTypes::Standard:
        DrawCaption(3);
        Frame3D(hi, dark, light, shadow, 0, false);
        break;
      case ButtonTypes::RoundedGradient:
        Fill(0, 0, w_, h_, Sb(p_.GlowColor, -24));
        DrawCaption(5);
        Box(0, 0, w_, h_, Sb(p_.GlowColor, -84));
        CornerDots(Sb(p_.GlowColor, -72));
        break;
      case ButtonTypes::RoundedBevel:
        Fill(1, 1, w_ - 2, h_ - 2, light);
        DrawCaption(3);
        BevelB4();
        break;
      case ButtonTypes::Etched:
        DrawCaption(4);
        Box(0, 0, w_, h_, shadow);
        break;
      case ButtonTypes::SoftRaised:
        DrawCaption(4);
        Frame3D(S(light, 8), shadow, S(light, 8), shadow, 0, false);
        break;
      case ButtonTypes::ThinRaised:
        DrawCaption(3);
        Frame3D(hi, shadow);
        break;
      case ButtonTypes::HotFlat:
      case ButtonTypes::HotRaised:
      case ButtonTypes::Oval:
        DrawCaption(3);
        break;
      case ButtonTypes::SelectionBox:
        DrawCaption(4);
        break;
      case ButtonTypes::PictureOnly:
        break;
      case ButtonTypes::Transparent:
        CopyBackground();
        DrawCaption(3);
        break;
      case ButtonTypes::Gradient:
        GradientG14();
        GradientFrame();
        DrawCaption(6);
        break;
    }
  }

  // --- Caption -------------------------------------------------------------------------------

  void Text(const gui::Rect& rect, ColorRef color) {
    dc_.SetTextColor(color);
    gui::Rect r = rect;
    dc_.DrawText(s_.caption, &r, kCaptionFormat);
  }

  // The shadow and emboss copies, drawn before the caption so that it lies on top.
  void DrawCaptionEffect(const gui::Rect& rect) {
    if (s_.special_effect <= 0) return;
    ColorRef base = p_.FaceColor;
    if (Is(ButtonTypes::RoundedGradient) || Is(ButtonTypes::RoundedBevel) ||
        Is(ButtonTypes::Gradient)) {
      base = p_.GlowColor;
    } else if (Is(ButtonTypes::SelectionBox) && button_state_ == 0 && s_.mouse_is_over &&
               s_.color_scheme != static_cast<int>(ColorSchemes::SchemeCustom)) {
      base = p_.HotPaleColor;
    }
    const bool sunken = s_.special_effect == static_cast<int>(SpecialEffects::EffectSunken);
    Text(Moved(rect, 1, 1), S(base, sunken ? 40 : -40));
    if (s_.special_effect < static_cast<int>(SpecialEffects::EffectShadow)) {
      Text(Moved(rect, -1, -1), S(base, sunken ? -40 : 40));
    }
  }

  void DrawCaption(int text_state) {
    s_.LastTextState = text_state;
    const gui::Rect& up = layout_->TextRect;
    const gui::Rect& down = layout_->TextRectDown;
    switch (text_state) {
      case 0:
        DrawCaptionEffect(up);
        Text(up, p_.TextColor);
        break;
      case 1:
        DrawCaptionEffect(up);
        Text(up, p_.TextOverColor);
        break;
      case 2:
        DrawCaptionEffect(down);
        Text(down, Is(ButtonTypes::RoundedBevel) ? p_.LightColor : p_.TextOverColor);
        break;
      case 3:
        Text(down, p_.HighlightColor);
        Text(up, p_.ShadowColor);
        break;
      case 4:
        Text(up, p_.ShadowColor);
        break;
      case 5:
        Text(up, Sb(p_.GlowColor, -104));
        break;
      case 6:
        Text(down, p_.HighlightColor);
        Text(up, p_.FaceColor);
        break;
      case 7:
        Text(down, S(p_.ShadowColor, -50));
        Text(up, p_.HighlightColor);
        break;
      default:
        Text(up, dc_.text_color());
        break;
    }
  }

  // --- Picture -------------------------------------------------------------------------------

  void Transfer(int x, int y, const gui::Surface& picture, std::optional<ColorRef> silhouette,
                bool dark_only = false, bool greyscale = false, bool blend = false) {
    const PictureBox& box = s_.layout.PictureRect;
    BlendPicture(dc_, x, y, box.width, box.height, picture,
                 s_.use_mask_color ? std::optional<ColorRef>(p_.MaskRGB) : std::nullopt, silhouette,
                 dark_only, greyscale, blend);
  }

  // Silhouettes of the picture behind it, one pixel down-right (and up-left), from `offset`.
  void DrawPictureEffect(int offset, const gui::Surface& picture) {
    if (s_.special_effect <= 0) return;
    ColorRef base = p_.HotPaleColor;
    if (Is(ButtonTypes::RoundedGradient)) {
      base = p_.GlowColor;
    } else if (offset != -1 || s_.color_scheme == static_cast<int>(ColorSchemes::SchemeCustom)) {
      base = p_.FaceColor;
    }
    const int x = s_.layout.PictureRect.left + offset;
    const int y = s_.layout.PictureRect.top + offset;
    const bool sunken = s_.special_effect == static_cast<int>(SpecialEffects::EffectSunken);
    Transfer(x + 1, y + 1, picture, S(base, sunken ? 40 : -40));
    if (s_.special_effect < static_cast<int>(SpecialEffects::EffectShadow)) {
      Transfer(x - 1, y - 1, picture, S(base, sunken ? -40 : 40));
    }
  }

  void DrawPicture(int picture_state) {
    const gui::Surface& normal = s_.picture_normal;
    const gui::Surface& over = s_.picture_over;
    if (normal.IsNull()) return;
    const int x = s_.layout.PictureRect.left;
    const int y = s_.layout.PictureRect.top;
    const bool selection = Is(ButtonTypes::SelectionBox);
    switch (picture_state) {
      case 0:
        if (s_.mouse_is_over && selection) {
          DrawPictureEffect(-1, normal);
          Transfer(x + 1, y + 1, normal, p_.ShadowColor);
          Transfer(x - 1, y - 1, normal, std::nullopt);
        } else if (s_.mouse_is_over && !over.IsNull()) {
          DrawPictureEffect(0, over);
          Transfer(x, y, over, std::nullopt);
        } else if (s_.mouse_is_over) {
          DrawPictureEffect(0, normal);
          Transfer(x, y, normal, std::nullopt);
        } else {
          DrawPictureEffect(0, normal);
          Transfer(x, y, normal, std::nullopt, false, s_.use_greyscale, selection);
        }
        break;
      case 1:
        if (!over.IsNull() && !selection) {
          const int k = Is(ButtonTypes::Etched) ? 0 : 1;
          Transfer(x + k, y + k, over, std::nullopt);
        } else if (!Is(ButtonTypes::Etched) && !selection) {
          DrawPictureEffect(1, normal);
          Transfer(x + 1, y + 1, normal, std::nullopt);
        } else {
          DrawPictureEffect(0, normal);
          Transfer(x, y, normal, std::nullopt);
        }
        break;
      case 2:
        if (Is(ButtonTypes::RoundedGradient)) {
          Transfer(x + 1, y + 1, normal, std::nullopt, false, true);
        } else if (Is(ButtonTypes::Etched) || Is(ButtonTypes::SoftRaised) || selection) {
          Transfer(x, y, normal, selection ? S(p_.ShadowColor, 13) : p_.ShadowColor, true);
        } else {
          Transfer(x + 1, y + 1, normal, p_.HighlightColor, true);
          Transfer(x, y, normal, p_.ShadowColor, true);
        }
        break;
      default:
        return;
    }
    // A caption behind which the picture lies is drawn again, over it.
    if (s_.picture_position == static_cast<int>(PicturePositions::PictureBehind)) {
      DrawCaption(s_.LastTextState);
    }
  }

  ButtonState& s_;
  Palette p_;  // a copy: RoundedBevel's pressed caption swaps its glow for a moment
  gui::Dc& dc_;
  const int button_state_;
  const ButtonTypes type_;
  const int w_;
  const int h_;
  const CaptionLayout* layout_;
};

}  // namespace

void PaintButton(ButtonState& state, const Palette& palette, int button_state, gui::Dc& dc) {
  Painter(state, palette, button_state, dc).Paint();
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
    case static_cast<int>(ButtonTypes::Oval):
      return gui::CreateEllipticRgn(0, 0, width, height);
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
