#include "app/forms.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QScreen>
#include <QWidget>

#include <cstdint>

#include "controls/progressbar_looks.h"
#include "platform/core/number_text.h"
#include "platform/gui/brush.h"
#include "platform/gui/dc.h"

namespace {

constexpr double kTwipsPerPixel = 15;

QColor QColorOf(gui::ColorRef color) {
  return QColor(gui::RedOf(color), gui::GreenOf(color), gui::BlueOf(color));
}

std::int32_t Stored(gui::ColorRef color) { return static_cast<std::int32_t>(color); }

}  // namespace

int TwipsToPixels(int twips) {
  return static_cast<int>(platform::RoundHalfEven(twips / kTwipsPerPixel));
}

QRect TwipsRect(int left, int top, int width, int height) {
  return {TwipsToPixels(left), TwipsToPixels(top), TwipsToPixels(width), TwipsToPixels(height)};
}

QPoint TwipsPoint(int left, int top) { return {TwipsToPixels(left), TwipsToPixels(top)}; }

gui::Surface PaintBackground(const QSize& size, gui::ColorRef back, const QImage& picture,
                             std::span<const Outline> outlines) {
  gui::Surface surface(size.width(), size.height());
  if (surface.IsNull()) return surface;
  gui::Dc dc(surface);
  dc.FillRect({0, 0, size.width(), size.height()}, gui::Brush::Solid(back));
  if (!picture.isNull()) {
    dc.BitBlt(0, 0, picture.width(), picture.height(), gui::Surface::FromImage(picture), 0, 0);
  }
  for (const Outline& outline : outlines) {
    const QRect& r = outline.rect;
    dc.FrameRect({r.left(), r.top(), r.left() + r.width(), r.top() + r.height()},
                 gui::Brush::Solid(outline.color));
  }
  return surface;
}

QLabel* AddLabel(QWidget* parent, const QString& text, const QRect& rect, const LabelLook& look) {
  auto* label = new QLabel(text, parent);  // NOLINT(cppcoreguidelines-owning-memory): parent owns
  label->setFont(gui::Font(look.font).qfont());
  label->setAlignment(look.alignment);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColorOf(look.color));
  palette.setColor(QPalette::Window, Qt::white);
  label->setPalette(palette);
  label->setAutoFillBackground(look.opaque);
  label->setGeometry(rect);
  // The labels' widths were fixed for the fonts of another system: a text that has grown here
  // widens its label rather than losing its last letters.
  const int grow = label->sizeHint().width() - rect.width();
  if (grow > 0) {
    const int left = look.alignment.testFlag(Qt::AlignHCenter) ? rect.left() - grow / 2
                     : look.alignment.testFlag(Qt::AlignRight) ? rect.left() - grow
                                                               : rect.left();
    label->setGeometry(left, rect.top(), rect.width() + grow, rect.height());
  }
  return label;
}

QLabel* AddLabel(QWidget* parent, const QString& text, const QPoint& at, const LabelLook& look) {
  QLabel* label = AddLabel(parent, text, QRect(at, QSize(1, 1)), look);
  label->adjustSize();
  return label;
}

void CentreOnScreen(QWidget& window) {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    window.move(screen->availableGeometry().center() - window.rect().center());
  }
}

QImage BannerPicture() { return QImage(QStringLiteral(":/artwork/banner.png")); }

QImage SplashPicture() { return QImage(QStringLiteral(":/artwork/splash.png")); }

gui::PropertyBag ButtonDesign(const QString& caption, gui::ColorRef fore_over, bool enabled) {
  gui::PropertyBag bag;
  bag.WriteProperty("BTYPE", 14);
  bag.WriteProperty("TX", caption.toStdString());
  bag.WriteProperty("ENAB", enabled);
  bag.WriteProperty("FONT", gui::FontDesc{"Arial", 8.25});
  bag.WriteProperty("COLTYPE", 2);
  bag.WriteProperty("FOCUSR", false);
  bag.WriteProperty("BCOL", Stored(gui::Rgb(255, 255, 255)));
  bag.WriteProperty("BCOLO", Stored(gui::Rgb(224, 224, 224)));
  bag.WriteProperty("FCOL", Stored(gui::Rgb(0, 0, 0)));
  bag.WriteProperty("FCOLO", Stored(fore_over));
  bag.WriteProperty("MCOL", Stored(gui::Rgb(192, 192, 192)));
  bag.WriteProperty("MPTR", 1);
  bag.WriteProperty("UMCOL", true);
  bag.WriteProperty("SOFT", true);
  bag.WriteProperty("PICPOS", 0);
  bag.WriteProperty("NGREY", false);
  bag.WriteProperty("FX", 3);
  bag.WriteProperty("HAND", false);
  bag.WriteProperty("CHECK", false);
  bag.WriteProperty("VALUE", false);
  return bag;
}

gui::PropertyBag MainBarDesign() {
  gui::PropertyBag bag;
  bag.WriteProperty("Font", gui::FontDesc{"Arial", 8.25});
  bag.WriteProperty("BrushStyle", 0);
  bag.WriteProperty("Color", Stored(kOrange));
  bag.WriteProperty("Image", progressbar::GreyGradientImage());
  bag.WriteProperty("Scrolling", 5);
  return bag;
}

gui::PropertyBag SplashBarDesign() {
  gui::PropertyBag bag;
  bag.WriteProperty("Font", gui::FontDesc{"MS Sans Serif", 8.25});
  bag.WriteProperty("BrushStyle", 0);
  bag.WriteProperty("Color", Stored(kOrange));
  bag.WriteProperty("Max", 300);
  bag.WriteProperty("Scrolling", 5);
  return bag;
}
