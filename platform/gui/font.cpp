#include "platform/gui/font.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>

#include "platform/gui/geometry.h"
#include "platform/gui/names.h"

namespace gui {

namespace {

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

// Points at 96 dpi, the em height the font mapper is asked for: at least one pixel (also for a
// size that is not a number), at most 4096.
int PixelSize(double points) {
  return std::clamp(RoundToInt(std::abs(points) * 96.0 / 72.0), 1, 4096);
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
