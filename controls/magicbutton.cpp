#include "controls/magicbutton.h"

#include <QCursor>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QShortcutEvent>

#include <array>
#include <cstdint>
#include <utility>

#include "platform/gui/geometry.h"

namespace {

constexpr gui::ColorRef kDefaultMaskColor = 0xC0C0C0;

// Mouse buttons and modifier keys as the events report them: 1 left, 2 right, 4 middle;
// 1 Shift, 2 Ctrl, 4 Alt.
short ButtonsOf(Qt::MouseButtons buttons) {
  return static_cast<short>((buttons & Qt::LeftButton ? 1 : 0) |
                            (buttons & Qt::RightButton ? 2 : 0) |
                            (buttons & Qt::MiddleButton ? 4 : 0));
}

short ShiftOf(Qt::KeyboardModifiers modifiers) {
  return static_cast<short>((modifiers & Qt::ShiftModifier ? 1 : 0) |
                            (modifiers & Qt::ControlModifier ? 2 : 0) |
                            (modifiers & Qt::AltModifier ? 4 : 0));
}

// The virtual key code of a key: letters and digits are their upper-case ASCII codes; 0 for
// keys that have none.
short KeyCodeOf(const QKeyEvent& event) {
  const int key = event.key();
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
    return static_cast<short>(key);
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return static_cast<short>(112 + key - Qt::Key_F1);
  switch (key) {
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Shift:
      return 16;
    case Qt::Key_Control:
      return 17;
    case Qt::Key_Alt:
      return 18;
    case Qt::Key_Pause:
      return 19;
    case Qt::Key_CapsLock:
      return 20;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_Space:
      return 32;
    case Qt::Key_PageUp:
      return 33;
    case Qt::Key_PageDown:
      return 34;
    case Qt::Key_End:
      return 35;
    case Qt::Key_Home:
      return 36;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Insert:
      return 45;
    case Qt::Key_Delete:
      return 46;
    default:
      return 0;
  }
}

constexpr short kSpace = 32;

gui::ColorRef ColorOf(const QColor& color) {
  return gui::Rgb(color.red(), color.green(), color.blue());
}

std::int32_t Stored(gui::ColorRef color) { return static_cast<std::int32_t>(color); }

// Pictures are stored as plain bitmaps; an image with transparent parts keeps them as the mask
// colour, which reads back as transparent.
gui::Surface StoredPicture(const QImage& picture, gui::ColorRef mask) {
  return magicbutton::PictureSource(picture, picture.width(), picture.height(),
                                    gui::TranslateColor(mask));
}

}  // namespace

MagicButton::MagicButton(QWidget* parent, gui::ControlHost* host) : QWidget(parent), host_(host) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);  // hover is detected by the first move over the button
  look_.enabled = true;
  look_.show_focus_rect = true;
  look_.use_mask_color = true;
  if (host_ != nullptr) {
    caption_ = QString::fromStdString(host_->AmbientDisplayName(*this));
    look_.caption = caption_.toStdString();
    look_.font = gui::Font(host_->AmbientFont());
  }
  look_.button_type = static_cast<int>(magicbutton::ButtonTypes::Standard);
  look_.color_scheme = static_cast<int>(magicbutton::ColorSchemes::SchemeSystem);
  SetColors();
  back_color_ = back_over_ = palette_.FaceColor;
  mask_color_ = kDefaultMaskColor;
  fore_color_ = fore_over_ = palette_.TextColor;
  SetColors();
  SetAccessKey();
  CalcCaptionRect();
}

MagicButton::~MagicButton() { refresh_enabled_ = false; }

// --- Properties -------------------------------------------------------------------------------

void MagicButton::SetBackColor(gui::ColorRef theCol) {
  back_color_ = theCol;
  if (DesignTime()) back_over_ = theCol;
  SetColors();
  Redraw();
  MarkChanged("BCOL");
}

void MagicButton::SetBackOver(gui::ColorRef theCol) {
  back_over_ = theCol;
  SetColors();
  Redraw();
  MarkChanged("BCOLO");
}

