#include "app/frmsplash.h"

#include <QPainter>

#include <utility>

#include "app/forms.h"
#include "controls/xp_progressbar.h"

frmSplash::frmSplash(std::function<void()> show_main)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint),
      show_main_(std::move(show_main)) {
  setFixedSize(TwipsToPixels(4500), TwipsToPixels(3000));
  background_ = PaintBackground(size(), gui::Rgb(255, 128, 128), SplashPicture(), {});
  pb_ = new XP_ProgressBar(this);  // NOLINT(cppcoreguidelines-owning-memory): parent owns
  pb_->setGeometry(TwipsRect(135, 2745, 4245, 195));
  pb_->ReadProperties(SplashBarDesign());
  CentreOnScreen(*this);
  ut_.setInterval(25);
  ut_.setTimerType(Qt::PreciseTimer);
  connect(&ut_, &QTimer::timeout, this, &frmSplash::UT_Timer);
  ut_.start();
}

frmSplash::~frmSplash() = default;

void frmSplash::UT_Timer() {
  if (pb_->Value() == pb_->Max()) {
    hide();
    ut_.stop();
    show_main_();
    return;
  }
  pb_->SetValue(pb_->Value() + 2);
}

void frmSplash::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(0, 0, background_.image());
}
