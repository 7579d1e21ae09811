// PKill with real child processes: the argv_recorder test program stands in for the worker.
#include "app/pkill.h"

#include <QCoreApplication>

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/app/argv_recorder.h"
#include "tests/app/wait_until.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ChildProcess;
using testing_support::kArgvRecordVariable;
using testing_support::kWaitArgument;
using testing_support::ReadArgvRecord;
using testing_support::TempDir;
using testing_support::WaitUntil;

// Neither running nor a zombie any more.
bool Gone(qint32 pid) { return !std::filesystem::exists("/proc/" + std::to_string(pid)); }

class PKillTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv(kArgvRecordVariable, record_.c_str(), 1); }
  void TearDown() override { ::unsetenv(kArgvRecordVariable); }

  static WorkerCommand Recorder(const QString& argument) {
    return {QStringLiteral(ARGV_RECORDER_PATH), argument};
  }
  bool Recorded() const { return ReadArgvRecord(record_).has_value(); }
  ChildProcess Bystander() const {
    return ChildProcess(ARGV_RECORDER_PATH, {kWaitArgument},
                        {{kArgvRecordVariable, dir_.Path("bystander")}});
  }

  TempDir dir_;
  std::string record_ = dir_.Path("record");
  PKill pkill_;
};

TEST_F(PKillTest, StartWorkerHandlesWaitingEventsBeforeItStarts) {
  std::optional<qint32> pid_when_handled;
  QMetaObject::invokeMethod(
      qApp, [&] { pid_when_handled = pkill_.WorkerPid(); }, Qt::QueuedConnection);

  QString error;
  ASSERT_TRUE(pkill_.StartWorker(Recorder(QStringLiteral("x")), &error)) << error.toStdString();
  ASSERT_TRUE(pid_when_handled.has_value());
  EXPECT_EQ(*pid_when_handled, 0);
  EXPECT_GT(pkill_.WorkerPid(), 0);
}

TEST_F(PKillTest, KillWorkerWithoutAWorkerDoesNothing) {
  EXPECT_EQ(pkill_.WorkerPid(), 0);
  EXPECT_EQ(pkill_.KillWorker(), PKill::KillOutcome::kNoWorker);
  EXPECT_FALSE(pkill_.WorkerRunning());
}

TEST_F(PKillTest, KillWorkerEndsTheRunningWorkerOnce) {
  QString error;
  ASSERT_TRUE(pkill_.StartWorker(Recorder(QLatin1String(kWaitArgument)), &error))
      << error.toStdString();
  const qint32 pid = pkill_.WorkerPid();
  ASSERT_TRUE(WaitUntil([&] { return Recorded(); }));
  EXPECT_TRUE(pkill_.WorkerRunning());

  EXPECT_EQ(pkill_.KillWorker(), PKill::KillOutcome::kKilled);
  EXPECT_EQ(pkill_.WorkerPid(), 0);
  // Ended and reaped by the event loop's watch, without another call to PKill.
  ASSERT_TRUE(WaitUntil([&] { return Gone(pid); }));

  // Exit after STOP: nothing left to stop.
  EXPECT_EQ(pkill_.KillWorker(), PKill::KillOutcome::kNoWorker);
}

TEST_F(PKillTest, KillWorkerAfterTheWorkerEndedSignalsNothing) {
  QString error;
  ASSERT_TRUE(pkill_.StartWorker(Recorder(QStringLiteral("x")), &error)) << error.toStdString();
  const qint32 pid = pkill_.WorkerPid();
  ASSERT_TRUE(WaitUntil([&] { return Gone(pid); }));  // reaped as it ended: no zombie stays
  EXPECT_EQ(pkill_.WorkerPid(), pid);                 // the id is kept until KillWorker

  ChildProcess bystander = Bystander();
  ASSERT_TRUE(WaitUntil([&] { return ReadArgvRecord(dir_.Path("bystander")).has_value(); }));
  EXPECT_EQ(pkill_.KillWorker(), PKill::KillOutcome::kAlreadyEnded);
  EXPECT_EQ(pkill_.WorkerPid(), 0);
  EXPECT_TRUE(bystander.Running());
}

TEST_F(PKillTest, AWorkerThatCannotStartLeavesNoWorker) {
  QString error;
  ASSERT_TRUE(pkill_.StartWorker(Recorder(QLatin1String(kWaitArgument)), &error))
      << error.toStdString();
  const qint32 earlier = pkill_.WorkerPid();

  const QString missing = QString::fromStdString(dir_.Path("no such folder/vrel"));
  EXPECT_FALSE(pkill_.StartWorker({missing, QStringLiteral("a;b;100")}, &error));
  EXPECT_TRUE(error.contains(missing)) << error.toStdString();
  EXPECT_EQ(pkill_.WorkerPid(), 0);
  EXPECT_EQ(pkill_.KillWorker(), PKill::KillOutcome::kNoWorker);

  // The earlier worker was not stopped by the new start, and is still reaped once it ends.
  ASSERT_FALSE(Gone(earlier));
  ASSERT_EQ(::kill(earlier, SIGKILL), 0);  // still our unreaped child: its id is its own
  ASSERT_TRUE(WaitUntil([&] { return Gone(earlier); }));
}

}  // namespace