void MagicButton::SetForeColor(gui::ColorRef theCol) {
  fore_color_ = theCol;
  if (DesignTime()) fore_over_ = theCol;
  SetColors();
  Redraw();
  MarkChanged("FCOL");
}

void MagicButton::SetForeOver(gui::ColorRef theCol) {
  fore_over_ = theCol;
  SetColors();
  Redraw();
  MarkChanged("FCOLO");
}

void MagicButton::SetMaskColor(gui::ColorRef theCol) {
  mask_color_ = theCol;
  SetColors();
  PreparePictures();
  Redraw();
  MarkChanged("MCOL");
}

void MagicButton::SetButtonType(int newValue) {
  look_.button_type = newValue;
  if (newValue == static_cast<int>(magicbutton::ButtonTypes::Etched) && DesignTime()) {
    SetFontBold(true);
  } else if (newValue == static_cast<int>(magicbutton::ButtonTypes::Transparent) &&
             refresh_enabled_) {
    CaptureBackground();
  }
  // The glow of RoundedGradient scales its blue channel, so the palette depends on the type.
  SetColors();
  ResizeRoutine();
  MarkChanged("BTYPE");
}

void MagicButton::SetCaption(const QString& newValue) {
  caption_ = newValue;
  look_.caption = caption_.toStdString();
  SetAccessKey();
  CalcCaptionRect();
  RedrawUp();
  MarkChanged("TX");
}

void MagicButton::SetEnabled(bool newValue) {
  look_.enabled = newValue;
  RedrawUp();
  setEnabled(newValue);
  MarkChanged("ENAB");
}

void MagicButton::SetFont(const gui::FontDesc& newValue) {
  ReplaceFont(newValue);
  MarkChanged("FONT");
}

void MagicButton::SetFontBold(bool newValue) {
  gui::FontDesc font = Font();
  font.bold = newValue;
  ReplaceFont(font);
}

void MagicButton::SetFontItalic(bool newValue) {
  gui::FontDesc font = Font();
  font.italic = newValue;
  ReplaceFont(font);
}

void MagicButton::SetFontUnderline(bool newValue) {
  gui::FontDesc font = Font();
  font.underline = newValue;
  ReplaceFont(font);
}

int MagicButton::FontSize() const { return gui::RoundToInt(Font().size); }

void MagicButton::SetFontSize(int newValue) {
  gui::FontDesc font = Font();
  font.size = newValue;
  ReplaceFont(font);
}

void MagicButton::SetFontName(const QString& newValue) {
  gui::FontDesc font = Font();
  font.name = newValue.toStdString();
  ReplaceFont(font);
}

void MagicButton::ReplaceFont(const gui::FontDesc& font) {
  look_.font = gui::Font(font);
  CalcCaptionRect();
  RedrawUp();
}

void MagicButton::SetColorScheme(int newValue) {
  look_.color_scheme = newValue;
  SetColors();
  RedrawUp();
  MarkChanged("COLTYPE");
}

void MagicButton::SetShowFocusRect(bool newValue) {
  look_.show_focus_rect = newValue;
  Redraw();
  MarkChanged("FOCUSR");
}

void MagicButton::SetMousePointer(int newValue) {
  mouse_pointer_ = newValue;
  ApplyPointer();
  MarkChanged("MPTR");
}

void MagicButton::SetMouseIcon(const QImage& newValue) {
  mouse_icon_ = newValue;
  ApplyPointer();
  MarkChanged("MICON");
}

void MagicButton::SetHandPointer(bool newValue) {
  ApplyHandPointer(newValue);
  MarkChanged("HAND");
}

void MagicButton::ApplyHandPointer(bool on) {
  hand_pointer_ = on;
  mouse_icon_ = QImage();
  mouse_pointer_ = on ? 99 : 1;
  ApplyPointer();
}

