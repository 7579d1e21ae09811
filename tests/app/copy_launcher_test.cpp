// The worker's command line, and StartCopy with a stand-in worker and with the real vrel.
#include "app/copy_launcher.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/core/settings_store.h"
#include "tests/app/argv_recorder.h"
#include "tests/app/wait_until.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::ArgvRecord;
using testing_support::kArgvRecordVariable;
using testing_support::ReadArgvRecord;
using testing_support::TempDir;
using testing_support::WaitUntil;

QString Q(const std::string& text) { return QString::fromStdString(text); }

struct CommandRow {
  const char* folder;
  const char* source;
  const char* target;
  qint32 bytes;
  const char* program;
  const char* argument;
};

TEST(CopyCommandTest, JoinsTheWorkerPathAndTheArgumentText) {
  const CommandRow rows[] = {
      {"/opt/tools", "/media/cdrom/movie.avi", "/home/me/rescue/movie.avi", 100, "/opt/tools/vrel",
       "/media/cdrom/movie.avi;/home/me/rescue/movie.avi;100"},
      {"/opt/my tools", "/media/cd rom/my movie.avi", "/home/me/res cue/my movie.avi", 1024,
       "/opt/my tools/vrel", "/media/cd rom/my movie.avi;/home/me/res cue/my movie.avi;1024"},
      {"/opt/tools", "a", "b", 0, "/opt/tools/vrel", "a;b;0"},  // variable speed
      {"/opt/tools", "a", "b", 10485760, "/opt/tools/vrel", "a;b;10485760"},
  };
  for (const CommandRow& row : rows) {
    const WorkerCommand command =
        CopyCommand(QString::fromUtf8(row.folder), QString::fromUtf8(row.source),
                    QString::fromUtf8(row.target), row.bytes);
    EXPECT_EQ(command.program, QString::fromUtf8(row.program));
    EXPECT_EQ(command.argument, QString::fromUtf8(row.argument));
  }
}

class CopyLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv(kArgvRecordVariable, record_.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);  // the real worker's progress channel
  }
  void TearDown() override {
    ::unsetenv(kArgvRecordVariable);
    ::unsetenv("XDG_CONFIG_HOME");
  }

  // A program folder with a blank in its name, holding the stand-in under the worker's name.
  QString StandInFolder() const {
    const std::filesystem::path folder = dir_.Path("my programs");
    std::filesystem::create_directory(folder);
    std::filesystem::copy_file(ARGV_RECORDER_PATH, folder / kWorkerFileName);
    return Q(folder.string());
  }

  TempDir dir_;
  std::string record_ = dir_.Path("record");
};

TEST_F(CopyLauncherTest, StartsTheWorkerInTheProgramFolderWithOneArgument) {
  const QString folder = StandInFolder();
  CopyLauncher launcher(folder);
  QString error;
  ASSERT_TRUE(launcher.StartCopy(QStringLiteral("/media/cd rom/disc image.iso"),
                                 QStringLiteral("/home/me/new folder/disc image.iso"), 0, &error))
      << error.toStdString();
  EXPECT_GT(launcher.pkill().WorkerPid(), 0);

  std::optional<ArgvRecord> record;
  ASSERT_TRUE(WaitUntil([&] { return (record = ReadArgvRecord(record_)).has_value(); }));
  EXPECT_EQ(Q(record->program), folder + QStringLiteral("/vrel"));
  ASSERT_EQ(record->arguments.size(), 1u);
  EXPECT_EQ(record->arguments[0],
            "/media/cd rom/disc image.iso;/home/me/new folder/disc image.iso;0");
}

struct RefusedRow {
  const char* source;
  const char* target;
  qint32 bytes;
  const char* reason;
};

TEST_F(CopyLauncherTest, RefusesWhatTheWorkerCouldNotReadBack) {
  CopyLauncher launcher(StandInFolder());
  const RefusedRow rows[] = {
      {"", "/t", 100, "must both be given"},
      {"/s", "", 100, "must both be given"},
      {"/media/a;b.iso", "/t", 100, "/media/a;b.iso"},
      {"/s", "/home/x;100", 100, "/home/x;100"},
      {"/s", "/t", -1, "negative"},
  };
  for (const RefusedRow& row : rows) {
    QString error;
    EXPECT_FALSE(launcher.StartCopy(QString::fromUtf8(row.source), QString::fromUtf8(row.target),
                                    row.bytes, &error))
        << row.source << " " << row.target;
    EXPECT_TRUE(error.contains(QString::fromUtf8(row.reason))) << error.toStdString();
    EXPECT_EQ(launcher.pkill().WorkerPid(), 0);
  }
}

TEST_F(CopyLauncherTest, AMissingWorkerIsReportedNotStarted) {
  const QString folder = Q(dir_.path());  // holds no worker
  CopyLauncher launcher(folder);
  QString error;
  EXPECT_FALSE(launcher.StartCopy(QStringLiteral("/s"), QStringLiteral("/t"), 100, &error));
  EXPECT_TRUE(error.contains(WorkerPath(folder))) << error.toStdString();
  EXPECT_EQ(launcher.pkill().WorkerPid(), 0);
  EXPECT_EQ(launcher.StopCopyng(), PKill::KillOutcome::kNoWorker);
}

TEST_F(CopyLauncherTest, TheRealWorkerCopiesBetweenPathsWithBlanks) {
  const std::filesystem::path from = dir_.Path("my disc/image file.bin");
  const std::filesystem::path to = dir_.Path("res cue/image file.bin");
  std::filesystem::create_directories(from.parent_path());
  std::filesystem::create_directories(to.parent_path());
  const std::vector<unsigned char> bytes = testing_support::PatternBytes(100000);
  testing_support::WriteFileBytes(from.string(), bytes);

  CopyLauncher launcher(Q(std::filesystem::path(VREL_PATH).parent_path().string()));
  QString error;
  ASSERT_TRUE(launcher.StartCopy(Q(from.string()), Q(to.string()), 4096, &error))
      << error.toStdString();
  ASSERT_TRUE(WaitUntil([&] { return !launcher.pkill().WorkerRunning(); }));

  EXPECT_EQ(testing_support::ReadFileBytes(to.string()), bytes);
  EXPECT_EQ(platform::SettingsStore("Vrel").Read("Info", "Status"), "Finished");
  EXPECT_EQ(launcher.StopCopyng(), PKill::KillOutcome::kAlreadyEnded);
}

}  // namespace
