// Real child processes: what they receive, and that stopping one never reaches another process.
#include "platform/core/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/argv_recorder.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testing_support::ArgvRecord;
using testing_support::ChildProcess;
using testing_support::ReadArgvRecord;
using testing_support::TempDir;

constexpr auto kBound = std::chrono::seconds(60);

// Polls `done` until it holds or the generous bound passes.
template <typename Predicate>
bool Eventually(Predicate done) {
  const auto deadline = std::chrono::steady_clock::now() + kBound;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// True once `pid` has ended; leaves it unreaped (a zombie) for the code under test.
bool EndedUnreaped(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv(testing_support::kArgvRecordVariable, record_.c_str(), 1); }
  void TearDown() override { ::unsetenv(testing_support::kArgvRecordVariable); }

  Process StartRecorder(const std::string& argument) {
    int error = -1;
    Process process = Process::Start(ARGV_RECORDER_PATH, argument, &error);
    EXPECT_TRUE(process.valid()) << std::strerror(error);
    EXPECT_EQ(error, 0);
    return process;
  }
  std::optional<ArgvRecord> AwaitRecord() const {
    std::optional<ArgvRecord> record;
    Eventually([&] { return (record = ReadArgvRecord(record_)).has_value(); });
    return record;
  }

  TempDir dir_;
  std::string record_ = dir_.Path("record");
};

TEST_F(ProcessTest, PassesTheArgumentTextWholeWithoutAShell) {
  const std::string texts[] = {
      "/media/cd rom/movie file.avi;/home/me/res cue/movie file.avi;100",
      "a b;c d;0",
      "  leading and trailing blanks  ",
      "\"quoted\" 'single' $HOME `id` * ? | > x & ; \\",
      "",
  };
  char cwd[PATH_MAX];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    ::unlink(record_.c_str());
    Process process = StartRecorder(text);
    ASSERT_TRUE(Eventually([&] { return !process.Running(); }));
    ASSERT_TRUE(process.WaitStatus().has_value());
    EXPECT_TRUE(WIFEXITED(*process.WaitStatus()) && WEXITSTATUS(*process.WaitStatus()) == 0);

    const std::optional<ArgvRecord> record = ReadArgvRecord(record_);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(record->program, ARGV_RECORDER_PATH);
    ASSERT_EQ(record->arguments.size(), 1u);
    EXPECT_EQ(record->arguments[0], text);
    EXPECT_EQ(record->working_folder, cwd);
    EXPECT_EQ(record->standard_files[0], "/dev/null");
    EXPECT_EQ(record->standard_files[1], "/dev/null");
    EXPECT_EQ(record->standard_files[2].rfind("pipe:", 0), 0u) << record->standard_files[2];
    EXPECT_EQ(record->other_descriptors, 0);
  }
}

TEST_F(ProcessTest, OpenDescriptorsOfTheParentDoNotLeakIntoTheChild) {
  const int leaky = ::open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
  ASSERT_GE(leaky, 0);
  Process process = StartRecorder("x");
  const std::optional<ArgvRecord> record = AwaitRecord();
  ::close(leaky);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->other_descriptors, 0);
}

TEST_F(ProcessTest, ProgramsThatCannotRunReportWhy) {
  const std::string not_executable = dir_.Path("plain file");
  std::ofstream(not_executable) << "not a program";
  struct Row {
    std::string program;
    int error;
  };
  const Row rows[] = {
      {dir_.Path("missing/vrel"), ENOENT},
      {not_executable, EACCES},
  };
  for (const Row& row : rows) {
    int error = 0;
    const Process process = Process::Start(row.program, "a;b;100", &error);
    EXPECT_FALSE(process.valid()) << row.program;
    EXPECT_EQ(process.pid(), 0);
    EXPECT_EQ(error, row.error) << row.program;
  }
}

// A shell script as the child: its path is the one argument /bin/sh receives.
TEST_F(ProcessTest, StandardErrorIsCapturedAndBounded) {
  struct Row {
    const char* script;
    std::string expected;  // the whole text kept
  };
  const std::string tail = "\nvrel: cannot open the source\n";
  const Row rows[] = {
      {"printf 'vrel: cannot open the source\\n' >&2; exit 1", "vrel: cannot open the source\n"},
      // Far more than a pipe holds: the child must not block, and only the end is kept.
      {"head -c 200000 /dev/zero | tr '\\0' x >&2; printf '\\nvrel: cannot open the source\\n' >&2",
       std::string(Process::kStandardErrorKept - tail.size(), 'x') + tail},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.script);
    const std::string script = dir_.Path("script.sh");
    std::ofstream(script) << row.script << "\n";
    int error = -1;
    Process process = Process::Start("/bin/sh", script, &error);
    ASSERT_TRUE(process.valid()) << std::strerror(error);
    ASSERT_TRUE(Eventually([&] {
      process.DrainStandardError();
      return !process.Running();
    }));
    EXPECT_EQ(process.StandardError(), row.expected);
    EXPECT_EQ(process.stderr_fd(), -1);  // end of file seen: the pipe is closed
  }
}