void MagicButton::ApplyPointer() {
  static constexpr std::array<Qt::CursorShape, 16> kShapes = {
      Qt::ArrowCursor,     Qt::ArrowCursor,   Qt::CrossCursor,     Qt::IBeamCursor,
      Qt::ArrowCursor,     Qt::SizeAllCursor, Qt::SizeBDiagCursor, Qt::SizeVerCursor,
      Qt::SizeFDiagCursor, Qt::SizeHorCursor, Qt::UpArrowCursor,   Qt::WaitCursor,
      Qt::ForbiddenCursor, Qt::BusyCursor,    Qt::WhatsThisCursor, Qt::SizeAllCursor,
  };
  if (mouse_pointer_ == 99) {
    if (hand_pointer_) {
      setCursor(Qt::PointingHandCursor);
    } else if (!mouse_icon_.isNull()) {
      setCursor(QCursor(QPixmap::fromImage(mouse_icon_)));
    } else {
      unsetCursor();
    }
  } else if (mouse_pointer_ >= 1 && mouse_pointer_ < static_cast<int>(kShapes.size())) {
    setCursor(kShapes[static_cast<size_t>(mouse_pointer_)]);
  } else {
    unsetCursor();
  }
}

void MagicButton::SetSoftBevel(bool newValue) {
  look_.soft_bevel = newValue;
  SetColors();
  Redraw();
  MarkChanged("SOFT");
}

void MagicButton::SetPictureNormal(const QImage& newValue) {
  picture_normal_ = newValue;
  GetPictureSize();
  CalcCaptionRect();
  Redraw();
  MarkChanged("PICN");
}

void MagicButton::SetPictureOver(const QImage& newValue) {
  picture_over_ = newValue;
  PreparePictures();
  if (look_.mouse_is_over) Redraw();
  MarkChanged("PICO");
}

void MagicButton::SetPicturePosition(int newValue) {
  look_.picture_position = newValue;
  MarkChanged("PICPOS");
  CalcCaptionRect();
  Redraw();
}

void MagicButton::SetUseMaskColor(bool newValue) {
  look_.use_mask_color = newValue;
  if (!picture_normal_.isNull()) Redraw();
  MarkChanged("UMCOL");
}

void MagicButton::SetUseGreyscale(bool newValue) {
  look_.use_greyscale = newValue;
  if (!picture_normal_.isNull()) Redraw();
  MarkChanged("NGREY");
}

void MagicButton::SetSpecialEffect(int newValue) {
  look_.special_effect = newValue;
  Redraw();
  MarkChanged("FX");
}

void MagicButton::SetCheckBoxBehaviour(bool newValue) {
  check_box_behaviour_ = newValue;
  Redraw();
  MarkChanged("CHECK");
}

void MagicButton::SetValue(bool newValue) {
  value_ = newValue;
  if (check_box_behaviour_) RedrawUp();
  MarkChanged("VALUE");
}

QString MagicButton::Version() const { return QStringLiteral("2.0.6"); }

void MagicButton::DisableRefresh() { refresh_enabled_ = false; }

void MagicButton::Refresh() {
  if (look_.button_type == static_cast<int>(magicbutton::ButtonTypes::Transparent)) {
    CaptureBackground();
  }
  SetColors();
  CalcCaptionRect();
  refresh_enabled_ = true;
  Redraw();
}

void MagicButton::AmbientChanged() {
  if (look_.color_scheme == static_cast<int>(magicbutton::ColorSchemes::SchemeCustom)) return;
  SetColors();
  Redraw();
}

// --- Persistence ------------------------------------------------------------------------------

