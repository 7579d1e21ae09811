// MagicButton: the owner-drawn push button every button of the program is made of. Fourteen
// looks (ButtonType), four palette sources (ColorScheme), a picture beside or behind the caption
// with mask colour, greyscale and shadow effects, hover tracking and an optional toggle
// (check-box) behaviour.
//
// Every redraw (DrawButton) paints the whole button into a persistent surface, which paintEvent
// copies to the screen. The window region (the widget's mask) follows the look, so clicks and
// hover outside cut corners or the oval belong to the container.
//
// Property writes and what they do ("redraw" = DrawButton(LastState, forced), "redraw up" =
// DrawButton(0, forced); "marked" = the host is told the persisted property changed, under the
// key in quotes; "palette" = the palette is computed again):
//   BackColor    palette, redraw, "BCOL"; at design time BackOver follows
//   BackOver     palette, redraw, "BCOLO"        ForeColor  palette, redraw, "FCOL"; at design
//   ForeOver     palette, redraw, "FCOLO"                   time ForeOver follows
//   MaskColor    palette, redraw, "MCOL"         ButtonType layout, region, redraw up, "BTYPE"
//   Caption      access key, layout, redraw up, "TX"
//   Enabled      redraw up, window (dis)abled, "ENAB"
//   Font         layout, redraw up, "FONT"       FontBold/Italic/Underline/Size/Name: layout,
//   ColorScheme  palette, redraw up, "COLTYPE"                redraw up, not marked
//   ShowFocusRect redraw, "FOCUSR"               MousePointer "MPTR"   MouseIcon "MICON"
//   HandPointer  pointer, "HAND"                 SoftBevel  palette, redraw, "SOFT"
//   PictureNormal layout, redraw, "PICN"         PictureOver redraw while hovered, "PICO"
//   PicturePosition layout, redraw, "PICPOS"     UseMaskColor, UseGreyscale: redraw when a
//   SpecialEffect redraw, "FX"                      picture is set, "UMCOL", "NGREY"
//   CheckBoxBehaviour redraw, "CHECK"            Value      redraw up when toggling, "VALUE"
// No property checks its range; out-of-range values draw as the looks say.
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

#include "controls/magicbutton_looks.h"
#include "platform/gui/color.h"
#include "platform/gui/control_host.h"
#include "platform/gui/font.h"
#include "platform/gui/geometry.h"
#include "platform/gui/property_bag.h"
#include "platform/gui/surface.h"

