// PKill: starts the copy worker as a hidden child process, keeps its process id, and stops it.
//
// The worker is never signalled by its bare id: each start keeps a pidfd for the child, and an
// ended child is reaped (at once, through an event-loop watch on the pidfd, or at the latest by
// the next call here), so stopping a worker that has already ended signals nothing at all, even
// when the system has since given its id to another process. The worker's standard error is
// read as it comes (another event-loop watch), so the window can say why a worker failed.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/core/process.h"

// What the worker is started with: its program file, and its arguments, each received whole
// (blanks included; no shell and no quoting are involved).
struct WorkerCommand {
  QString program;
  QStringList arguments;
};

class PKill {
 public:
  enum class KillOutcome {
    kNoWorker,      // WorkerPid was 0: nothing to do
    kKilled,        // the running worker was sent SIGKILL
    kAlreadyEnded,  // the worker had ended by itself: no signal was sent
    kFailed,        // the signal could not be sent (the error text says why)
  };

  PKill();
  // Stops watching; never stops a worker that still runs: closing the window lets it copy on.
  ~PKill();
  PKill(const PKill&) = delete;
  PKill& operator=(const PKill&) = delete;

  // The process id of the worker started last; 0 when there is none (none started yet, the last
  // start failed, or KillWorker has run since).
  qint32 WorkerPid() const;

  // Handles every waiting event first (QCoreApplication::processEvents), then starts `command`
  // and keeps its id. On failure returns false with *error set (for the window to show) and
  // WorkerPid is 0. A worker started earlier and still running is not stopped, only no longer
  // named by WorkerPid.
  bool StartWorker(const WorkerCommand& command, QString* error);

  // Does nothing when WorkerPid is 0. Otherwise sends SIGKILL to the worker if, and only if, that
  // very child still runs, and sets WorkerPid to 0 whatever the outcome. Does not wait for the
  // worker to go. `error` (may be null) receives the reason for kFailed.
  KillOutcome KillWorker(QString* error = nullptr);

  // How the worker named by WorkerPid ended: its wait status (as from waitpid; std::nullopt when
  // something else reaped it) and the last line it wrote to standard error (empty when none).
  struct WorkerEnd {
    std::optional<int> wait_status;
    QString reason;
  };
  // std::nullopt while that worker runs, and when there is none.
  std::optional<WorkerEnd> EndedWorker();

  // `ended` is called from the event loop as soon as the worker named by WorkerPid ends (not for
  // one that KillWorker has let go, nor one that a call here found ended first). It runs inside
  // the watch, so it must not start or stop workers: note the end, or queue what follows.
  void SetWorkerEnded(std::function<void()> ended) { worker_ended_ = std::move(ended); }

 private:
  struct Child;

  // Drops the children that have been reaped, except the one WorkerPid names.
  void ForgetEnded();

  std::function<void()> worker_ended_;
  std::unique_ptr<Child> worker_;
  // Workers no longer named by WorkerPid that had not been reaped yet (killed ones take a moment
  // to go); kept until they are, so none stays a zombie.
  std::vector<std::unique_ptr<Child>> earlier_;
};
