// Text for the device context: measured and drawn with Qt, laid out by the platform's rules.
#include <QColor>
#include <QFontMetrics>
#include <QPainter>
#include <QRect>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/gui/dc.h"

namespace gui {

namespace {

using i64 = std::int64_t;

// The text as shown, with the positions of characters that followed a single "&".
struct ShownText {
  QString text;
  std::vector<bool> prefixed;
};

ShownText StripPrefixes(const QString& in) {
  ShownText out;
  out.text.reserve(in.size());
  for (qsizetype i = 0; i < in.size(); ++i) {
    const QChar c = in[i];
    bool marked = false;
    if (c == u'&' && i + 1 < in.size()) {
      ++i;  // "&&" shows one "&"; "&x" shows x underlined; a final lone "&" shows as it is
      marked = in[i] != u'&';
    }
    out.text.append(in[i]);
    out.prefixed.push_back(marked);
  }
  return out;
}

struct TextLine {
  qsizetype begin = 0;
  qsizetype end = 0;
};

bool IsBreak(QChar c) { return c == u'\n' || c == u'\r'; }

// Greedy word wrap of [begin, end): words go on a line while it stays within max_width; the
// first word of a line stays even when it alone is wider. Blanks where a line breaks belong to
// neither line.
void WrapParagraph(const QString& text, qsizetype begin, qsizetype end, i64 max_width,
                   const QFontMetrics& fm, std::vector<TextLine>* lines) {
  qsizetype pos = begin;
  do {
    qsizetype line_end = pos;
    while (line_end < end) {
      qsizetype j = line_end;
      while (j < end && text[j] == u' ') ++j;
      while (j < end && text[j] != u' ') ++j;
      const bool first_word = line_end == pos;
      if (!first_word && fm.horizontalAdvance(text.mid(pos, j - pos)) > max_width) break;
      line_end = j;
    }
    lines->push_back({pos, line_end});
    pos = line_end;
    while (pos < end && text[pos] == u' ') ++pos;
  } while (pos < end);
}

std::vector<TextLine> BreakLines(const QString& text, bool single_line, bool word_break,
                                 i64 max_width, const QFontMetrics& fm) {
  std::vector<TextLine> lines;
  if (single_line) {
    lines.push_back({0, text.size()});
    return lines;
  }
  qsizetype begin = 0;
  while (begin < text.size()) {
    qsizetype end = begin;
    while (end < text.size() && !IsBreak(text[end])) ++end;
    if (word_break) {
      WrapParagraph(text, begin, end, max_width, fm, &lines);
    } else {
      lines.push_back({begin, end});
    }
    // "\r\n" is one break.
    if (end < text.size() && text[end] == u'\r' && end + 1 < text.size() && text[end + 1] == u'\n')
      ++end;
    begin = end + 1;
  }
  return lines;
}

QColor ToQColor(ColorRef c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

}  // namespace

int Dc::DrawText(std::string_view text, Rect* rect, TextFormat format) {
  const QFontMetrics fm(font_.qfont());
  const int line_height = fm.height();
  const int ascent = fm.ascent();
  const bool single_line = Has(format, TextFormat::kSingleLine);
  const ShownText shown =
      StripPrefixes(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  const i64 left = rect->left;
  const i64 right = rect->right;
  const std::vector<TextLine> lines =
      BreakLines(shown.text, single_line, Has(format, TextFormat::kWordBreak), right - left, fm);

  const bool centred = single_line && Has(format, TextFormat::kVCenter);
  i64 y = rect->top;
  if (centred) y = rect->top + (i64{rect->bottom} - rect->top) / 2 - line_height / 2;
  const i64 text_height = static_cast<i64>(lines.size()) * line_height;
  const int result = Saturate(centred ? y + line_height - rect->top : text_height);

  if (Has(format, TextFormat::kCalcRect)) {
    i64 widest = 0;
    for (const TextLine& line : lines) {
      widest = std::max<i64>(
          widest, fm.horizontalAdvance(shown.text.mid(line.begin, line.end - line.begin)));
    }
    rect->right = Saturate(left + widest);
    rect->bottom = Saturate(i64{rect->top} + text_height);
    return result;
  }

  Surface& s = *surface_;
  const i64 clip_left = std::max(0, rect->left);
  const i64 clip_top = std::max(0, rect->top);
  const i64 clip_right = std::min(s.width(), rect->right);
  const i64 clip_bottom = std::min(s.height(), rect->bottom);
  if (clip_left >= clip_right || clip_top >= clip_bottom || lines.empty()) return result;

  QPainter painter(&s.MutableImage());
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  painter.setFont(font_.qfont());
  const QColor ink = ToQColor(text_color_);
  painter.setPen(ink);
  painter.setClipRect(QRect(static_cast<int>(clip_left), static_cast<int>(clip_top),
                            static_cast<int>(clip_right - clip_left),
                            static_cast<int>(clip_bottom - clip_top)));
  for (const TextLine& line : lines) {
    const QString part = shown.text.mid(line.begin, line.end - line.begin);
    const i64 width = fm.horizontalAdvance(part);
    const i64 x = Has(format, TextFormat::kCenter) ? (left + right - width) / 2 : left;
    const i64 line_y = y;
    y += line_height;
    // Lines wholly outside the clip (with a glyph's overhang to spare) are skipped; this also
    // keeps the coordinates within int.
    const i64 overhang = line_height;
    if (x - overhang >= clip_right || x + width + overhang <= clip_left || line_y >= clip_bottom ||
        line_y + line_height <= clip_top) {
      continue;
    }
    const int ix = static_cast<int>(x);
    const int iy = static_cast<int>(line_y);
    if (bk_mode_ == BkMode::kOpaque) {
      painter.fillRect(QRect(ix, iy, static_cast<int>(width), line_height), ToQColor(bk_color_));
    }
    painter.drawText(QPoint(ix, iy + ascent), part);
    // The access key: a one-pixel line under the first prefixed character of the line.
    for (qsizetype i = line.begin; i < line.end; ++i) {
      if (!shown.prefixed[static_cast<size_t>(i)]) continue;
      const int from = ix + fm.horizontalAdvance(part.left(i - line.begin));
      const int to = ix + fm.horizontalAdvance(part.left(i - line.begin + 1)) - 2;
      if (to >= from) painter.fillRect(QRect(from, iy + ascent + 1, to - from + 1, 1), ink);
      break;
    }
  }
  return result;
}

}  // namespace gui