TEST_F(ProcessTest, KillEndsARunningChildAndReapsIt) {
  Process process = StartRecorder(testing_support::kWaitArgument);
  ASSERT_TRUE(AwaitRecord().has_value());
  EXPECT_TRUE(process.Running());

  int error = -1;
  EXPECT_EQ(process.Kill(&error), KillResult::kKilled);
  EXPECT_EQ(error, 0);
  ASSERT_TRUE(Eventually([&] { return !process.Running(); }));
  ASSERT_TRUE(process.WaitStatus().has_value());
  EXPECT_TRUE(WIFSIGNALED(*process.WaitStatus()));
  EXPECT_EQ(WTERMSIG(*process.WaitStatus()), SIGKILL);
  // Reaped: the id no longer names a zombie of ours.
  EXPECT_EQ(::waitpid(process.pid(), nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);

  EXPECT_EQ(process.Kill(&error), KillResult::kNotRunning);
}

TEST_F(ProcessTest, AChildThatEndedByItselfIsNeverSignalled) {
  Process process = StartRecorder("x");
  const pid_t pid = process.pid();
  ASSERT_TRUE(Eventually([&] { return EndedUnreaped(pid); }));

  // Still a zombie at this point: Kill must reap it rather than signal it.
  int error = -1;
  EXPECT_EQ(process.Kill(&error), KillResult::kNotRunning);
  EXPECT_EQ(error, 0);
  ASSERT_TRUE(process.WaitStatus().has_value());
  EXPECT_TRUE(WIFEXITED(*process.WaitStatus()));
  EXPECT_EQ(WEXITSTATUS(*process.WaitStatus()), 0);
}

TEST_F(ProcessTest, AnEndedChildReapedElsewhereIsTreatedAsEnded) {
  Process process = StartRecorder("x");
  const pid_t pid = process.pid();
  ASSERT_TRUE(Eventually([&] { return EndedUnreaped(pid); }));
  ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);  // behind the Process's back

  int error = -1;
  EXPECT_EQ(process.Kill(&error), KillResult::kNotRunning);
  EXPECT_FALSE(process.Running());
  EXPECT_FALSE(process.WaitStatus().has_value());
}

// Makes the next process id `pid` by setting the namespace's last id. Needs privileges.
bool NextPidWillBe(pid_t pid) {
  std::ofstream last("/proc/sys/kernel/ns_last_pid");
  last << (pid - 1);
  last.flush();
  return static_cast<bool>(last);
}

TEST_F(ProcessTest, AReusedIdIsNotSignalledThroughTheOldChild) {
  Process process = StartRecorder("x");
  const pid_t pid = process.pid();
  ASSERT_TRUE(Eventually([&] { return EndedUnreaped(pid); }));
  ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);  // the id is free again

  // Give the old id to a bystander that is also our child, the worst case for a signal by id.
  std::optional<ChildProcess> bystander;
  for (int attempt = 0; attempt < 50 && !bystander; ++attempt) {
    if (!NextPidWillBe(pid)) GTEST_SKIP() << "no permission to choose process ids here";
    bystander.emplace(ARGV_RECORDER_PATH, std::vector<std::string>{testing_support::kWaitArgument},
                      std::map<std::string, std::string>{
                          {testing_support::kArgvRecordVariable, dir_.Path("bystander")}});
    if (bystander->pid() != pid) bystander.reset();  // another process took the id first
  }
  if (!bystander) GTEST_SKIP() << "could not hand the old process id to a bystander";
  ASSERT_TRUE(Eventually([&] { return ReadArgvRecord(dir_.Path("bystander")).has_value(); }));

  int error = -1;
  EXPECT_EQ(process.Kill(&error), KillResult::kNotRunning);
  EXPECT_EQ(error, 0);
  EXPECT_TRUE(bystander->Running());
}

}  // namespace
}  // namespace platform
