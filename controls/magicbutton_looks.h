// The drawing of MagicButton: palette, access key, caption and picture layout, the fourteen
// looks, the per-pixel picture transfer and the window region, as functions of a small state and
// a device context. Nothing here knows about widgets; the same calls paint into any surface.
//
// Coordinates are pixels of the button's client area, x to the right and y downwards from the
// top left; W and H are its width and height. Colours are 0x00BBGGRR. Integer divisions
// truncate toward zero; fractions are rounded to the nearest whole number, halves to even.
#pragma once

#include <QChar>
#include <QImage>
#include <QRegion>
#include <QString>

#include <optional>
#include <string>
#include <string_view>

#include "platform/gui/color.h"
#include "platform/gui/dc.h"
#include "platform/gui/font.h"
#include "platform/gui/geometry.h"
#include "platform/gui/surface.h"

namespace magicbutton {

// Values of ButtonType. Any other value draws only the face and the picture.
enum class ButtonTypes : int {
  Raised3D = 1,
  Standard = 2,
  RoundedGradient = 3,
  RoundedBevel = 4,
  Etched = 5,
  SoftRaised = 6,
  ThinRaised = 7,
  HotFlat = 8,
  SelectionBox = 9,
  PictureOnly = 10,
  Transparent = 11,
  HotRaised = 12,
  Oval = 13,
  Gradient = 14,
};

// Values of ColorScheme; 0 and values above 4 behave as SchemeSystem.
enum class ColorSchemes : int {
  SchemeSystem = 1,
  SchemeCustom = 2,
  SchemeClassic = 3,
  SchemeContainer = 4,
};

// Values of SpecialEffect; above 3 behave as EffectShadow, below 0 as EffectNone.
enum class SpecialEffects : int {
  EffectNone = 0,
  EffectRaised = 1,  // dark copy one pixel down-right, light copy one pixel up-left
  EffectSunken = 2,  // light copy down-right, dark copy up-left
  EffectShadow = 3,  // dark copy down-right only
};

// Values of PicturePosition (where the picture goes relative to the caption).
enum class PicturePositions : int {
  PictureLeft = 0,
  PictureRight = 1,
  PictureTop = 2,
  PictureBottom = 3,
  PictureBehind = 4,  // centred, caption drawn over it
};

// The nine palette entries and the two selection colours every look is painted from.
struct Palette {
  gui::ColorRef FaceColor = 0;
  gui::ColorRef LightColor = 0;
  gui::ColorRef HighlightColor = 0;
  gui::ColorRef ShadowColor = 0;
  gui::ColorRef DarkShadowColor = 0;
  gui::ColorRef TextColor = 0;
  gui::ColorRef TextOverColor = 0;
  gui::ColorRef MaskRGB = 0;
  gui::ColorRef GlowColor = 0;
  gui::ColorRef HotColor = 0;
  gui::ColorRef HotPaleColor = 0;

