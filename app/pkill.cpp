#include "app/pkill.h"

#include <QCoreApplication>
#include <QFile>
#include <QObject>
#include <QSocketNotifier>
#include <QStringList>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/file_io.h"

namespace {

std::string LocalPath(const QString& text) { return QFile::encodeName(text).toStdString(); }

QString ErrorText(int error) { return QString::fromStdString(platform::ErrorText(error)); }

}  // namespace

// One started worker and two watches: its pidfd turns readable when it ends, so the event loop
// reaps it at once instead of leaving a zombie until the next call here; its standard error is
// taken as it comes, so the worker never blocks on a full pipe.
struct PKill::Child {
  // `ended` is called with this child once the watch has seen it end.
  Child(platform::Process started, std::function<void(const Child*)> ended)
      : process(std::move(started)),
        end_watch(process.pidfd(), QSocketNotifier::Read),
        error_watch(process.stderr_fd(), QSocketNotifier::Read) {
    QObject::connect(&end_watch, &QSocketNotifier::activated, &end_watch,
                     [this, ended = std::move(ended)] {
                       if (!Running()) ended(this);
                     });
    QObject::connect(&error_watch, &QSocketNotifier::activated, &error_watch, [this] {
      process.DrainStandardError();
      FollowPipe();
    });
  }

  // Reaps the worker once it has ended, and then stops watching: a pidfd stays readable.
  bool Running() {
    const bool running = process.Running();
    if (!running) end_watch.setEnabled(false);
    FollowPipe();
    return running;
  }

  // The pipe is closed once it has been read to its end: no watch may stay on that number.
  void FollowPipe() {
    if (process.stderr_fd() < 0) error_watch.setEnabled(false);
  }

  platform::Process process;
  QSocketNotifier end_watch;
  QSocketNotifier error_watch;
};

PKill::PKill() = default;

PKill::~PKill() = default;

qint32 PKill::WorkerPid() const { return worker_ ? worker_->process.pid() : 0; }

bool PKill::StartWorker(const WorkerCommand& command, QString* error) {
  QCoreApplication::processEvents();

  ForgetEnded();
  if (worker_ && worker_->Running()) earlier_.push_back(std::move(worker_));
  worker_.reset();

  int start_error = 0;
  std::vector<std::string> arguments;
  for (const QString& argument : command.arguments) arguments.push_back(LocalPath(argument));
  platform::Process process =
      platform::Process::Start(LocalPath(command.program), arguments, &start_error);
  if (!process.valid()) {
    if (error != nullptr) {
      *error = QStringLiteral("Cannot start %1: %2").arg(command.program, ErrorText(start_error));
    }
    return false;
  }
  worker_ = std::make_unique<Child>(std::move(process), [this](const Child* child) {
    if (child == worker_.get() && worker_ended_) worker_ended_();
  });
  return true;
}

PKill::KillOutcome PKill::KillWorker(QString* error) {
  ForgetEnded();
  if (!worker_) return KillOutcome::kNoWorker;

  int kill_error = 0;
  const platform::KillResult result = worker_->process.Kill(&kill_error);
  // A killed worker takes a moment to go; it is reaped later, when its pidfd turns readable.
  if (worker_->Running()) earlier_.push_back(std::move(worker_));
  worker_.reset();

  switch (result) {
    case platform::KillResult::kKilled:
      return KillOutcome::kKilled;
    case platform::KillResult::kNotRunning:
      return KillOutcome::kAlreadyEnded;
    case platform::KillResult::kFailed:
      break;
  }
  if (error != nullptr)
    *error = QStringLiteral("Cannot stop the worker: %1").arg(ErrorText(kill_error));
  return KillOutcome::kFailed;
}

std::optional<PKill::WorkerEnd> PKill::EndedWorker() {
  if (!worker_ || worker_->Running()) return std::nullopt;
  // The worker writes one line per failure; the last one says why it stopped.
  const QStringList lines =
      QString::fromLocal8Bit(worker_->process.StandardError()).split(QLatin1Char('\n'));
  QString reason;
  for (auto line = lines.crbegin(); line != lines.crend() && reason.isEmpty(); ++line) {
    reason = line->trimmed();
  }
  return WorkerEnd{worker_->process.WaitStatus(), reason};
}

void PKill::ForgetEnded() {
  std::erase_if(earlier_, [](const std::unique_ptr<Child>& child) { return !child->Running(); });
}
