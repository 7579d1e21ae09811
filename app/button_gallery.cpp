// button-gallery OUTDIR: renders MagicButton's looks into PNG files for a person to look at.
// Every image is 75 x 23 with the caption "&Copy"; pixels outside the window region are fully
// transparent, all others opaque.
//
//   type<T>-<state>.png          T = 0..15 in the configuration of the program's Copy button
//                                (ButtonDesign in app/forms.h: scheme 2, white, hover
//                                RGB(224, 224, 224), text black, hover text RGB(9, 119, 255),
//                                soft bevel, shadow effect, Arial 8.25 pt)
//   system-type<T>-<state>.png   the same types as a new button has them (system colours,
//                                focus rectangle on, no soft bevel, no effect)
//   picture<P>-type<T>-<state>.png  PicturePosition P = 0..4 for T = 3, 5, 9, 14 with a 16 x 16
//                                picture (red, white centre, a border in the mask colour)
//   picture0-type14-grey.png     the up state with UseGreyscale
// States: up (pointer elsewhere), hot (pointer over it), down (pressed under the pointer),
// disabled, focus (the focus rectangle shown, pointer elsewhere; not for pictures).
// Exit status: 0 when every file was written, 1 when one could not be, 2 on a wrong command line.
#include <QApplication>
#include <QDir>
#include <QFocusEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <cstdio>
#include <memory>

#include "app/forms.h"
#include "controls/magicbutton.h"

namespace {

constexpr const char* kStates[] = {"up", "hot", "down", "disabled", "focus"};

QImage TestPicture() {
  QImage picture(16, 16, QImage::Format_RGB32);
  picture.fill(QColor(192, 192, 192));
  for (int y = 2; y < 14; ++y)
    for (int x = 2; x < 14; ++x) {
      const bool centre = x >= 6 && x <= 9 && y >= 6 && y <= 9;
      picture.setPixelColor(x, y, centre ? QColor(255, 255, 255) : QColor(255, 0, 0));
    }
  return picture;
}

void SendMouse(MagicButton& b, QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held) {
  const QPointF centre(b.width() / 2.0, b.height() / 2.0);
  QMouseEvent event(type, centre, b.mapToGlobal(centre), button, held, Qt::NoModifier);
  QApplication::sendEvent(&b, &event);
}

// Brings the button into `state` the way a user would.
void Enter(MagicButton& b, const QString& state) {
  if (state == "hot" || state == "down") SendMouse(b, QEvent::MouseMove, Qt::NoButton, {});
  if (state == "down") SendMouse(b, QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton);
  if (state == "disabled") b.SetEnabled(false);
  if (state == "focus") {
    b.SetShowFocusRect(true);
    QFocusEvent focus(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(&b, &focus);
  }
}

bool Save(const MagicButton& b, const QDir& dir, const QString& name) {
  QImage shot = b.surface().image().convertToFormat(QImage::Format_ARGB32);
  const QRegion region = b.mask().isEmpty() ? QRegion(b.rect()) : b.mask();
  for (int y = 0; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x)
      if (!region.contains(QPoint(x, y))) shot.setPixel(x, y, 0);
  const QString path = dir.filePath(name);
  if (!shot.save(path, "PNG")) {
    std::fprintf(stderr, "button-gallery: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

// A fresh button on the container, configured, shown and brought into its state.
std::unique_ptr<MagicButton> Make(QWidget& container, int type, bool program, const QImage& picture,
                                  int position) {
  auto b = std::make_unique<MagicButton>(&container);
  b->setGeometry(10, 10, 75, 23);
  if (program) {
    b->ReadProperties(ButtonDesign(QStringLiteral("&Copy"), kCopyHoverText, true));
  } else {
    b->SetFont({"Arial", 8.25});
    b->SetCaption(QStringLiteral("&Copy"));
  }
  b->SetPictureNormal(picture);
  b->SetPicturePosition(position);
  b->SetButtonType(type);
  b->show();
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: button-gallery OUTDIR\n");
    return 2;
  }
  // Rendering needs no display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "button-gallery: cannot create %s\n", argv[1]);
    return 1;
  }
  // A container with a visible background, so that the Transparent look has something to show.
  QWidget container;
  container.resize(95, 43);
  QLinearGradient shade(0, 0, 95, 43);
  shade.setColorAt(0, QColor(236, 233, 216));
  shade.setColorAt(1, QColor(166, 202, 240));
  QPalette palette = container.palette();
  palette.setBrush(QPalette::Window, shade);
  container.setPalette(palette);
  container.setAutoFillBackground(true);
  container.show();

  bool ok = true;
  for (const bool program : {true, false}) {
    for (int type = 0; type <= 15; ++type) {
      for (const char* state : kStates) {
        const auto b = Make(container, type, program, QImage(), 0);
        Enter(*b, QString::fromLatin1(state));
        ok &= Save(*b, dir,
                   QStringLiteral("%1type%2-%3.png")
                       .arg(program ? "" : "system-")
                       .arg(type)
                       .arg(QString::fromLatin1(state)));
      }
    }
  }
  const QImage picture = TestPicture();
  for (int position = 0; position <= 4; ++position) {
    for (const int type : {3, 5, 9, 14}) {
      for (const char* state : {"up", "hot", "down", "disabled"}) {
        const auto b = Make(container, type, true, picture, position);
        Enter(*b, QString::fromLatin1(state));
        ok &= Save(*b, dir,
                   QStringLiteral("picture%1-type%2-%3.png")
                       .arg(position)
                       .arg(type)
                       .arg(QString::fromLatin1(state)));
      }
    }
  }
  const auto grey = Make(container, 14, true, picture, 0);
  grey->SetUseGreyscale(true);
  ok &= Save(*grey, dir, QStringLiteral("picture0-type14-grey.png"));
  return ok ? 0 : 1;
}
