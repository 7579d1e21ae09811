// What the program's three windows share: design positions in twips, the background each window
// paints (colour, picture, rectangle outlines), labels, and the designs of the buttons and bars.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <span>

#include "platform/gui/color.h"
#include "platform/gui/font.h"
#include "platform/gui/property_bag.h"
#include "platform/gui/surface.h"

class QLabel;
class QWidget;

// Designs give positions in twips: 15 make one pixel. A fraction of a pixel rounds to the
// nearest, a half to the even one.
int TwipsToPixels(int twips);
QRect TwipsRect(int left, int top, int width, int height);
QPoint TwipsPoint(int left, int top);

// A rectangle outline of a design (a "Shape"): one pixel wide, just inside `rect`.
struct Outline {
  QRect rect;
  gui::ColorRef color;
};

// A window's background at `size`: `back` everywhere, `picture` (may be null) at the top left,
// then the outlines. Drawn through the raster layer, so it can be checked pixel by pixel.
gui::Surface PaintBackground(const QSize& size, gui::ColorRef back, const QImage& picture,
                             std::span<const Outline> outlines);

// How a label of a design is drawn.
struct LabelLook {
  gui::FontDesc font;
  gui::ColorRef color = 0;
  bool opaque = false;  // a white background of its own, hiding what lies behind its text
  Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop;
};

// A label on `parent` (which owns it) at `rect`. Its text is drawn without smoothing, like the
// controls' text.
QLabel* AddLabel(QWidget* parent, const QString& text, const QRect& rect, const LabelLook& look);
// The same, sized to its text with its top left at `at`.
QLabel* AddLabel(QWidget* parent, const QString& text, const QPoint& at, const LabelLook& look);

// Moves `window` to the middle of the primary screen, where each window first shows.
void CentreOnScreen(QWidget& window);

// The programs' pictures, built into mendra.
QImage BannerPicture();  // 290 x 55, the main and the About window
QImage SplashPicture();  // 300 x 200

// The configuration of every button of the program, as a form stores it: ButtonType 14
// (Gradient), colour scheme 2, white face, light grey when hovered, black text turning
// `fore_over` when hovered, Arial 8.25, a shadow under the caption, no focus rectangle, no
// pictures. The window, the button gallery and the button benchmark all build it here.
gui::PropertyBag ButtonDesign(const QString& caption, gui::ColorRef fore_over, bool enabled);

// The progress bars' designs: the main window's Gradient bar with its 1 x 15 grey image, and the
// splash's Gradient bar counting to 300.
gui::PropertyBag MainBarDesign();
gui::PropertyBag SplashBarDesign();

// The program's orange and dark blue.
inline constexpr gui::ColorRef kOrange = gui::Rgb(228, 101, 1);
inline constexpr gui::ColorRef kDarkBlue = gui::Rgb(23, 52, 81);
// The Copy button's text under the pointer.
inline constexpr gui::ColorRef kCopyHoverText = gui::Rgb(9, 119, 255);
