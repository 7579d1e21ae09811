#include "app/copy_launcher.h"

#include <QCoreApplication>

#include <utility>

QString WorkerPath(const QString& program_folder) {
  return program_folder + QLatin1Char('/') + QLatin1String(kWorkerFileName);
}

WorkerCommand CopyCommand(const QString& program_folder, const QString& Sou, const QString& Tar,
                          qint32 BS) {
  const QChar separator(QLatin1Char(';'));
  if (Sou.contains(separator) || Tar.contains(separator)) {
    return {WorkerPath(program_folder),
            {QStringLiteral("--source"), Sou, QStringLiteral("--target"), Tar,
             QStringLiteral("--block-size"), QString::number(BS)}};
  }
  return {WorkerPath(program_folder), {Sou + separator + Tar + separator + QString::number(BS)}};
}

CopyLauncher::CopyLauncher() : CopyLauncher(QCoreApplication::applicationDirPath()) {}

CopyLauncher::CopyLauncher(QString program_folder) : program_folder_(std::move(program_folder)) {}

bool CopyLauncher::StartCopy(const QString& Sou, const QString& Tar, qint32 BS, QString* error) {
  QString problem;
  if (Sou.isEmpty() || Tar.isEmpty()) {
    problem = QStringLiteral("The source and the target file must both be given.");
  } else if (BS < 0) {
    problem = QStringLiteral("The buffer size cannot be negative: %1").arg(BS);
  }
  if (!problem.isEmpty()) {
    if (error != nullptr) *error = problem;
    return false;
  }
  return pkill_.StartWorker(CopyCommand(program_folder_, Sou, Tar, BS), error);
}

PKill::KillOutcome CopyLauncher::StopCopyng(QString* error) { return pkill_.KillWorker(error); }
