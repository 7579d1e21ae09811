#include "app/frmabout.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcut>

#include <array>

#include "app/forms.h"
#include "controls/magicbutton.h"

namespace {

const std::array<Outline, 5> kOutlines = {{
    {TwipsRect(90, 900, 4155, 3660), kOrange},     // Shape1, around all the text
    {TwipsRect(533, 1080, 3255, 420), kOrange},    // Shape2, the developer line
    {TwipsRect(1298, 1665, 1725, 1095), kOrange},  // Shape3, the rights block
    {TwipsRect(533, 2925, 3255, 420), kOrange},    // Shape4, the rights line
    {TwipsRect(308, 3465, 3705, 600), kOrange},    // Shape5, the link block
}};

gui::FontDesc Bold(double points) { return {"Arial", points, true}; }

// The rights block and the link block are centred on the window's middle, as their frames are.
constexpr Qt::Alignment kCentred = Qt::AlignHCenter | Qt::AlignTop;

constexpr gui::ColorRef kPaleBlue = gui::Rgb(105, 135, 190);

// Where the README lies relative to the programs, both when installed (<prefix>/bin beside
// <prefix>/share/doc/mendra) and in a build folder, which copies it to the same place.
constexpr char kReadmeFromPrograms[] = "/../share/doc/mendra/README.md";

}  // namespace

frmAbout::frmAbout(Services& services, QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      services_(services) {
  setWindowTitle(QStringLiteral("About Mendra2"));
  setWindowModality(Qt::ApplicationModal);
  setAttribute(Qt::WA_DeleteOnClose);
  setFixedSize(TwipsToPixels(4320), TwipsToPixels(5115));
  background_ = PaintBackground(size(), gui::Rgb(255, 255, 255), BannerPicture(), kOutlines);

  AddLabel(this, QStringLiteral("Developer:"), TwipsRect(713, 1125, 1260, 285),
           {Bold(12), kDarkBlue});
  AddLabel(this, QStringLiteral("Mendra Team"), TwipsRect(2018, 1170, 1590, 240),
           {Bold(9.75), kOrange});
  AddLabel(this, QStringLiteral("Copyright"), TwipsRect(1545, 1755, 1230, 285),
           {Bold(12), kDarkBlue, false, kCentred});
  AddLabel(this, QStringLiteral("Mendra Team"), TwipsRect(1575, 2115, 1170, 240),
           {Bold(9.75), kPaleBlue, false, kCentred});
  AddLabel(this, QStringLiteral("2025"), TwipsRect(1650, 2385, 1020, 240),
           {Bold(9.75), kPaleBlue, false, kCentred});
  AddLabel(this, QStringLiteral("All rights reserved."), TwipsRect(533, 2925, 3255, 420),
           {Bold(9.75), kDarkBlue, false, Qt::AlignCenter});
  AddLabel(this, QStringLiteral("For more informations and products visit:"),
           TwipsRect(435, 3510, 3450, 210), {Bold(8.25), gui::Rgb(0, 0, 0), false, kCentred});
  lbl_url_ =
      AddLabel(this, QStringLiteral("doc/mendra/README.md"), TwipsRect(1013, 3780, 2295, 210),
               {Bold(8.25), gui::Rgb(0, 0, 255), false, kCentred});
  lbl_url_->setCursor(Qt::PointingHandCursor);
  lbl_url_->setToolTip(LinkAddress().toString());
  lbl_url_->installEventFilter(this);

  button_exit_ = new MagicButton(this);  // NOLINT(cppcoreguidelines-owning-memory): parent owns
  button_exit_->setGeometry(TwipsRect(3060, 4680, 1155, 315));
  button_exit_->ReadProperties(ButtonDesign(QStringLiteral("Close"), gui::Rgb(192, 0, 0), true));
  connect(button_exit_, &MagicButton::Click, this, &QWidget::close);
  // Escape closes it too, as it closes any box of this kind.
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);  // NOLINT: parent owns
  connect(escape, &QShortcut::activated, this, &QWidget::close);

  CentreOnScreen(*this);
}

QUrl frmAbout::LinkAddress() {
  return QUrl::fromLocalFile(
      QDir::cleanPath(QCoreApplication::applicationDirPath() + QLatin1String(kReadmeFromPrograms)));
}

void frmAbout::lblUrl_Click() {
  const QUrl address = LinkAddress();
  if (!services_.OpenUrl(address)) {
    services_.MsgBox(this, QStringLiteral("Nothing could open %1").arg(address.toString()),
                     QStringLiteral("About Mendra2"), Services::Icon::kExclamation);
  }
}

void frmAbout::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, background_.image());
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lbl_url_ && event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    lblUrl_Click();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}
