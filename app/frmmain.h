// frmMain: the program's working window. The user picks a source and a target file and a buffer
// size, starts the copy worker with Copy, watches the bar, the target's size and the time
// remaining, and stops the worker with STOP (the Copy button's caption while a job runs).
//
// A job is watched two ways: the progress channel (Status and Percent, read every 100 ms by SC
// and every 500 ms by ETAT) and the worker's process itself. "Finished" ends the job only once
// the worker this job started has exited having written it; a worker that ends any other way
// brings the window back to idle with a message quoting the worker's own reason.
//
// The window's state (idle, copying, retrying) and the job it follows are members; the Copy
// button's caption, the inputs and the status line follow them.
//
// A job shows only what its own worker writes: Percent is emptied in the progress channel before
// the worker starts. A target that already holds bytes but no map of this source (vrel keeps it
// beside the target) is not our own stopped rescue: Copy asks whether to resume after its bytes or
// start over. A target that holds the whole source and whose map lists areas left to read is
// retried: the bar then follows the worker through those areas. A finished job whose map lists
// unreadable areas says how much was lost and offers the Rescue Map window.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/copy_launcher.h"
#include "app/services.h"
#include "app/timeremain.h"
#include "platform/core/rescue_map.h"
#include "platform/core/settings_store.h"
#include "platform/gui/surface.h"

class Brain;
class MagicButton;
class QComboBox;
class QLabel;
class QLineEdit;
class XP_ProgressBar;
class frmMap;

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
  // Opens the "Rescue Map" window on the map of the target in TF (or raises it).
  void btnMap_Click();
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
  MagicButton* btnMap() const { return btn_map_; }
  // The map window, once opened.
  frmMap* MapWindow() const { return map_window_; }
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
  enum class JobState { kIdle, kCopying, kRetrying };

  // How far the running job has come, from the position the worker reports.
  struct JobProgress {
    std::int64_t source_size = 0;
    std::int64_t start = 0;                      // bytes the target held at the start
    std::vector<platform::MapArea> retry_areas;  // the areas a retry pass reads; empty otherwise
    std::int64_t retry_bytes = 0;

    // The retry's share done, in percent, with the worker at `percent` of the source; for a
    // copy, `percent` itself.
    double Bar(double percent) const;
    // The share of this job's own work done (what the target held at the start is not), in
    // percent from 0 to 100.
    double Own(double percent) const;
  };

  bool Copying() const { return state_ != JobState::kIdle; }
  // The caption, the inputs and the status line follow the state.
  void SetState(JobState state);
  // Enables or disables SF, TF, BS, B1 and B2 together.
  void SetInputsEnabled(bool enabled);
  // Refuses a target that is the source (also through another name for the same file). Whether
  // it was refused.
  bool RefuseSameFile(const QString& source, const QString& target);
  // For a target that holds bytes but no map of this source: asks whether to resume after them,
  // start over (emptying it) or cancel. Fills *progress for the job. False when the copy must not
  // start.
  bool PrepareTarget(const QString& source, const QString& target, JobProgress* progress);
  void StartJob(const QString& source, const QString& target, qint32 bytes, JobProgress progress);
  // Back to idle: timers off, Copy, inputs enabled, "Ready...".
  void EndJob();
  // After STOP or a failure: the target's real size, and no estimate.
  void ShowStoppedNumbers();
  // Ends the job when its worker has ended: with the success message when it wrote "Finished"
  // and exited with status 0, else with the failure message. Whether the job ended.
  bool EndIfWorkerEnded();
  void FinishJob();
  void FailJob(const QString& why);
  void StopCopyng();
  // "Curent size: " and the size of the running (or last) job's target; unchanged when it cannot
  // be measured.
  void ShowTargetSize();
  // The Percent the job's own worker wrote; std::nullopt before its first write and when the
  // text is no number.
  std::optional<double> JobPercent() const;
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
  MagicButton* btn_map_;
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

  frmMap* map_window_ = nullptr;  // opened on demand; the window owns it

  // CD, the file dialog: the last file name it returned (or was started with).
  QString cd_file_name_;

  JobState state_ = JobState::kIdle;
  // Counts job starts and ends: a handler that lets events run (StartWorker, the SC tick) sees
  // from it whether a STOP or Exit ended its job meanwhile.
  std::uint64_t job_ = 0;
  // The source and target of the running or last job; TS shows the target's size.
  QString job_source_;
  QString job_target_;
  JobProgress progress_;
};