  friend bool operator==(const Palette&, const Palette&) = default;
};

// Brightens (amount > 0) or darkens a colour: each channel moves by a = amount / 2 with
// soft_bevel, else amount, and is held within 0..255 in the direction of the move. With
// scale_blue the blue channel moves by B * a / 192 instead. Only the low 24 bits of c count.
gui::ColorRef ShiftColor(gui::ColorRef c, int amount, bool soft_bevel, bool scale_blue = false);

// What SetColors reads. Colour properties may be system colour references.
struct ColorSource {
  int color_scheme = 1;
  gui::ColorRef back_color = 0;
  gui::ColorRef fore_color = 0;
  gui::ColorRef fore_over = 0;
  gui::ColorRef mask_color = 0;
  bool soft_bevel = false;
  int button_type = 2;
  // The container's background and text colours (scheme 4), RGB.
  gui::ColorRef container_back = 0xFFFFFF;
  gui::ColorRef container_text = 0;
};

// The palette of a scheme (see the .cpp for the table).
Palette SetColors(const ColorSource& source);

// The access key of a caption, in lower case, or a null QChar: the character after the first
// single "&"; when the first "&" is doubled, the character after the next "&" (if that one is
// single). Captions shorter than two characters have none.
QChar AccessKeyOf(const QString& caption);

// A picture's place: left, top, width and height in pixels.
struct PictureBox {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  friend bool operator==(const PictureBox&, const PictureBox&) = default;
};

// Where the caption and the picture go.
struct CaptionLayout {
  gui::Rect TextRect;      // the measured, centred caption
  gui::Rect TextRectDown;  // TextRect moved by (+1, +1)
  int text_width = 0;
  int text_height = 0;
  PictureBox PictureRect;  // width and height are the picture's size (0 without a picture)
};

// Lays out the caption (word-wrapped in `font`) for `picture_position` in a width x height
// button and places the picture beside it (CalcCaptionRect, then CalcPicturePos). Reads
// PictureRect's width and height; `has_picture` tells whether either picture is set. A position
// outside 0..4 keeps the previous TextRect's left and top and the picture's place.
void CalcCaptionRect(std::string_view caption, const gui::Font& font, int picture_position,
                     bool has_picture, int width, int height, CaptionLayout* layout);

// The w x h image a picture is transferred from: the mask colour, with the picture drawn over
// it at (0, 0) in its natural size (so an image with transparent parts shows the mask colour
// there, and an opaque one is used as it is). Null for a null picture or a side not positive.
gui::Surface PictureSource(const QImage& picture, int w, int h, gui::ColorRef mask);

// BlendPicture: transfers the w x h source onto the context's surface at (x, y), pixel by pixel
// (a negative w or h means the source's own). A source pixel equal to `transparent` leaves the
// surface alone; otherwise the pixel becomes `silhouette` when given (with dark_only only where
// R + G + B < 385, the surface stays elsewhere), else its grey value when `greyscale`
// (round(round(0.3 R) + 0.59 G + 0.11 B)), else (2 source + surface) / 3 per channel when
// `blend`, else the source pixel. Pixels off the surface are skipped.
void BlendPicture(gui::Dc& dc, int x, int y, int w, int h, const gui::Surface& source,
                  std::optional<gui::ColorRef> transparent, std::optional<gui::ColorRef> silhouette,
                  bool dark_only, bool greyscale, bool blend);

// Everything a redraw reads. MagicButton keeps one and fills it from its properties.
struct ButtonState {
  int width = 0;   // W
  int height = 0;  // H
  int button_type = 2;
  int color_scheme = 1;
  int picture_position = 0;
  int special_effect = 0;
  bool enabled = true;
  bool mouse_is_over = false;
  bool has_focus = false;
  bool show_focus_rect = true;
  bool use_mask_color = true;
  bool use_greyscale = false;
  bool is_default = false;  // the host shows this button as its default one
  bool soft_bevel = false;
  std::string caption;  // UTF-8; "&" marks the access key, "&&" is one "&"
  gui::Font font;
  CaptionLayout layout;
  gui::Rect FocusRect;
  gui::Surface picture_normal;               // PictureSource of PictureNormal; null without one
  gui::Surface picture_over;                 // PictureSource of PictureOver; null without one
  const gui::Surface* background = nullptr;  // the Transparent look's copy of the container
  int LastTextState = 0;                     // caption state drawn last; updated by drawing
};

// Paints the button into `dc`: the face, then the look of `state` (0 up or hot, 2 down, any
// other state only the face; a disabled button draws its disabled look whatever the state),
// with its caption, picture and focus rectangle, in `palette`. Leaves the context's pens,
// brushes and fonts as it found them; the background mode becomes transparent.
void PaintButton(ButtonState& state, const Palette& palette, int button_state, gui::Dc& dc);

// The window region of a look: the W x H rectangle less the cut corner pixels (types 1, 14: the
// four corners; 5: bottom left and top right; 3, 4: three pixels at each corner), or the
// inscribed ellipse (13).
QRegion BuildRegion(int button_type, int width, int height);

// The focus rectangle of a W x H button of that type.
gui::Rect FocusRectOf(int button_type, int width, int height);

}  // namespace magicbutton
