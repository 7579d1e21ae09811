// Fonts: a description that windows persist (name, size in points, style) and the font that
// the drawing layer realises from it.
#pragma once

#include <QFont>

#include <string>

namespace gui {

struct FontDesc {
  std::string name = "MS Sans Serif";
  double size = 8.25;  // points
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strikethrough = false;

  friend bool operator==(const FontDesc&, const FontDesc&) = default;
};

// A realised font. Sizes become whole pixels at 96 dots per inch (8.25 pt -> 11 px em height).
// Names that are not installed here map to their metric twins ("Arial" -> Liberation Sans) or
// the closest sans. Text is drawn without smoothing and without kerning, so every glyph pixel
// has exactly the text colour and widths are plain sums of advances.
class Font {
 public:
  // The default font (FontDesc's defaults).
  Font();
  explicit Font(const FontDesc& desc);

  const FontDesc& desc() const { return desc_; }
  const QFont& qfont() const { return qfont_; }
  // Em height in pixels.
  int pixel_size() const { return qfont_.pixelSize(); }

 private:
  FontDesc desc_;
  QFont qfont_;
};

}  // namespace gui
