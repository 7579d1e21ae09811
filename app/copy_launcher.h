// The main window's entry points to the copy worker: StartCopy builds the worker's command for
// one copy and starts it through PKill; StopCopyng stops it. The window owns one CopyLauncher;
// its Exit button reaches KillWorker through pkill().
#pragma once

#include <QString>

#include "app/pkill.h"

// The worker's file name; it must lie in the program's own folder.
inline constexpr char kWorkerFileName[] = "vrel";

// `program_folder` + "/" + the worker's file name.
QString WorkerPath(const QString& program_folder);

// The command for one copy: the worker in `program_folder`, and the one argument text
// "<Sou>;<Tar>;<BS>" with nothing else between the pieces and BS as decimal text (0 asks for
// variable speed). Paths go in as they are, blanks included. Where a path holds ";", at which the
// worker splits that text, the three go as separate arguments instead:
// --source Sou --target Tar --block-size BS.
WorkerCommand CopyCommand(const QString& program_folder, const QString& Sou, const QString& Tar,
                          qint32 BS);

class CopyLauncher {
 public:
  // The worker is looked for in the folder of the running program.
  CopyLauncher();
  explicit CopyLauncher(QString program_folder);

  // Starts the worker copying `Sou` to `Tar` in blocks of `BS` bytes (0: variable speed). Returns
  // false with *error set, starting nothing, when a path is empty or BS is negative; and likewise
  // when the worker cannot be started (missing, not executable).
  bool StartCopy(const QString& Sou, const QString& Tar, qint32 BS, QString* error);

  // Stops the running worker (KillWorker).
  PKill::KillOutcome StopCopyng(QString* error = nullptr);

  PKill& pkill() { return pkill_; }
  const QString& program_folder() const { return program_folder_; }

 private:
  QString program_folder_;
  PKill pkill_;
};
