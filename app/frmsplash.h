// frmSplash: the window the program opens with. Its bar fills in about two and a half seconds
// (UT ticks every 25 ms); then the splash hides and hands over to the main window.
#pragma once

#include <QTimer>
#include <QWidget>

#include <functional>

#include "platform/gui/surface.h"

class XP_ProgressBar;

class frmSplash : public QWidget {
  Q_OBJECT

 public:
  // A borderless window centred on the screen, not in the task bar; UT runs from now on.
  // `show_main` opens the main window once the bar is full.
  explicit frmSplash(std::function<void()> show_main);
  ~frmSplash() override;

  // One tick: a full bar hides the splash, stops UT and calls show_main; otherwise the bar's
  // value, as read back, grows by 2. The bar keeps whole percents of its Max of 300, so the
  // value read back grows by 3: the bar is full after 100 ticks, and the 101st hands over.
  void UT_Timer();

  XP_ProgressBar* PB() const { return pb_; }
  const QTimer& UT() const { return ut_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  gui::Surface background_;
  XP_ProgressBar* pb_;
  QTimer ut_;
  std::function<void()> show_main_;
};