// Keys in their stored (lower-case) form, in the order they are written, with their defaults:
//   btype 2, tx "", enab True, font (the current font), coltype 1, focusr True,
//   bcol (system button face), bcolo (= bcol), fcol (system button text), fcolo (= fcol),
//   mcol 0xC0C0C0, mptr 0, micon none, picn none, pich (PictureOver) none, umcol True,
//   soft False, picpos 0, ngrey False, fx 0, hand False, check False, value False.
void MagicButton::ReadProperties(const gui::PropertyBag& bag) {
  look_.button_type = bag.ReadProperty<std::int32_t>("btype", 2);
  caption_ = QString::fromStdString(bag.ReadProperty<std::string>("tx", ""));
  look_.caption = caption_.toStdString();
  look_.enabled = bag.ReadProperty<bool>("enab", true);
  look_.font = gui::Font(bag.ReadProperty<gui::FontDesc>("font", Font()));
  look_.color_scheme = bag.ReadProperty<std::int32_t>("coltype", 1);
  look_.show_focus_rect = bag.ReadProperty<bool>("focusr", true);
  back_color_ = static_cast<gui::ColorRef>(
      bag.ReadProperty<std::int32_t>("bcol", Stored(gui::SystemColorRef(gui::SysColor::kBtnFace))));
  back_over_ =
      static_cast<gui::ColorRef>(bag.ReadProperty<std::int32_t>("bcolo", Stored(back_color_)));
  fore_color_ = static_cast<gui::ColorRef>(
      bag.ReadProperty<std::int32_t>("fcol", Stored(gui::SystemColorRef(gui::SysColor::kBtnText))));
  fore_over_ =
      static_cast<gui::ColorRef>(bag.ReadProperty<std::int32_t>("fcolo", Stored(fore_color_)));
  mask_color_ =
      static_cast<gui::ColorRef>(bag.ReadProperty<std::int32_t>("mcol", Stored(kDefaultMaskColor)));
  mouse_pointer_ = bag.ReadProperty<std::int32_t>("mptr", 0);
  mouse_icon_ = bag.ReadProperty<gui::Surface>("micon", gui::Surface()).image();
  picture_normal_ = bag.ReadProperty<gui::Surface>("picn", gui::Surface()).image();
  picture_over_ = bag.ReadProperty<gui::Surface>("pich", gui::Surface()).image();
  look_.use_mask_color = bag.ReadProperty<bool>("umcol", true);
  look_.soft_bevel = bag.ReadProperty<bool>("soft", false);
  look_.picture_position = bag.ReadProperty<std::int32_t>("picpos", 0);
  look_.use_greyscale = bag.ReadProperty<bool>("ngrey", false);
  look_.special_effect = bag.ReadProperty<std::int32_t>("fx", 0);
  // Loading a design is no change to it: the pointer follows, nothing is marked.
  if (bag.ReadProperty<bool>("hand", false)) {
    ApplyHandPointer(true);
  } else {
    ApplyPointer();
  }
  check_box_behaviour_ = bag.ReadProperty<bool>("check", false);
  value_ = bag.ReadProperty<bool>("value", false);

  setEnabled(look_.enabled);
  GetPictureSize();
  CalcCaptionRect();
  SetAccessKey();
}

void MagicButton::WriteProperties(gui::PropertyBag& bag) const {
  bag.WriteProperty("btype", look_.button_type);
  bag.WriteProperty("tx", caption_.toStdString());
  bag.WriteProperty("enab", look_.enabled);
  bag.WriteProperty("font", Font());
  bag.WriteProperty("coltype", look_.color_scheme);
  bag.WriteProperty("focusr", look_.show_focus_rect);
  bag.WriteProperty("bcol", Stored(back_color_));
  bag.WriteProperty("bcolo", Stored(back_over_));
  bag.WriteProperty("fcol", Stored(fore_color_));
  bag.WriteProperty("fcolo", Stored(fore_over_));
  bag.WriteProperty("mcol", Stored(mask_color_));
  bag.WriteProperty("mptr", mouse_pointer_);
  bag.WriteProperty("micon", StoredPicture(mouse_icon_, mask_color_));
  bag.WriteProperty("picn", StoredPicture(picture_normal_, mask_color_));
  bag.WriteProperty("pich", StoredPicture(picture_over_, mask_color_));
  bag.WriteProperty("umcol", look_.use_mask_color);
  bag.WriteProperty("soft", look_.soft_bevel);
  bag.WriteProperty("picpos", look_.picture_position);
  bag.WriteProperty("ngrey", look_.use_greyscale);
  bag.WriteProperty("fx", look_.special_effect);
  bag.WriteProperty("hand", hand_pointer_);
  bag.WriteProperty("check", check_box_behaviour_);
  bag.WriteProperty("value", value_);
}

