// progressbar-gallery OUTDIR: renders every look of XP_ProgressBar into PNG files for a person
// to look at.
//
//   look<Scrolling>-<percent>-<h|v>.png  200 x 20 (20 x 200 vertical), caption on, colour
//                                        RGB(228, 101, 1), BrushStyle 4, the main window's image
//   main-<percent>.png                   the main window's bar: 267 x 11, Gradient, caption off
// Exit status: 0 when every file was written, 1 when one could not be, 2 on a wrong command line.
#include <QApplication>
#include <QDir>
#include <QString>

#include <array>
#include <cstdio>

#include "controls/progressbar_looks.h"
#include "controls/xp_progressbar.h"
#include "platform/gui/color.h"
#include "platform/gui/dc.h"
#include "platform/gui/surface.h"

namespace {

constexpr std::array<int, 4> kPercents = {0, 6, 50, 100};

// What the bar shows on screen: the width x height corner of its buffer.
bool Save(XP_ProgressBar& bar, const QDir& dir, const QString& name) {
  gui::Surface shot(bar.width(), bar.height());
  gui::Dc dc(shot);
  bar.pDraw(dc, 0, 0, bar.width(), bar.height());
  const QString path = dir.filePath(name);
  if (!shot.image().save(path, "PNG")) {
    std::fprintf(stderr, "progressbar-gallery: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: progressbar-gallery OUTDIR\n");
    return 2;
  }
  // Rendering needs no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "progressbar-gallery: cannot create %s\n", argv[1]);
    return 1;
  }
  const gui::Surface image = progressbar::GreyGradientImage();
  const gui::FontDesc arial{"Arial", 8.25};
  bool ok = true;

  for (int look = 0; look <= 9; ++look) {
    for (const int percent : kPercents) {
      for (const bool vertical : {false, true}) {
        XP_ProgressBar bar;
        bar.resize(vertical ? 20 : 200, vertical ? 200 : 20);
        bar.SetHdc();
        bar.SetFont(arial);
        bar.SetColor(gui::Rgb(228, 101, 1));
        bar.SetBrushStyle(4);
        bar.SetImage(image);
        bar.SetOrientation(vertical ? 1 : 0);
        bar.SetScrolling(look);
        bar.SetShowText(true);
        bar.SetValue(percent);
        ok &= Save(
            bar, dir,
            QStringLiteral("look%1-%2-%3.png").arg(look).arg(percent).arg(vertical ? 'v' : 'h'));
      }
    }
  }

  for (const int percent : kPercents) {
    XP_ProgressBar bar;
    bar.resize(267, 11);
    bar.SetHdc();
    bar.SetFont(arial);
    bar.SetColor(gui::Rgb(228, 101, 1));
    bar.SetBrushStyle(0);
    bar.SetImage(image);
    bar.SetScrolling(5);
    bar.SetValue(percent);
    ok &= Save(bar, dir, QStringLiteral("main-%1.png").arg(percent));
  }
  return ok ? 0 : 1;
}
