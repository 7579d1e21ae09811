// frmMain: the program's working window. The user picks a source and a target file and a buffer
// size, starts the copy worker with Copy, watches the bar, the target's size and the time
// remaining, and stops the worker with STOP (the Copy button's caption while a job runs).
//
// A job is watched two ways: the progress channel (Status and Percent, read every 100 ms by SC
// and every 500 ms by ETAT) and the worker's process itself. "Finished" ends the job only once
// the worker this job started has exited having written it; a worker that ends any other way
// brings the window back to idle with a message quoting the worker's own reason.
//
// The window is idle when buttonCopy reads "Copy" and copying when it reads "STOP".
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/copy_launcher.h"
#include "app/services.h"
#include "app/timeremain.h"
#include "platform/core/settings_store.h"
#include "platform/gui/surface.h"

class Brain;
class MagicButton;
class QComboBox;
class QLabel;
class QLineEdit;
class XP_ProgressBar;

class frmMain : public QWidget {
  Q_OBJECT

 public:
  // The window with its controls in their first state; the worker is looked for in
  // `program_folder`. `services` must outlive the window.
  frmMain(Services& services, QString program_folder);
  ~frmMain() override;

  // The start-up, before the window is first shown: when the worker is missing from the program's
  // folder (or empty), the "Error" message, the program is ended and the result is false;
  // otherwise InitBrain fills the buffer-size lookup and selects the default, and the result is
  // true.
  bool Load();

  // The handlers, as the controls and timers call them.
  void B1_Click();
  void B2_Click();
  void buttonCopy_Click();
  void buttonExit_Click();
  void btnAbout_Click();
  void SC_Timer();
  void ETAT_Timer();

  // The window's controls, under the short names the program gives them.
  QLineEdit* SF() const { return sf_; }
  QLineEdit* TF() const { return tf_; }
  QComboBox* BS() const { return bs_; }
  MagicButton* B1() const { return b1_; }
  MagicButton* B2() const { return b2_; }
  MagicButton* buttonCopy() const { return button_copy_; }
  MagicButton* buttonExit() const { return button_exit_; }
  MagicButton* btnAbout() const { return btn_about_; }
  QLabel* SS() const { return ss_; }
  QLabel* TS() const { return ts_; }
  QLabel* IL() const { return il_; }
  QLabel* ET() const { return et_; }
  XP_ProgressBar* PB() const { return pb_; }
  const QTimer& SC() const { return sc_; }
  const QTimer& ETAT() const { return etat_; }
  CopyLauncher& launcher() { return launcher_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool Copying() const;
  // Enables or disables SF, TF, BS, B1 and B2 together.
  void SetInputsEnabled(bool enabled);
  void StartJob(const QString& source, const QString& target, qint32 bytes);
  // Back to idle as after STOP: timers off, Copy, inputs enabled, "Ready...".
  void EndJob();
  // Ends the job when its worker has ended: with the success message when it wrote "Finished"
  // and exited with status 0, else with the failure message. Whether the job ended.
  bool EndIfWorkerEnded();
  void FinishJob();
  void FailJob(const QString& why);
  void StopCopyng();
  // "Curent size: " and the size of the running (or last) job's target; unchanged when it cannot
  // be measured.
  void ShowTargetSize();
  std::string ChannelValue(std::string_view key) const;
  void Message(const QString& text, const QString& title,
               Services::Icon icon = Services::Icon::kExclamation);

  Services& services_;
  CopyLauncher launcher_;
  TimeRemain time_remain_;
  platform::SettingsStore channel_;
  gui::Surface background_;

  // Child widgets, owned by the window.
  QLineEdit* sf_;
  QLineEdit* tf_;
  QComboBox* bs_;
  MagicButton* b1_;
  MagicButton* b2_;
  MagicButton* btn_about_;
  MagicButton* button_copy_;
  MagicButton* button_exit_;
  QLabel* ss_;
  QLabel* ts_;
  QLabel* il_;
  QLabel* et_;
  XP_ProgressBar* pb_;
  Brain* brain_;
  QTimer sc_;
  QTimer etat_;

  // CD, the file dialog: the last file name it returned (or was started with).
  QString cd_file_name_;
  // The target of the running or last job, whose size TS shows.
  QString job_target_;
  // Counts job starts and ends: a handler that lets events run (StartWorker, the SC tick) sees
  // from it whether a STOP or Exit ended its job meanwhile.
  std::uint64_t job_ = 0;
};