// --- Palette, caption, pictures, geometry -----------------------------------------------------

void MagicButton::SetColors() {
  magicbutton::ColorSource source;
  source.color_scheme = look_.color_scheme;
  source.back_color = back_color_;
  source.fore_color = fore_color_;
  source.fore_over = fore_over_;
  source.mask_color = mask_color_;
  source.soft_bevel = look_.soft_bevel;
  source.button_type = look_.button_type;
  const QPalette& container = parentWidget() != nullptr ? parentWidget()->palette() : palette();
  source.container_back = ColorOf(container.color(QPalette::Window));
  source.container_text = ColorOf(container.color(QPalette::WindowText));
  palette_ = magicbutton::SetColors(source);
  if (look_.color_scheme == static_cast<int>(magicbutton::ColorSchemes::SchemeCustom)) {
    source.back_color = back_over_;
    over_palette_ = magicbutton::SetColors(source);
  } else {
    over_palette_ = palette_;
  }
}

void MagicButton::SetAccessKey() {
  if (access_key_id_ != 0) releaseShortcut(access_key_id_);
  access_key_id_ = 0;
  const QChar key = magicbutton::AccessKeyOf(caption_);
  if (key.isNull()) return;
  // Qt's key codes for printable Latin-1 characters are their upper-case code points.
  access_key_id_ = grabShortcut(QKeySequence(
      QKeyCombination(Qt::AltModifier, static_cast<Qt::Key>(key.toUpper().unicode()))));
}

void MagicButton::CalcCaptionRect() {
  magicbutton::CalcCaptionRect(look_.caption, look_.font, look_.picture_position,
                               !picture_normal_.isNull() || !picture_over_.isNull(), look_.width,
                               look_.height, &look_.layout);
}

void MagicButton::GetPictureSize() {
  look_.layout.PictureRect.width = picture_normal_.isNull() ? 0 : picture_normal_.width();
  look_.layout.PictureRect.height = picture_normal_.isNull() ? 0 : picture_normal_.height();
  PreparePictures();
}

void MagicButton::PreparePictures() {
  const gui::ColorRef mask = gui::TranslateColor(mask_color_);
  const int w = look_.layout.PictureRect.width;
  const int h = look_.layout.PictureRect.height;
  look_.picture_normal = magicbutton::PictureSource(picture_normal_, w, h, mask);
  look_.picture_over = magicbutton::PictureSource(picture_over_, w, h, mask);
}

void MagicButton::ApplyGeometry() {
  look_.width = width();
  look_.height = height();
  look_.FocusRect = magicbutton::FocusRectOf(look_.button_type, look_.width, look_.height);
  CalcCaptionRect();
  const QRegion region = magicbutton::BuildRegion(look_.button_type, look_.width, look_.height);
  if (region == QRegion(rect()) || region.isEmpty()) {
    clearMask();
  } else {
    setMask(region);
  }
  if (surface_.width() != look_.width || surface_.height() != look_.height) {
    surface_ = gui::Surface(look_.width, look_.height);
  }
}

void MagicButton::ResizeRoutine() {
  ApplyGeometry();
  if (look_.height != 0) RedrawUp();
}

void MagicButton::CaptureBackground() {
  QWidget* container = parentWidget();
  if (container == nullptr || memory_surface_.IsNull()) return;  // nothing to copy into
  // The container paints the area with this button left out: its paintEvent draws nothing
  // meanwhile, and it is not opaque, so the container's own pixels stay.
  capturing_background_ = true;
  container->render(&memory_surface_.MutableImage(), QPoint(0, 0), QRegion(geometry()),
                    QWidget::DrawWindowBackground | QWidget::DrawChildren);
  capturing_background_ = false;
}

