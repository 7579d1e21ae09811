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

using gui::ColorRef;

// a is the move of each channel, as the palette's rules name it. A channel can only pass the
// end it moves towards, so holding it within 0..255 holds it in the direction of the move.
ColorRef ShiftColor(ColorRef c, int amount, bool soft_bevel, bool scale_blue) {
  const int a = soft_bevel ? amount / 2 : amount;
  const int blue = gui::BlueOf(c);
  return gui::Rgb(gui::ClampChannel(gui::RedOf(c) + a), gui::ClampChannel(gui::GreenOf(c) + a),
                  gui::ClampChannel(scale_blue ? blue + blue * a / 192 : blue + a));
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
  // The first "&", or when it is doubled ("&&", a literal ampersand) the next one.
  qsizetype mark = caption.indexOf(u'&');
  if (mark >= 0 && mark + 1 < caption.size() && caption[mark + 1] == u'&') {
    mark = caption.indexOf(u'&', mark + 2);
  }
  if (mark < 0 || mark + 1 >= caption.size() || caption[mark + 1] == u'&') return {};
  return caption[mark + 1].toLower();
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
  const gui::Rect& text = layout->TextRect;
  layout->TextRectDown = {text.left + 1, text.top + 1, text.right + 1, text.bottom + 1};

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
      pic.left = text.left - pic_w - 4;
      pic.top = centre_y;
      break;
    case static_cast<int>(PicturePositions::PictureRight):
      pic.left = text.right + 4;
      pic.top = centre_y;
      break;
    case static_cast<int>(PicturePositions::PictureTop):
      pic.left = centre_x;
      pic.top = text.top - pic_h - 2;
      break;
    case static_cast<int>(PicturePositions::PictureBottom):
      pic.left = centre_x;
      pic.top = text.bottom + 2;
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
      const std::uint32_t source_px = from[col] & 0xFFFFFFu;
      if (source_px == transparent_px) continue;
      std::uint32_t& target_px = to[x + col];
      const ColorRef color = gui::FromPixel(source_px);
      const int red = gui::RedOf(color);
      const int green = gui::GreenOf(color);
      const int blue = gui::BlueOf(color);
      if (silhouette) {
        if (!dark_only || red + green + blue < 385) target_px = silhouette_px;
      } else if (greyscale) {
        const int grey = gui::ClampChannel(
            gui::RoundToInt(gui::RoundToInt(0.3 * red) + 0.59 * green + 0.11 * blue));
        target_px = gui::ToPixel(gui::Rgb(grey, grey, grey));
      } else if (blend) {
        const ColorRef under = gui::FromPixel(target_px);
        const auto mix = [](int source, int target) { return (2 * source + target) / 3; };
        target_px =
            gui::ToPixel(gui::Rgb(mix(red, gui::RedOf(under)), mix(green, gui::GreenOf(under)),
                                  mix(blue, gui::BlueOf(under))));
      } else {
        target_px = 0xFF000000u | source_px;
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

gui::Rect Moved(const gui::Rect& r, int dx, int dy) {
  return {r.left + dx, r.top + dy, r.right + dx, r.bottom + dy};
}

// Which state of a look to draw.
enum class Phase { kUp, kDown, kDisabled };

// One redraw: the drawing primitives of the looks, the caption and the picture, over one
// palette. Fill and Box take left, top, width and height; Line leaves out its end point; S and
// Sb are ShiftColor without and with blue scaling.
class Painter {
 public:
  Painter(ButtonState& state, const Palette& palette, int button_state, gui::Dc& dc)
      : state_(state),
        palette_(palette),
        dc_(dc),
        button_state_(button_state),
        type_(static_cast<ButtonTypes>(state.button_type)),
        w_(state.width),
        h_(state.height),
        layout_(&state.layout),
        face_(palette.FaceColor),
        light_(palette.LightColor),
        hi_(palette.HighlightColor),
        shadow_(palette.ShadowColor),
        dark_(palette.DarkShadowColor) {}

  void Paint() {
    Fill(0, 0, w_, h_, palette_.FaceColor);
    dc_.SetBkMode(gui::BkMode::kTransparent);
    const gui::ScopedSelect font(dc_, state_.font);
    if (!state_.enabled) {
      DrawLook(Phase::kDisabled);
      DrawPicture(2);
    } else if (button_state_ == 0) {
      DrawLook(Phase::kUp);
      DrawPicture(0);
    } else if (button_state_ == 2) {
      DrawLook(Phase::kDown);
      DrawPicture(1);
    }
  }

 private:
  bool Is(ButtonTypes type) const { return type_ == type; }
  int Over() const { return state_.mouse_is_over ? 1 : 0; }
  bool FocusShown() const { return state_.has_focus && state_.show_focus_rect; }

  ColorRef S(ColorRef c, int a) const { return ShiftColor(c, a, state_.soft_bevel); }
  ColorRef Sb(ColorRef c, int a) const { return ShiftColor(c, a, state_.soft_bevel, true); }

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
    const int near = std::abs(inset);  // left column and top row
    const int right = w_ + inset - 1;
    const int bottom = h_ + inset - 1;
    {
      const gui::ScopedSelect pen(dc_, gui::Pen(c1));
      dc_.MoveTo(near, bottom);
      dc_.LineTo(near, near);
      dc_.LineTo(right, near);
    }
    {
      const gui::ScopedSelect pen(dc_, gui::Pen(c2));
      dc_.LineTo(right, bottom);
      dc_.LineTo(near - 1, bottom);
    }
    if (outer_only) return;
    {
      const gui::ScopedSelect pen(dc_, gui::Pen(c3));
      dc_.MoveTo(near + 1, bottom - 1);
      dc_.LineTo(near + 1, near + 1);
      dc_.LineTo(right - 1, near + 1);
    }
    const gui::ScopedSelect pen(dc_, gui::Pen(c4));
    dc_.LineTo(right - 1, bottom - 1);
    dc_.LineTo(near, bottom - 1);
  }
  void Frame3D(ColorRef c1, ColorRef c2) { Frame3D(c1, c2, 0, 0, 0, true); }

  void Oval(ColorRef pen_color, ColorRef brush_color) {
    const gui::ScopedSelect pen(dc_, gui::Pen(pen_color, 2));
    const gui::ScopedSelect brush(dc_, gui::Brush::Solid(brush_color));
    dc_.Ellipse({0, 0, w_, h_});
  }

  void Focus() {
    if (!FocusShown()) return;
    dc_.SetTextColor(palette_.TextColor);
    dc_.DrawFocusRect(state_.FocusRect);
  }

  // Rows 1 to H shading from `base`: G3 for RoundedGradient (up: darker downwards; down: darker
  // upwards, from the bottom row) and G14 for Gradient. The step per row is rounded to single
  // precision before it is multiplied, which decides the level of some rows.
  void GradientG3(ColorRef base, bool down) {
    const double step = static_cast<float>(25.0 / h_);
    for (int i = 1; i <= h_; ++i) {
      const int y = down ? h_ - i : i;
      Line(0, y, w_, y, Sb(base, gui::RoundToInt(-step * i)));
    }
  }
  void GradientG14() {
    const double step = static_cast<float>(58.0 / h_);
    for (int i = 1; i <= h_; ++i)
      Line(0, i, w_, i, S(palette_.HighlightColor, gui::RoundToInt(-step * i)));
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
    if (state_.mouse_is_over) {
      RoundedLines(kHoverLines);
    } else if ((state_.has_focus || state_.is_default) && state_.show_focus_rect) {
      RoundedLines(kFocusLines);
    } else {
      const ColorRef glow = palette_.GlowColor;
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
    Box(0, 0, w_, h_, palette_.DarkShadowColor);
    CornerDots(palette_.DarkShadowColor);
    Line(1, 2, 2, 0, palette_.FaceColor);
    Line(3, 2, w_ - 3, 2, palette_.HighlightColor);
    Line(2, 2, 2, h_ - 3, palette_.HighlightColor);
    Dot(3, 3, palette_.HighlightColor);
    Line(w_ - 3, 1, w_ - 3, h_ - 3, palette_.FaceColor);
    Line(1, h_ - 3, w_ - 3, h_ - 3, palette_.FaceColor);
    Dot(w_ - 4, h_ - 4, palette_.FaceColor);
    Line(w_ - 2, 2, w_ - 2, h_ - 2, palette_.ShadowColor);
    Line(2, h_ - 2, w_ - 2, h_ - 2, palette_.ShadowColor);
    Dot(w_ - 3, h_ - 3, palette_.ShadowColor);
  }

  void EtchedCaptionFrame() {
    if (!FocusShown()) return;
    const CaptionLayout& layout = *layout_;
    Box(layout.TextRect.left - 2, layout.TextRect.top - 1, layout.text_width + 4,
        layout.text_height + 2, kEtchedCaptionFrame);
  }

  void CopyBackground() {
    if (state_.background != nullptr) dc_.BitBlt(0, 0, w_, h_, *state_.background, 0, 0);
  }

  // Gradient's up state shows a default button's caption in bold, laid out for bold.
  void GradientCaption() {
    if (!state_.is_default) {
      DrawCaption(Over());
      return;
    }
    gui::FontDesc bold = state_.font.desc();
    bold.bold = true;
    const gui::Font bold_font(bold);
    CaptionLayout bold_layout = state_.layout;
    CalcCaptionRect(state_.caption, bold_font, state_.picture_position,
                    !state_.picture_normal.IsNull() || !state_.picture_over.IsNull(), w_, h_,
                    &bold_layout);
    const gui::ScopedSelect font(dc_, bold_font);
    layout_ = &bold_layout;
    DrawCaption(Over());
    layout_ = &state_.layout;
  }

  // --- The looks: one function per ButtonType, drawing its up (or hot), down or disabled state
  // after the face.

  void DrawLook(Phase phase) {
    switch (type_) {
      case ButtonTypes::Raised3D:
        return Raised3D(phase);
      case ButtonTypes::Standard:
        return Standard(phase);
      case ButtonTypes::RoundedGradient:
        return RoundedGradient(phase);
      case ButtonTypes::RoundedBevel:
        return RoundedBevel(phase);
      case ButtonTypes::Etched:
        return Etched(phase);
      case ButtonTypes::SoftRaised:
        return SoftRaised(phase);
      case ButtonTypes::ThinRaised:
        return ThinRaised(phase);
      case ButtonTypes::HotFlat:
        return HotFlat(phase);
      case ButtonTypes::SelectionBox:
        return SelectionBox(phase);
      case ButtonTypes::PictureOnly:
        return;  // the picture alone
      case ButtonTypes::Transparent:
        return Transparent(phase);
      case ButtonTypes::HotRaised:
        return HotRaised(phase);
      case ButtonTypes::Oval:
        return OvalLook(phase);
      case ButtonTypes::Gradient:
        return Gradient(phase);
    }
  }

  // The caption state of the looks that draw their caption in the usual way: hot or not when
  // up, pressed when down, and `disabled` when disabled.
  int CaptionState(Phase phase, int disabled) const {
    return phase == Phase::kUp ? Over() : phase == Phase::kDown ? 2 : disabled;
  }

  void Raised3D(Phase phase) {
    DrawCaption(CaptionState(phase, 3));
    if (phase == Phase::kDown) {
      Frame3D(shadow_, hi_, shadow_, hi_, -1, false);
    } else {
      Frame3D(hi_, shadow_, hi_, shadow_, -1, false);
    }
    Box(0, 0, w_, h_, dark_);
    if (phase != Phase::kDisabled) Focus();
  }

  // The default button (with ShowFocusRect) has a dark outer frame and shows its focus.
  void Standard(Phase phase) {
    DrawCaption(CaptionState(phase, 3));
    const bool framed_default =
        phase != Phase::kDisabled && state_.show_focus_rect && state_.is_default;
    if (phase == Phase::kUp && framed_default) {
      Frame3D(hi_, dark_, light_, shadow_, -1, false);
      Focus();
      Box(0, 0, w_, h_, dark_);
    } else if (phase == Phase::kDown && framed_default) {
      Box(0, 0, w_, h_, dark_);
      Box(1, 1, w_ - 2, h_ - 2, shadow_);
      Focus();
    } else if (phase == Phase::kDown) {
      Frame3D(dark_, hi_, shadow_, light_, 0, false);
    } else {
      Frame3D(hi_, dark_, light_, shadow_, 0, false);
    }
  }

  void RoundedGradient(Phase phase) {
    const ColorRef glow = palette_.GlowColor;
    if (phase == Phase::kDisabled) {
      Fill(0, 0, w_, h_, Sb(glow, -24));
      DrawCaption(5);
      Box(0, 0, w_, h_, Sb(glow, -84));
      CornerDots(Sb(glow, -72));
      return;
    }
    const ColorRef base = phase == Phase::kDown ? Sb(glow, -32) : glow;
    GradientG3(base, phase == Phase::kDown);
    DrawCaption(CaptionState(phase, 0));
    Box(0, 0, w_, h_, kRoundedOutline);
    CornerDots(kRoundedCorner);
    if (phase == Phase::kUp) {
      RoundedGradientLines();
      return;
    }
    Line(2, h_ - 2, w_ - 2, h_ - 2, Sb(base, 16));
    Line(1, h_ - 3, w_ - 2, h_ - 3, Sb(base, 10));
    Line(w_ - 2, 2, w_ - 2, h_ - 2, Sb(base, 5));
    Line(w_ - 3, 3, w_ - 3, h_ - 3, glow);
    Line(2, 1, w_ - 2, 1, Sb(base, -32));
    Line(1, 2, w_ - 2, 2, Sb(base, -24));
    Line(1, 2, 1, h_ - 2, Sb(base, -32));
    Line(2, 2, 2, h_ - 2, Sb(base, -22));
  }

  void RoundedBevel(Phase phase) {
    if (phase != Phase::kDown) {
      Fill(1, 1, w_ - 2, h_ - 2, light_);
      DrawCaption(CaptionState(phase, 3));
      BevelB4();
      return;
    }
    const ColorRef pressed = S(shadow_, -16);
    Fill(1, 1, w_ - 2, h_ - 2, pressed);
    // The caption's effect copies take the pressed face as their base.
    palette_.GlowColor = pressed;
    DrawCaption(2);
    palette_.GlowColor = S(face_, 48);
    Box(0, 0, w_, h_, dark_);
    Box(1, 1, w_ - 2, h_ - 2, S(shadow_, -64));
    Box(2, 2, w_ - 4, h_ - 4, S(shadow_, -32));
    Dot(2, 2, S(shadow_, -64));
    Dot(3, 3, S(shadow_, -32));
    CornerDots(dark_);
    Line(w_ - 3, 1, w_ - 3, h_ - 3, shadow_);
    Line(1, h_ - 3, w_ - 2, h_ - 3, shadow_);
    Dot(w_ - 4, h_ - 4, shadow_);
    Line(w_ - 2, 3, w_ - 2, h_ - 2, pressed);
    Line(3, h_ - 2, w_ - 2, h_ - 2, pressed);
    Line(w_ - 2, h_ - 3, w_ - 4, h_ - 1, S(shadow_, -32));
    Dot(2, h_ - 2, S(shadow_, -32));
    Dot(w_ - 2, 2, S(shadow_, -32));
  }

  void Etched(Phase phase) {
    switch (phase) {
      case Phase::kUp:
        Fill(1, 1, w_ - 1, h_ - 1, S(face_, 12));
        DrawCaption(Over());
        Box(1, 1, w_ - 1, h_ - 1, hi_);
        Box(0, 0, w_ - 1, h_ - 1, S(shadow_, -26));
        Dot(1, h_ - 2, S(shadow_, 26));
        Dot(w_ - 2, 1, S(shadow_, 26));
        EtchedCaptionFrame();
        break;
      case Phase::kDown:
        Fill(1, 1, w_ - 2, h_ - 2, S(shadow_, 16));
        Box(0, 0, w_ - 1, h_ - 1, S(shadow_, -26));
        Line(w_ - 1, 1, w_ - 1, h_, hi_);
        Line(1, h_ - 1, w_ - 1, h_ - 1, hi_);
        Text(layout_->TextRect, palette_.TextOverColor);  // not moved, no effect copies
        EtchedCaptionFrame();
        break;
      case Phase::kDisabled:
        DrawCaption(4);
        Box(0, 0, w_, h_, shadow_);
        break;
    }
  }

  void SoftRaised(Phase phase) {
    const ColorRef soft_light = S(light_, 8);
    DrawCaption(CaptionState(phase, 4));
    if (phase == Phase::kDown) {
      Frame3D(shadow_, soft_light, shadow_, soft_light, 0, false);
    } else {
      Frame3D(soft_light, shadow_, soft_light, shadow_, 0, false);
    }
    if (phase != Phase::kDisabled) Focus();
  }

  void ThinRaised(Phase phase) {
    DrawCaption(CaptionState(phase, 3));
    if (phase == Phase::kDown) {
      Frame3D(shadow_, hi_);
    } else {
      Frame3D(hi_, shadow_);
    }
    if (phase != Phase::kDisabled) Focus();
  }

  // Flat until hovered: then a thin raised frame.
  void HotFlat(Phase phase) {
    DrawCaption(CaptionState(phase, 3));
    if (phase == Phase::kDisabled) return;
    if (phase == Phase::kDown) {
      Frame3D(shadow_, hi_);
    } else if (state_.mouse_is_over) {
      Frame3D(hi_, shadow_);
    }
    Focus();
  }

  void SelectionBox(Phase phase) {
    const bool over = state_.mouse_is_over;
    if (phase == Phase::kDisabled) {
      DrawCaption(4);
      return;
    }
    if (phase == Phase::kUp && over) Fill(1, 1, w_, h_, palette_.HotPaleColor);
    if (phase == Phase::kDown && over) {
      Fill(0, 0, w_, h_,
           state_.color_scheme != static_cast<int>(ColorSchemes::SchemeCustom)
               ? gui::LightenColor(palette_.HotColor, 128)
               : S(palette_.HotPaleColor, -32));
    }
    DrawCaption(CaptionState(phase, 4));
    if (phase == Phase::kDown || over) Box(0, 0, w_, h_, palette_.HotColor);
    Focus();
  }

  void Transparent(Phase phase) {
    CopyBackground();
    DrawCaption(CaptionState(phase, 3));
    if (phase != Phase::kDisabled) Focus();
  }

  // Flat until hovered: then the Standard look's raised frame.
  void HotRaised(Phase phase) {
    DrawCaption(CaptionState(phase, 3));
    if (phase == Phase::kDisabled) return;
    if (phase == Phase::kDown) {
      Frame3D(dark_, hi_, shadow_, light_, 0, false);
    } else if (state_.mouse_is_over) {
      Frame3D(hi_, dark_, light_, shadow_, 0, false);
    }
    Focus();
  }

  void OvalLook(Phase phase) {
    if (phase == Phase::kUp) Oval(state_.mouse_is_over ? shadow_ : face_, face_);
    if (phase == Phase::kDown) Oval(dark_, S(face_, -32));
    DrawCaption(CaptionState(phase, 3));
  }

  void Gradient(Phase phase) {
    switch (phase) {
      case Phase::kUp:
        if (state_.mouse_is_over) {
          Fill(0, 0, w_, h_, light_);
        } else {
          GradientG14();
        }
        GradientCaption();
        GradientFrame();
        Focus();
        break;
      case Phase::kDown:
        Fill(1, 1, w_, h_, S(face_, -9));
        Box(0, 0, w_, h_, S(shadow_, -48));
        Line(2, h_ - 2, w_ - 2, h_ - 2, hi_);
        Line(w_ - 2, 2, w_ - 2, h_ - 1, hi_);
        DrawCaption(7);
        Focus();
        break;
      case Phase::kDisabled:
        GradientG14();
        GradientFrame();
        DrawCaption(6);
        break;
    }
  }

  void GradientFrame() {
    Box(0, 0, w_, h_, S(shadow_, -50));
    Box(1, 1, w_ - 2, h_ - 2, S(face_, -9));
    Fill(2, 2, w_ - 4, 2, hi_);
    Fill(2, 4, 2, h_ - 6, hi_);
  }

  // --- Caption -------------------------------------------------------------------------------

  void Text(const gui::Rect& rect, ColorRef color) {
    dc_.SetTextColor(color);
    gui::Rect r = rect;
    dc_.DrawText(state_.caption, &r, kCaptionFormat);
  }

  // The shadow and emboss copies, drawn before the caption so that it lies on top.
  void DrawCaptionEffect(const gui::Rect& rect) {
    if (state_.special_effect <= 0) return;
    ColorRef base = palette_.FaceColor;
    if (Is(ButtonTypes::RoundedGradient) || Is(ButtonTypes::RoundedBevel) ||
        Is(ButtonTypes::Gradient)) {
      base = palette_.GlowColor;
    } else if (Is(ButtonTypes::SelectionBox) && button_state_ == 0 && state_.mouse_is_over &&
               state_.color_scheme != static_cast<int>(ColorSchemes::SchemeCustom)) {
      base = palette_.HotPaleColor;
    }
    const bool sunken = state_.special_effect == static_cast<int>(SpecialEffects::EffectSunken);
    Text(Moved(rect, 1, 1), S(base, sunken ? 40 : -40));
    if (state_.special_effect < static_cast<int>(SpecialEffects::EffectShadow)) {
      Text(Moved(rect, -1, -1), S(base, sunken ? -40 : 40));
    }
  }

  void DrawCaption(int text_state) {
    state_.LastTextState = text_state;
    const gui::Rect& up = layout_->TextRect;
    const gui::Rect& down = layout_->TextRectDown;
    switch (text_state) {
      case 0:
        DrawCaptionEffect(up);
        Text(up, palette_.TextColor);
        break;
      case 1:
        DrawCaptionEffect(up);
        Text(up, palette_.TextOverColor);
        break;
      case 2:
        DrawCaptionEffect(down);
        Text(down, Is(ButtonTypes::RoundedBevel) ? palette_.LightColor : palette_.TextOverColor);
        break;
      case 3:
        Text(down, palette_.HighlightColor);
        Text(up, palette_.ShadowColor);
        break;
      case 4:
        Text(up, palette_.ShadowColor);
        break;
      case 5:
        Text(up, Sb(palette_.GlowColor, -104));
        break;
      case 6:
        Text(down, palette_.HighlightColor);
        Text(up, palette_.FaceColor);
        break;
      case 7:
        Text(down, S(palette_.ShadowColor, -50));
        Text(up, palette_.HighlightColor);
        break;
      default:
        Text(up, dc_.text_color());
        break;
    }
  }

  // --- Picture -------------------------------------------------------------------------------

  void Transfer(int x, int y, const gui::Surface& picture, std::optional<ColorRef> silhouette,
                bool dark_only = false, bool greyscale = false, bool blend = false) {
    const PictureBox& box = state_.layout.PictureRect;
    BlendPicture(dc_, x, y, box.width, box.height, picture,
                 state_.use_mask_color ? std::optional<ColorRef>(palette_.MaskRGB) : std::nullopt,
                 silhouette, dark_only, greyscale, blend);
  }

  // Silhouettes of the picture behind it, one pixel down-right (and up-left), from `offset`.
  void DrawPictureEffect(int offset, const gui::Surface& picture) {
    if (state_.special_effect <= 0) return;
    ColorRef base = palette_.HotPaleColor;
    if (Is(ButtonTypes::RoundedGradient)) {
      base = palette_.GlowColor;
    } else if (offset != -1 ||
               state_.color_scheme == static_cast<int>(ColorSchemes::SchemeCustom)) {
      base = palette_.FaceColor;
    }
    const int x = state_.layout.PictureRect.left + offset;
    const int y = state_.layout.PictureRect.top + offset;
    const bool sunken = state_.special_effect == static_cast<int>(SpecialEffects::EffectSunken);
    Transfer(x + 1, y + 1, picture, S(base, sunken ? 40 : -40));
    if (state_.special_effect < static_cast<int>(SpecialEffects::EffectShadow)) {
      Transfer(x - 1, y - 1, picture, S(base, sunken ? -40 : 40));
    }
  }

  void DrawPicture(int picture_state) {
    const gui::Surface& normal = state_.picture_normal;
    const gui::Surface& over = state_.picture_over;
    if (normal.IsNull()) return;
    const int x = state_.layout.PictureRect.left;
    const int y = state_.layout.PictureRect.top;
    const bool selection = Is(ButtonTypes::SelectionBox);
    switch (picture_state) {
      case 0:
        if (state_.mouse_is_over && selection) {
          DrawPictureEffect(-1, normal);
          Transfer(x + 1, y + 1, normal, palette_.ShadowColor);
          Transfer(x - 1, y - 1, normal, std::nullopt);
        } else if (state_.mouse_is_over && !over.IsNull()) {
          DrawPictureEffect(0, over);
          Transfer(x, y, over, std::nullopt);
        } else if (state_.mouse_is_over) {
          DrawPictureEffect(0, normal);
          Transfer(x, y, normal, std::nullopt);
        } else {
          DrawPictureEffect(0, normal);
          Transfer(x, y, normal, std::nullopt, false, state_.use_greyscale, selection);
        }
        break;
      case 1:
        if (!over.IsNull() && !selection) {
          const int shift = Is(ButtonTypes::Etched) ? 0 : 1;
          Transfer(x + shift, y + shift, over, std::nullopt);
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
          Transfer(x, y, normal, selection ? S(palette_.ShadowColor, 13) : palette_.ShadowColor,
                   true);
        } else {
          Transfer(x + 1, y + 1, normal, palette_.HighlightColor, true);
          Transfer(x, y, normal, palette_.ShadowColor, true);
        }
        break;
      default:
        return;
    }
    // A caption behind which the picture lies is drawn again, over it.
    if (state_.picture_position == static_cast<int>(PicturePositions::PictureBehind)) {
      DrawCaption(state_.LastTextState);
    }
  }

  ButtonState& state_;
  Palette palette_;  // a copy: RoundedBevel's pressed caption swaps its glow for a moment
  gui::Dc& dc_;
  const int button_state_;
  const ButtonTypes type_;
  const int w_;
  const int h_;
  const CaptionLayout* layout_;
  // The palette entries most looks draw with.
  const ColorRef face_;
  const ColorRef light_;
  const ColorRef hi_;
  const ColorRef shadow_;
  const ColorRef dark_;
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
