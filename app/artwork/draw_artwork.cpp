// mendra-artwork OUTDIR: draws the program's pictures as PNG files. Run by hand when the artwork
// changes; its output is kept beside this file and built into mendra.
//
// One mark throughout: a disc in dark blue with its tracks, a chipped sector (the damage), and an
// orange block lifted out of it (what the copy rescues).
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor kOrange(228, 101, 1);
const QColor kBlue(23, 52, 81);
const QColor kDeepBlue(13, 31, 50);
const QColor kTrack(64, 98, 132);
const QColor kMist(196, 211, 226);
const QColor kSlate(84, 104, 126);

QFont Sans(int pixels, bool bold) {
  QFont font(QStringLiteral("Liberation Sans"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

// The mark in the square `box`, over `behind`. Below 32 pixels the tracks and the chip are left
// out: they would only blur. Over a dark ground the disc gets a pale rim, or it would sink in.
void DrawMark(QPainter& painter, const QRectF& box, const QColor& behind,
              bool dark_ground = false) {
  const double size = box.width();
  const bool detailed = size >= 32;
  const QPointF centre = box.topLeft() + QPointF(size * 0.44, size * 0.44);
  const double radius = size * 0.42;

  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);

  QRadialGradient face(centre - QPointF(radius * 0.35, radius * 0.35), radius * 1.4);
  face.setColorAt(0, kBlue.lighter(135));
  face.setColorAt(1, kBlue);
  painter.setBrush(face);
  if (dark_ground) painter.setPen(QPen(QColor(196, 211, 226, 150), size / 32.0));
  painter.drawEllipse(centre, radius, radius);

  if (detailed) {
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(kTrack, size / 48.0));
    for (const double track : {0.80, 0.62}) {
      painter.drawEllipse(centre, radius * track, radius * track);
    }
    // The chipped sector: a notch cut from the rim, in the colour behind the disc.
    QPainterPath chip;
    chip.moveTo(centre);
    chip.arcTo(QRectF(centre.x() - radius * 1.02, centre.y() - radius * 1.02, radius * 2.04,
                      radius * 2.04),
               118, 16);
    chip.closeSubpath();
    QPainterPath hub;
    hub.addEllipse(centre, radius * 0.5, radius * 0.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(behind);
    painter.drawPath(chip.subtracted(hub));
  }

  // The hub.
  painter.setPen(Qt::NoPen);
  painter.setBrush(kMist);
  painter.drawEllipse(centre, radius * 0.24, radius * 0.24);
  painter.setBrush(kBlue);
  painter.drawEllipse(centre, radius * 0.09, radius * 0.09);

  // The rescued block, set off from the disc by a ring in the colour behind it.
  const double block = size * 0.40;
  const QRectF block_box(box.right() - block - size * 0.02, box.bottom() - block - size * 0.02,
                         block, block);
  const double ring = qMax(1.0, size / 16.0);
  painter.setBrush(behind);
  painter.drawRoundedRect(block_box.adjusted(-ring, -ring, ring, ring), size * 0.09, size * 0.09);
  QLinearGradient glow(block_box.topLeft(), block_box.bottomLeft());
  glow.setColorAt(0, kOrange.lighter(118));
  glow.setColorAt(1, kOrange);
  painter.setBrush(glow);
  painter.drawRoundedRect(block_box, size * 0.06, size * 0.06);
  if (detailed) {
    // Three rows of data on the block.
    painter.setBrush(QColor(255, 255, 255, 190));
    const double row = block * 0.12;
    for (int i = 0; i < 3; ++i) {
      const double width = block * (i == 1 ? 0.44 : 0.60);
      painter.drawRect(QRectF(block_box.left() + block * 0.2,
                              block_box.top() + block * (0.24 + 0.2 * i), width, row));
    }
  }
  painter.restore();
}

QImage Icon(int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setCompositionMode(QPainter::CompositionMode_Source);
  DrawMark(painter, QRectF(0, 0, size, size), Qt::transparent);
  return image;
}

// 290 x 55, at the top of the main and the About window, over their white background.
QImage Banner() {
  QImage image(290, 55, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  DrawMark(painter, QRectF(10, 6, 40, 40), Qt::white);

  painter.setPen(kBlue);
  painter.setFont(Sans(26, true));
  painter.drawText(QPointF(60, 31), QStringLiteral("Mendra"));
  const double word = painter.fontMetrics().horizontalAdvance(QStringLiteral("Mendra"));
  painter.setPen(kOrange);
  painter.setFont(Sans(15, true));
  painter.drawText(QPointF(60 + word + 3, 19), QStringLiteral("2"));

  painter.setPen(kSlate);
  painter.setFont(Sans(11, false));
  painter.drawText(QPointF(61, 45), QStringLiteral("Rescues what can still be read"));

  painter.fillRect(QRectF(60, 50, 44, 2), kOrange);
  painter.fillRect(QRectF(104, 50.5, 178, 1), QColor(214, 221, 229));
  return image;
}

// 300 x 200, the whole splash window. Its bottom band holds the splash's progress bar
// (y 183 to 196), so it stays plain.
QImage Splash() {
  QImage image(300, 200, QImage::Format_RGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  QLinearGradient sky(0, 0, 0, 200);
  sky.setColorAt(0, kBlue.lighter(112));
  sky.setColorAt(1, kDeepBlue);
  painter.fillRect(image.rect(), sky);

  // A faint echo of the tracks behind the mark.
  painter.setPen(QPen(QColor(255, 255, 255, 14), 1.5));
  for (int r = 40; r <= 150; r += 22) painter.drawEllipse(QPointF(150, 62), r, r);

  painter.fillRect(QRectF(0, 176, 300, 24), kDeepBlue);
  painter.fillRect(QRectF(0, 175, 300, 1), kOrange);

  // The block's ring and the chip take the sky's own colour where they fall.
  DrawMark(painter, QRectF(118, 22, 64, 64), image.pixelColor(170, 72), true);

  painter.setPen(Qt::white);
  painter.setFont(Sans(28, true));
  const QString name = QStringLiteral("Mendra");
  const double word = painter.fontMetrics().horizontalAdvance(name);
  const double left = 150 - (word + 16) / 2;
  painter.drawText(QPointF(left, 126), name);
  painter.setPen(kOrange);
  painter.setFont(Sans(17, true));
  painter.drawText(QPointF(left + word + 3, 112), QStringLiteral("2"));

  painter.setPen(kMist);
  painter.setFont(Sans(12, false));
  painter.drawText(QRectF(0, 136, 300, 18), Qt::AlignHCenter,
                   QStringLiteral("Rescues what can still be read"));
  painter.setPen(QColor(140, 160, 182));
  painter.setFont(Sans(10, false));
  painter.drawText(QRectF(0, 156, 300, 14), Qt::AlignHCenter,
                   QStringLiteral("block by block, at every readable offset"));
  return image;
}

bool Save(const QImage& image, const QString& path) {
  if (image.save(path, "PNG")) return true;
  std::fprintf(stderr, "mendra-artwork: cannot write %s\n", qPrintable(path));
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: mendra-artwork OUTDIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "mendra-artwork: cannot make %s\n", argv[1]);
    return 1;
  }
  bool ok = Save(Banner(), out.filePath(QStringLiteral("banner.png")));
  ok = Save(Splash(), out.filePath(QStringLiteral("splash.png"))) && ok;
  for (const int size : {16, 24, 32, 48}) {
    ok = Save(Icon(size), out.filePath(QStringLiteral("icon-%1.png").arg(size))) && ok;
  }
  return ok ? 0 : 1;
}