void MagicButton::DrawButton(int state, bool forced) {
  if (check_box_behaviour_ && value_) state = 2;
  if (!forced && state == last_state_ && caption_ == last_caption_) return;
  // A hidden widget learns its new size only when shown; draw at the size it has now.
  if (look_.width != width() || look_.height != height()) ApplyGeometry();
  if (look_.height == 0 || !refresh_enabled_ || surface_.IsNull()) return;
  last_state_ = state;
  last_caption_ = caption_;
  look_.is_default = host_ != nullptr && host_->AmbientDisplayAsDefault(*this);
  look_.background = memory_surface_.IsNull() ? nullptr : &memory_surface_;
  // In the custom scheme a hovered button takes its whole palette from BackOver.
  const bool over_palette =
      look_.mouse_is_over &&
      look_.color_scheme == static_cast<int>(magicbutton::ColorSchemes::SchemeCustom);
  gui::Dc dc(surface_);
  magicbutton::PaintButton(look_, over_palette ? over_palette_ : palette_, state, dc);
  update();
}

// --- Events -----------------------------------------------------------------------------------

bool MagicButton::event(QEvent* event) {
  if (event->type() == QEvent::Shortcut &&
      static_cast<QShortcutEvent*>(event)->shortcutId() == access_key_id_ && access_key_id_ != 0) {
    press_button_ = 1;
    ClickHandling();
    return true;
  }
  return QWidget::event(event);
}

void MagicButton::paintEvent(QPaintEvent*) {
  // While the container is captured for the Transparent look, its pixels must show here.
  if (capturing_background_ || surface_.IsNull()) return;
  QPainter painter(this);
  painter.drawImage(QPoint(0, 0), surface_.image());
}

void MagicButton::resizeEvent(QResizeEvent*) { ResizeRoutine(); }

void MagicButton::showEvent(QShowEvent*) {
  if (look_.button_type == static_cast<int>(magicbutton::ButtonTypes::Transparent)) {
    if (memory_surface_.IsNull()) memory_surface_ = gui::Surface(width(), height());
    CaptureBackground();
  }
  refresh_enabled_ = true;
  SetColors();
  RedrawUp();
}

void MagicButton::hideEvent(QHideEvent*) { refresh_enabled_ = false; }

void MagicButton::changeEvent(QEvent* event) {
  // The container's colours reach scheme 4 through the palette Qt hands down.
  if (event->type() == QEvent::PaletteChange) AmbientChanged();
  QWidget::changeEvent(event);
}

bool MagicButton::IsMouseOver(const QPoint& position) const {
  if (!rect().contains(position)) return false;
  const QRegion region = mask();
  if (!region.isEmpty() && !region.contains(position)) return false;
  // Another widget on top of this one owns the point, as the window-from-point query says.
  const QWidget* top = window();
  if (top == this) return true;
  return top->childAt(mapTo(top, position)) == this;
}

void MagicButton::PointerLeft() {
  look_.mouse_is_over = false;
  RedrawUp();
  emit MouseOut();
}

void MagicButton::Press(short button, short shift, float x, float y) {
  emit MouseDown(button, shift, x, y);
  press_button_ = button & 0xFF;
  if (button != 2) DrawButton(2);
}

void MagicButton::ClickHandling() {
  if (press_button_ != 1 || !look_.enabled) return;
  if (check_box_behaviour_) value_ = !value_;
  RedrawUp();
  repaint();  // the new look is on the screen before the handlers run
  emit Click();
}

void MagicButton::mousePressEvent(QMouseEvent* event) {
  button_held_ = true;
  const QPointF at = event->position();
  Press(ButtonsOf(event->button()), ShiftOf(event->modifiers()), static_cast<float>(at.x()),
        static_cast<float>(at.y()));
}