class MagicButton : public QWidget {
  Q_OBJECT
  // The default property: a host that reads or assigns the button as a value uses its caption.
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption USER true)

 public:
  // Creates the button as a new control: Enabled, ShowFocusRect and UseMaskColor on, Caption
  // the name the host gives it, the host's font (the default font without a host), ButtonType 2
  // (Standard), ColorScheme 1 (system colours), BackColor = BackOver = the button face colour,
  // ForeColor = ForeOver = the button text colour, MaskColor 0xC0C0C0. `host` (may be null:
  // then the program runs, not a designer) receives the property-changed notifications and
  // must outlive the button.
  explicit MagicButton(QWidget* parent = nullptr, gui::ControlHost* host = nullptr);
  ~MagicButton() override;

  void SetHost(gui::ControlHost* host) { host_ = host; }

  // Colours (0x00BBGGRR or system colour references, stored as set).
  gui::ColorRef BackColor() const { return back_color_; }
  void SetBackColor(gui::ColorRef theCol);
  gui::ColorRef BackOver() const { return back_over_; }
  void SetBackOver(gui::ColorRef theCol);
  gui::ColorRef ForeColor() const { return fore_color_; }
  void SetForeColor(gui::ColorRef theCol);
  gui::ColorRef ForeOver() const { return fore_over_; }
  void SetForeOver(gui::ColorRef theCol);
  gui::ColorRef MaskColor() const { return mask_color_; }
  void SetMaskColor(gui::ColorRef theCol);

  // magicbutton::ButtonTypes; other values draw only the face and the picture.
  int ButtonType() const { return look_.button_type; }
  void SetButtonType(int newValue);
  // "&" marks the access key (Alt + that letter clicks the button); "&&" shows one "&".
  QString Caption() const { return caption_; }
  void SetCaption(const QString& newValue);
  // False draws the disabled look and makes the widget take no input.
  bool Enabled() const { return look_.enabled; }
  void SetEnabled(bool newValue);

  const gui::FontDesc& Font() const { return look_.font.desc(); }
  void SetFont(const gui::FontDesc& newValue);
  bool FontBold() const { return Font().bold; }
  void SetFontBold(bool newValue);
  bool FontItalic() const { return Font().italic; }
  void SetFontItalic(bool newValue);
  bool FontUnderline() const { return Font().underline; }
  void SetFontUnderline(bool newValue);
  // The size in points, rounded to a whole number (halves to even).
  int FontSize() const;
  void SetFontSize(int newValue);
  QString FontName() const { return QString::fromStdString(Font().name); }
  void SetFontName(const QString& newValue);

  // magicbutton::ColorSchemes.
  int ColorScheme() const { return look_.color_scheme; }
  void SetColorScheme(int newValue);
  bool ShowFocusRect() const { return look_.show_focus_rect; }
  void SetShowFocusRect(bool newValue);
  // The pointer over the button: 0 the default, 1 arrow, 2 cross, 3 I-beam, 4 icon, 5 size,
  // 6 size NE-SW, 7 size N-S, 8 size NW-SE, 9 size W-E, 10 up arrow, 11 hourglass, 12 no drop,
  // 13 arrow and hourglass, 14 arrow and question mark, 15 size all, 99 MouseIcon (the hand
  // while HandPointer is set). Other values give the default pointer.
  int MousePointer() const { return mouse_pointer_; }
  void SetMousePointer(int newValue);
  // The custom pointer's image (hot spot in its centre); a null image means none.
  const QImage& MouseIcon() const { return mouse_icon_; }
  void SetMouseIcon(const QImage& newValue);
  // On: the toolkit's pointing hand (MousePointer 99, no MouseIcon); off: MousePointer 1 (arrow),
  // no MouseIcon.
  bool HandPointer() const { return hand_pointer_; }
  void SetHandPointer(bool newValue);
  QWidget* hWnd() { return this; }
  // Halves every colour shift of the palette and the looks.
  bool SoftBevel() const { return look_.soft_bevel; }
  void SetSoftBevel(bool newValue);
  // Pictures: an image with an alpha channel is drawn over the mask colour, so its transparent
  // parts show the button; any image's pixels in the mask colour are transparent while
  // UseMaskColor is on. PictureOver is shown while the pointer is over the button or it is
  // pressed, at PictureNormal's size.
  const QImage& PictureNormal() const { return picture_normal_; }
  void SetPictureNormal(const QImage& newValue);
  const QImage& PictureOver() const { return picture_over_; }
  void SetPictureOver(const QImage& newValue);
  // magicbutton::PicturePositions.
  int PicturePosition() const { return look_.picture_position; }
  void SetPicturePosition(int newValue);
  bool UseMaskColor() const { return look_.use_mask_color; }
  void SetUseMaskColor(bool newValue);
  // The picture in grey while the pointer is elsewhere.
  bool UseGreyscale() const { return look_.use_greyscale; }
  void SetUseGreyscale(bool newValue);
  // magicbutton::SpecialEffects: shadow or emboss copies under the caption and the picture.
  int SpecialEffect() const { return look_.special_effect; }
  void SetSpecialEffect(int newValue);
  // Each click inverts Value; the button is drawn pressed while Value is set.
  bool CheckBoxBehaviour() const { return check_box_behaviour_; }
  void SetCheckBoxBehaviour(bool newValue);
  bool Value() const { return value_; }
  void SetValue(bool newValue);
  // "2.0.6".
  QString Version() const;

  // Stops drawing until Refresh (or until the button is shown again); properties still change.
  void DisableRefresh();
  // Captures the container again (Transparent), computes palette and layout, and redraws.
  void Refresh();

  // Applies a design's properties (absent keys take their defaults, see the .cpp); computes
  // the layout but neither the palette nor the look: that happens when the button is shown
  // (or on Refresh).
  void ReadProperties(const gui::PropertyBag& bag);
  // Writes every property, defaults included, under its key in lower case.
  void WriteProperties(gui::PropertyBag& bag) const;

  // The host's font or colours changed: unless ColorScheme is 2, palette and redraw.
  void AmbientChanged();

  // Paints the button for `state` (0 up, hot while the pointer is over; 2 down) into the
  // surface. A call that is not forced does nothing when the state and the caption are those
  // drawn last; nothing is drawn while the button has no height or drawing is disabled. With
  // CheckBoxBehaviour and Value, any state is drawn as 2.
  void DrawButton(int state, bool forced = false);
  // The state last drawn (0 or 2).
  int LastState() const { return last_state_; }
  // The persistent surface (the button's size; null while it has no area).
  const gui::Surface& surface() const { return surface_; }

  // The palette drawn while the pointer is elsewhere (in scheme 2 a hovered button derives
  // its palette from BackOver instead).
  const magicbutton::Palette& CurrentPalette() const { return palette_; }
  const magicbutton::CaptionLayout& layout() const { return look_.layout; }
  gui::Rect FocusRect() const { return look_.FocusRect; }
  bool MouseIsOver() const { return look_.mouse_is_over; }
  bool HasFocus() const { return look_.has_focus; }

 signals:
  // A left click (or the access key, or Space) on an enabled button; the new look is on the
  // screen before it is raised.
  void Click();
  // Button: 1 left, 2 right, 4 middle (MouseMove: all buttons held); Shift: 1 Shift, 2 Ctrl,
  // 4 Alt; X, Y: pixels in the button. Handlers connected directly may change the arguments
  // before the button acts on them: a MouseDown handler that makes Button 2 suppresses the
  // pressed look and the click.
  void MouseDown(short& Button, short& Shift, float& X, float& Y);
  void MouseMove(short& Button, short& Shift, float& X, float& Y);
  void MouseUp(short& Button, short& Shift, float& X, float& Y);
  // The character typed (Latin-1 code).
  void KeyPress(short& KeyAscii);
  // KeyCode: the virtual key code (letters 65..90, digits 48..57, Space 32, arrows 37..40,
  // Enter 13, Escape 27, F1.. 112..); Shift as above.
  void KeyDown(short& KeyCode, short& Shift);
  void KeyUp(short& KeyCode, short& Shift);
  // The pointer entered the button's visible shape / left it. They alternate: one MouseOver
  // per entry, one MouseOut per exit, also when the exit happens with a mouse button held.
  void MouseOver();
  void MouseOut();

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void MarkChanged(const char* name);
  bool DesignTime() const;
  void SetColors();
  void SetAccessKey();
  void CalcCaptionRect();
  void GetPictureSize();
  void PreparePictures();
  void ApplyGeometry();
  void ResizeRoutine();
  void CaptureBackground();
  void ApplyPointer();
  void ApplyHandPointer(bool on);
  void ReplaceFont(const gui::FontDesc& font);
  void Redraw() { DrawButton(last_state_, true); }
  void RedrawUp() { DrawButton(0, true); }
  bool IsMouseOver(const QPoint& position) const;
  void PointerLeft();
  void Press(short button, short shift, float x, float y);
  void ClickHandling();

  gui::ControlHost* host_;
  magicbutton::ButtonState look_;
  magicbutton::Palette palette_;
  magicbutton::Palette over_palette_;  // scheme 2 while hovered: derived from BackOver
  gui::ColorRef back_color_ = 0;
  gui::ColorRef back_over_ = 0;
  gui::ColorRef fore_color_ = 0;
  gui::ColorRef fore_over_ = 0;
  gui::ColorRef mask_color_ = 0;
  QString caption_;
  QString last_caption_;
  QImage picture_normal_;
  QImage picture_over_;
  QImage mouse_icon_;
  int mouse_pointer_ = 0;
  bool hand_pointer_ = false;
  bool check_box_behaviour_ = false;
  bool value_ = false;
  bool refresh_enabled_ = true;
  bool capturing_background_ = false;
  // The press that is being released was the second press of a double click.
  bool double_click_press_ = false;
  // A mouse press arrived and not all buttons are released yet.
  bool button_held_ = false;
  int last_state_ = 0;
  int press_button_ = 0;   // PressButton: mouse button of the last press (1 left)
  int last_key_down_ = 0;  // LastKeyDown: low byte of the last key code pressed
  int access_key_id_ = 0;  // the grabbed Alt+key shortcut, 0 for none
  gui::Surface surface_;
  // The Transparent look's copy of the container; null unless shown as Transparent.
  gui::Surface memory_surface_;
};
