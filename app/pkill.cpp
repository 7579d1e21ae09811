#include "app/pkill.h"

#include <QCoreApplication>
#include <QFile>
#include <QObject>
#include <QSocketNotifier>

#include <utility>

#include "platform/core/file_io.h"

namespace {

std::string LocalPath(const QString& text) { return QFile::encodeName(text).toStdString(); }

QString ErrorText(int error) { return QString::fromStdString(platform::ErrorText(error)); }

}  // namespace

// One started worker and the watch on its pidfd, which turns readable when the worker ends: the
// event loop then reaps it at once instead of leaving a zombie until the next call here.
struct PKill::Child {
  explicit Child(platform::Process started)
      : process(std::move(started)), watch(process.pidfd(), QSocketNotifier::Read) {
    QObject::connect(&watch, &QSocketNotifier::activated, &watch, [this] { Running(); });
  }

  // Reaps the worker once it has ended, and then stops watching: a pidfd stays readable.
  bool Running() {
    const bool running = process.Running();
    if (!running) watch.setEnabled(false);
    return running;
  }

  platform::Process process;
  QSocketNotifier watch;
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
  platform::Process process = platform::Process::Start(LocalPath(command.program),
                                                       LocalPath(command.argument), &start_error);
  if (!process.valid()) {
    if (error != nullptr) {
      *error = QStringLiteral("Cannot start %1: %2").arg(command.program, ErrorText(start_error));
    }
    return false;
  }
  worker_ = std::make_unique<Child>(std::move(process));
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

bool PKill::WorkerRunning() { return worker_ && worker_->Running(); }

void PKill::ForgetEnded() {
  std::erase_if(earlier_, [](const std::unique_ptr<Child>& child) { return !child->Running(); });
}
