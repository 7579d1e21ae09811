// frmAbout: the modal About window, opened by the main window's About button. It names the
// program's makers and links to the installed README; Close, Escape or the title bar closes it,
// and it deletes itself then.
#pragma once

#include <QUrl>
#include <QWidget>

#include "app/services.h"
#include "platform/gui/surface.h"

class MagicButton;
class QLabel;

class frmAbout : public QWidget {
  Q_OBJECT

 public:
  // A tool window over `parent`, modal for the whole program. `services` must outlive it.
  frmAbout(Services& services, QWidget* parent);

  // Opens the link's address with the desktop's opener; the window stays open. When nothing can
  // open it, an exclamation message says so.
  void lblUrl_Click();

  QLabel* lblUrl() const { return lbl_url_; }
  MagicButton* buttonExit() const { return button_exit_; }
  // The address the link opens: the README installed beside the programs.
  static QUrl LinkAddress();

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Services& services_;
  gui::Surface background_;
  QLabel* lbl_url_;
  MagicButton* button_exit_;
};
