#include "controls/xp_progressbar.h"

#include <QPainter>
#include <QPalette>
#include <QRect>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>

#include "platform/core/number_text.h"

namespace {

// The stored form of the default colour: a reference to the system highlight colour.
constexpr gui::ColorRef kDefaultColor = gui::SystemColorRef(gui::SysColor::kHighlight);
constexpr int kDefaultBrushStyle = 4;

std::optional<int> ToInt32(double v) {
  if (!(v >= std::numeric_limits<std::int32_t>::min() &&
        v <= std::numeric_limits<std::int32_t>::max())) {
    return std::nullopt;  // also not a number
  }
  return static_cast<int>(v);
}

// Percent from a Value: (v - Min) x 100 / (Max - Min), halves to even. The product must fit in
// 32 bits (hosts rely on large values being refused, not wrapped); a product or result outside
// 32 bits, or Max = Min, cannot be converted.
std::optional<int> PercentOf(int value, int min, int max) {
  const std::int64_t product = (std::int64_t{value} - min) * 100;
  if (product < std::numeric_limits<std::int32_t>::min() ||
      product > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  const std::int64_t span = std::int64_t{max} - min;
  if (span == 0) return std::nullopt;
  return ToInt32(platform::RoundHalfEven(static_cast<double>(product) / static_cast<double>(span)));
}

}  // namespace

XP_ProgressBar::XP_ProgressBar(QWidget* parent, gui::ControlHost* host)
    : QWidget(parent), host_(host) {
  // Every pixel comes from the buffer; the white background only shows while there is none.
  setAttribute(Qt::WA_OpaquePaintEvent);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, Qt::white);
  setPalette(palette);
  SetHdc();
  color_ = gui::TranslateColor(kDefaultColor);
  DrawProgressBar();
}

XP_ProgressBar::~XP_ProgressBar() { DestroyBuffer(); }

void XP_ProgressBar::DrawProgressBar() {
  if (percent_ > 100) percent_ = 100;  // the clamped value is kept
  if (dc_ == nullptr) return;          // nothing to draw on: the bar has no area
  const QRect client = hWnd()->rect();
  progressbar::BarState state;
  state.width = client.width();
  state.height = client.height();
  state.color = color_;
  state.percent = percent_;
  state.scrolling = scrolling_;
  state.orientation = orientation_;
  state.brush_style = brush_style_;
  state.image = image_;
  state.show_text = show_text_;
  state.font = font_;
  const progressbar::BarGeometry geometry = progressbar::DrawBar(state, *dc_);
  if (geometry.text_laid_out) text_rect_ = geometry.text;
  update();
}

void XP_ProgressBar::DrawLine(int x, int y, int width, int height, gui::Dc& cHdc,
                              gui::ColorRef color) {
  progressbar::DrawLine(x, y, width, height, cHdc, color);
}

void XP_ProgressBar::DrawGradient(gui::ColorRef& color1, gui::ColorRef& color2, int x, int y,
                                  int width, int height, gui::Dc& cHdc, bool left_to_right) {
  color1 = gui::TranslateColor(color1);
  color2 = gui::TranslateColor(color2);
  progressbar::DrawGradient(color1, color2, x, y, width, height, cHdc, left_to_right);
}

void XP_ProgressBar::pDraw(gui::Dc& hdc, int x_src, int y_src, int width_src, int height_src,
                           int x_dst, int y_dst) {
  if (buffer_ == nullptr) return;
  const int w = width_src > 0 ? width_src : buffer_->width();
  const int h = height_src > 0 ? height_src : buffer_->height();
  hdc.BitBlt(x_dst, y_dst, w, h, *buffer_, x_src, y_src);
}

void XP_ProgressBar::SetBrushStyle(int style) {
  brush_style_ = style;
  MarkChanged("BrushStyle");
}

void XP_ProgressBar::SetColor(gui::ColorRef color) {
  color_ = gui::TranslateColor(color);
  DrawProgressBar();
}

void XP_ProgressBar::SetHdc() {
  // A window that nobody has sized yet only carries Qt's provisional 640 x 480; its real size
  // arrives with the resize before it is shown. A buffer that never shrinks must not take that.
  if (isWindow() && !testAttribute(Qt::WA_Resized)) return;
  EnsureBuffer(width(), height());
}

void XP_ProgressBar::SetImage(const gui::Surface& image) {
  image_ = image;
  MarkChanged("Image");
  DrawProgressBar();
}

void XP_ProgressBar::SetMin(int value) {
  min_ = value;
  MarkChanged("Min");
}

void XP_ProgressBar::SetMax(int value) {
  max_ = value;
  MarkChanged("Max");
}