void MagicButton::mouseMoveEvent(QMouseEvent* event) {
  short button = ButtonsOf(event->buttons());
  short shift = ShiftOf(event->modifiers());
  float x = static_cast<float>(event->position().x());
  float y = static_cast<float>(event->position().y());
  emit MouseMove(button, shift, x, y);
  const bool over = IsMouseOver(event->position().toPoint());
  if (button < 2) {
    if (over && button == 0 && !look_.mouse_is_over) {
      look_.mouse_is_over = true;
      RedrawUp();
      emit MouseOver();
    } else if (over && button == 1) {
      // The pressed look of a hovered button; whether the pointer counts as over it (for hover
      // events and the hot look after the release) does not change.
      const bool was_over = std::exchange(look_.mouse_is_over, true);
      DrawButton(2);
      look_.mouse_is_over = was_over;
    } else if (!over) {
      DrawButton(0);
    }
  }
  // Moves keep coming while a mouse button holds the pointer captured: the exit shows here.
  if (!over && look_.mouse_is_over) PointerLeft();
}

void MagicButton::mouseReleaseEvent(QMouseEvent* event) {
  button_held_ = event->buttons() != Qt::NoButton;
  short button = ButtonsOf(event->button());
  short shift = ShiftOf(event->modifiers());
  float x = static_cast<float>(event->position().x());
  float y = static_cast<float>(event->position().y());
  emit MouseUp(button, shift, x, y);
  if (button != 2) DrawButton(0);
  const bool after_double_click = std::exchange(double_click_press_, false);
  // The platform's click: a press and release over the button; a double click raises none.
  if (!after_double_click && IsMouseOver(event->position().toPoint())) ClickHandling();
}

void MagicButton::mouseDoubleClickEvent(QMouseEvent*) {
  // The platform reports the second press of a double click as a double click instead of a
  // press: it presses (reporting zero coordinates to MouseDown), and its release clicks
  // nothing. The implicit grab brings that release back here. Should the press itself have
  // arrived already, it has done the pressing.
  double_click_press_ = true;
  if (press_button_ == 1 && !button_held_) Press(1, 0, 0.0F, 0.0F);
}

void MagicButton::leaveEvent(QEvent* event) {
  if (look_.mouse_is_over) PointerLeft();
  QWidget::leaveEvent(event);
}

void MagicButton::keyPressEvent(QKeyEvent* event) {
  short key_code = KeyCodeOf(*event);
  short shift = ShiftOf(event->modifiers());
  emit KeyDown(key_code, shift);
  last_key_down_ = key_code & 0xFF;
  switch (key_code) {
    case kSpace:
      DrawButton(2);
      break;
    case 37:  // Left
    case 38:  // Up
      focusNextPrevChild(false);
      break;
    case 39:  // Right
    case 40:  // Down
      focusNextPrevChild(true);
      break;
    default:
      event->ignore();  // the window may want it (Enter, Escape)
      break;
  }
  const QString text = event->text();
  if (!text.isEmpty() && text.front().unicode() < 256) {
    short key_ascii = static_cast<short>(text.front().unicode());
    emit KeyPress(key_ascii);
  }
}

void MagicButton::keyReleaseEvent(QKeyEvent* event) {
  // An auto-repeated key is released only once, at its end.
  if (event->isAutoRepeat()) return;
  short key_code = KeyCodeOf(*event);
  short shift = ShiftOf(event->modifiers());
  emit KeyUp(key_code, shift);
  if (key_code != kSpace || last_key_down_ != kSpace) {
    event->ignore();
    return;
  }
  if (check_box_behaviour_) value_ = !value_;
  DrawButton(0);
  repaint();
  emit Click();
}

void MagicButton::focusInEvent(QFocusEvent*) {
  look_.has_focus = true;
  DrawButton(last_state_, true);
}

void MagicButton::focusOutEvent(QFocusEvent*) {
  look_.has_focus = false;
  DrawButton(last_state_, true);
}

void MagicButton::MarkChanged(const char* name) {
  if (host_ != nullptr) host_->PropertyChanged(name);
}

bool MagicButton::DesignTime() const { return host_ != nullptr && !host_->UserMode(); }
