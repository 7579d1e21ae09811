// XP_ProgressBar: an owner-drawn progress bar with ten looks (progressbar::Look), an optional
// centred percentage caption and an offscreen buffer.
//
// The bar keeps its progress as a whole percentage (`Percent`); `Value`, `Min` and `Max` are a
// view onto it. Every redraw paints the whole bar into the offscreen buffer, which paintEvent
// then copies to the screen, so the bar never flickers however often `Value` is written.
//
// Property writes and what they do (a redraw is DrawProgressBar; "marked" tells the host that
// the persisted property changed, under its key):
//   BrushStyle   marked "BrushStyle", no redraw      Color        redraw, not marked
//   Font         no redraw, not marked               hWnd         no redraw
//   Image        marked "Image", redraw              Min, Max     marked, no redraw
//   Orientation, Scrolling, ShowText  marked, redraw Value        redraw, not marked
// No property checks its range.
#pragma once

#include <QPointer>
#include <QSize>
#include <QWidget>

#include <memory>

#include "controls/progressbar_looks.h"
#include "platform/gui/color.h"
#include "platform/gui/control_host.h"
#include "platform/gui/dc.h"
#include "platform/gui/font.h"
#include "platform/gui/geometry.h"
#include "platform/gui/property_bag.h"
#include "platform/gui/surface.h"

class XP_ProgressBar : public QWidget {
  Q_OBJECT

 public:
  // Creates the bar as a new control: default font, white background, a buffer at the current
  // size, Max 100, Min 0, Percent 0, Orientation 0, Scrolling 0 (Blocks), Color the system
  // highlight colour, ShowText off, BrushStyle 0, no Image; then draws it. `host` (may be null)
  // receives the property-changed notifications and must outlive the bar.
  explicit XP_ProgressBar(QWidget* parent = nullptr, gui::ControlHost* host = nullptr);
  ~XP_ProgressBar() override;

  void SetHost(gui::ControlHost* host) { host_ = host; }

  // Redraws the whole bar now: clamps Percent to at most 100 (and keeps it), paints background,
  // look and caption into the buffer, and schedules the copy to the screen.
  void DrawProgressBar();
  // The drawing helpers, on any context (see progressbar_looks.h). DrawGradient replaces
  // color1 and color2 by their translated values.
  void DrawLine(int x, int y, int width, int height, gui::Dc& cHdc, gui::ColorRef color);
  void DrawGradient(gui::ColorRef& color1, gui::ColorRef& color2, int x, int y, int width,
                    int height, gui::Dc& cHdc, bool left_to_right);
  // Copies the buffer to `hdc` at (x_dst, y_dst), from (x_src, y_src); a width or height that
  // is not positive means the buffer's. Nothing without a buffer.
  void pDraw(gui::Dc& hdc, int x_src = 0, int y_src = 0, int width_src = 0, int height_src = 0,
             int x_dst = 0, int y_dst = 0);

  // Write-only: the hatch style of the Hatched look (gui::HatchStyle numbers).
  void SetBrushStyle(int style);
  gui::ColorRef Color() const { return color_; }
  // Stores TranslateColor(color): a system colour is frozen to its current RGB value.
  void SetColor(gui::ColorRef color);
  const gui::FontDesc& Font() const { return font_; }
  void SetFont(const gui::FontDesc& font) { font_ = font; }
  // The widget whose client area gives the drawing geometry; this bar itself by default (and
  // when set to null).
  QWidget* hWnd() { return hwnd_ != nullptr ? hwnd_.data() : this; }
  void SethWnd(QWidget* chWnd) { hwnd_ = chWnd; }
  // The context the bar draws into: the buffer's, or null while there is no buffer.
  gui::Dc* hdc() { return dc_.get(); }
  // Makes sure the buffer covers the bar's current size (a window that was never sized gets
  // its buffer at its first resize). A host's value for hdc would be ignored, so none is taken.
  void SetHdc();
  const gui::Surface& Image() const { return image_; }
  void SetImage(const gui::Surface& image);
  int Min() const { return min_; }
  void SetMin(int value);
  int Max() const { return max_; }
  void SetMax(int value);
  int Orientation() const { return orientation_; }
  void SetOrientation(int value);
  int Scrolling() const { return scrolling_; }
  void SetScrolling(int value);
  bool ShowText() const { return show_text_; }
  void SetShowText(bool value);
  // Percent / 100 x (Max - Min) + Min, rounded; 0 when that leaves the 32-bit range.
  int Value() const;
  // Percent = (v - Min) x 100 / (Max - Min), rounded; (v - Min) x 100 must fit in 32 bits.
  // A write that cannot be converted (Max = Min, out of range) keeps Percent; either way the
  // bar redraws.
  void SetValue(int value);
  // The stored whole percentage.
  int Percent() const { return percent_; }
  bool Buffered() const { return buffer_ != nullptr; }
  // Size of the buffer bitmap; 0 x 0 without one.
  QSize BufferSize() const;

  // Applies a design's properties; absent keys take their defaults. See the .cpp for the keys.
  void ReadProperties(const gui::PropertyBag& bag);
  void WriteProperties(gui::PropertyBag& bag) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void MarkChanged(const char* name);
  gui::Dc* EnsureBuffer(int width, int height);
  void CreateBuffer(int width, int height);
  void DestroyBuffer();

  gui::ControlHost* host_;
  gui::ColorRef color_ = 0;
  QPointer<QWidget> hwnd_;
  int max_ = 100;
  int min_ = 0;
  int percent_ = 0;
  bool show_text_ = false;
  int scrolling_ = 0;
  int orientation_ = 0;
  int brush_style_ = 0;
  gui::Surface image_;
  gui::FontDesc font_;
  // The offscreen buffer and the context bound to it; the context goes first.
  std::unique_ptr<gui::Surface> buffer_;
  std::unique_ptr<gui::Dc> dc_;
  gui::Rect text_rect_;
};