void XP_ProgressBar::SetOrientation(int value) {
  orientation_ = value;
  MarkChanged("Orientation");
  DrawProgressBar();
}

void XP_ProgressBar::SetScrolling(int value) {
  scrolling_ = value;
  MarkChanged("Scrolling");
  DrawProgressBar();
}

void XP_ProgressBar::SetShowText(bool value) {
  show_text_ = value;
  MarkChanged("ShowText");
  DrawProgressBar();
}

int XP_ProgressBar::Value() const {
  const double value = percent_ / 100.0 * (static_cast<double>(max_) - min_) + min_;
  return ToInt32(platform::RoundHalfEven(value)).value_or(0);
}

void XP_ProgressBar::SetValue(int value) {
  if (const auto percent = PercentOf(value, min_, max_)) percent_ = *percent;
  DrawProgressBar();
}

QSize XP_ProgressBar::BufferSize() const {
  return buffer_ != nullptr ? QSize(buffer_->width(), buffer_->height()) : QSize(0, 0);
}

// Keys, defaults and order of the design: Font, BrushStyle, Color, Image, Max, Min,
// Orientation, Scrolling, ShowText, Value. "Value" holds Percent itself.
void XP_ProgressBar::ReadProperties(const gui::PropertyBag& bag) {
  // A design without a font follows the host's.
  SetFont(bag.ReadProperty<gui::FontDesc>("Font", host_ != nullptr ? host_->AmbientFont() : font_));
  brush_style_ = bag.ReadProperty<std::int32_t>("BrushStyle", kDefaultBrushStyle);
  SetColor(static_cast<gui::ColorRef>(
      bag.ReadProperty<std::int32_t>("Color", static_cast<std::int32_t>(kDefaultColor))));
  image_ = bag.ReadProperty<gui::Surface>("Image", gui::Surface());
  SetMax(bag.ReadProperty<std::int32_t>("Max", 100));
  SetMin(bag.ReadProperty<std::int32_t>("Min", 0));
  SetOrientation(bag.ReadProperty<std::int32_t>("Orientation", 0));
  SetScrolling(bag.ReadProperty<std::int32_t>("Scrolling", 0));
  SetShowText(bag.ReadProperty<bool>("ShowText", false));
  // "Value" holds the percentage, so it is restored as such: converting it as a Value would
  // turn a saved 57 % into 19 % on a bar whose Max is 300.
  percent_ = bag.ReadProperty<std::int32_t>("Value", 0);
  DrawProgressBar();
}

void XP_ProgressBar::WriteProperties(gui::PropertyBag& bag) const {
  bag.WriteProperty("Font", font_);
  bag.WriteProperty("BrushStyle", brush_style_, kDefaultBrushStyle);
  bag.WriteProperty("Color", static_cast<std::int32_t>(color_),
                    static_cast<std::int32_t>(kDefaultColor));
  bag.WriteProperty("Image", image_, gui::Surface());
  bag.WriteProperty("Max", max_, 100);
  bag.WriteProperty("Min", min_, 0);
  bag.WriteProperty("Orientation", orientation_, 0);
  bag.WriteProperty("Scrolling", scrolling_, 0);
  bag.WriteProperty("ShowText", show_text_, false);
  bag.WriteProperty("Value", percent_, 0);
}

void XP_ProgressBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (buffer_ != nullptr) {
    painter.drawImage(QPoint(0, 0), buffer_->image(), QRect(0, 0, width(), height()));
  } else {
    painter.fillRect(rect(), Qt::white);
  }
}

void XP_ProgressBar::resizeEvent(QResizeEvent*) {
  SetHdc();
  // Painting only copies the buffer, so the new size is drawn here.
  DrawProgressBar();
}

void XP_ProgressBar::MarkChanged(const char* name) {
  if (host_ != nullptr) host_->PropertyChanged(name);
}

gui::Dc* XP_ProgressBar::EnsureBuffer(int width, int height) {
  if (buffer_ != nullptr) {
    // Grow only; a smaller bar keeps the larger buffer.
    if (width > buffer_->width() || height > buffer_->height()) {
      CreateBuffer(std::max(width, buffer_->width()), std::max(height, buffer_->height()));
    }
  } else if (width > 0 && height > 0) {
    CreateBuffer(width, height);
  }
  return dc_.get();
}

void XP_ProgressBar::CreateBuffer(int width, int height) {
  DestroyBuffer();
  gui::Surface surface(width, height);
  if (surface.IsNull()) return;
  buffer_ = std::make_unique<gui::Surface>(std::move(surface));
  dc_ = std::make_unique<gui::Dc>(*buffer_);
}

void XP_ProgressBar::DestroyBuffer() {
  dc_.reset();
  buffer_.reset();
}
