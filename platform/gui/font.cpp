#include "platform/gui/font.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>

#include "platform/core/number_text.h"

namespace gui {

namespace {

bool SameName(const std::string& a, const char* b) {
  return QString::fromStdString(a).compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

// Families to try, best first. The designs name fonts that may not be installed here;
// Liberation Sans has Arial's metrics and is also the nearest match for the bitmap
// "MS Sans Serif".
QStringList FamiliesFor(const std::string& name) {
  if (SameName(name, "Arial") || SameName(name, "MS Sans Serif") ||
      SameName(name, "Microsoft Sans Serif") || SameName(name, "Tahoma")) {
    return {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
            QString::fromStdString(name), QStringLiteral("DejaVu Sans")};
  }
  if (SameName(name, "Times New Roman")) {
    return {QStringLiteral("Liberation Serif"), QString::fromStdString(name)};
  }
  if (SameName(name, "Courier New")) {
    return {QStringLiteral("Liberation Mono"), QString::fromStdString(name)};
  }
  return {QString::fromStdString(name), QStringLiteral("Liberation Sans")};
}

int PixelSize(double points) {
  // Points at 96 dpi, the em height the font mapper is asked for; at least one pixel.
  const double px = platform::RoundHalfEven(std::abs(points) * 96.0 / 72.0);
  if (!(px >= 1.0)) return 1;  // also a size that is not a number
  return static_cast<int>(std::min(px, 4096.0));
}

}  // namespace

Font::Font() : Font(FontDesc{}) {}

Font::Font(const FontDesc& desc) : desc_(desc) {
  qfont_.setFamilies(FamiliesFor(desc.name));
  qfont_.setStyleHint(QFont::SansSerif);
  qfont_.setPixelSize(PixelSize(desc.size));
  qfont_.setWeight(desc.bold ? QFont::Bold : QFont::Normal);
  qfont_.setItalic(desc.italic);
  qfont_.setUnderline(desc.underline);
  qfont_.setStrikeOut(desc.strikethrough);
  qfont_.setKerning(false);
  qfont_.setStyleStrategy(QFont::NoAntialias);
  qfont_.setHintingPreference(QFont::PreferFullHinting);
}

}  // namespace gui
