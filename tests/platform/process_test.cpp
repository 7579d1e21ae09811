// Real child processes: what they receive, and that stopping one never reaches another process.
#include "platform/core/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "tests/app/started_as.h"
#include "tests/app/wait_until.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace platform {
namespace {

using testing_support::WaitUntil;

// True once `pid` has ended; leaves it unreaped (a zombie) for the code under test.
bool EndedUnreaped(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

// Makes `pid` the next process id by setting the namespace's last one. Needs privileges.
bool NextPidWillBe(pid_t pid) {
  std::ofstream last("/proc/sys/kernel/ns_last_pid");
  last << (pid - 1) << std::flush;
  return static_cast<bool>(last);
}

Process Start(const std::string& program, const std::string& argument) {
  int error = -1;
  Process process = Process::Start(program, argument, &error);
  EXPECT_TRUE(process.valid()) << std::strerror(error);
  return process;
}

TEST(ProcessTest, TheChildGetsTheArgumentTextWholeAndNoneOfOurFiles) {
  // Opened without O_CLOEXEC, as a library might do: it must not leak into the child.
  const int leaky = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(leaky, 0);
  for (const std::string text :
       {" /media/cd rom/\"a\" 'b' $HOME `id` * ? | > x & \\;/t;100 ", ""}) {
    // It waits until this test ends.
    const Process process = Start(STAND_IN_WORKER_PATH, text);
    EXPECT_EQ(testing_support::StartedAs(process.pid()),
              testing_support::WorkerStart(STAND_IN_WORKER_PATH, text));
  }
  ::close(leaky);
}

TEST(ProcessTest, ProgramsThatCannotRunReportWhy) {
  const testing_support::TempDir dir;
  const std::string not_executable = dir.Path("plain file");
  std::ofstream(not_executable) << "not a program";
  for (const auto& [program, expected] :
       {std::pair{dir.Path("missing/vrel"), ENOENT}, {not_executable, EACCES}}) {
    int error = 0;
    EXPECT_FALSE(Process::Start(program, "a;b;100", &error).valid()) << program;
    EXPECT_EQ(error, expected) << program;
  }
}

TEST(ProcessTest, OnlyTheEndOfAChattyStandardErrorIsKept) {
  // Far more than a pipe holds: the child must not block on it.
  const testing_support::TempDir dir;
  const std::string script = dir.Path("chatty.sh");
  std::ofstream(script)
      << "head -c 200000 /dev/zero | tr '\\0' x >&2; printf '\\nvrel: why\\n' >&2";
  Process process = Start("/bin/sh", script);
  ASSERT_TRUE(WaitUntil([&] {
    process.DrainStandardError();
    return !process.Running();
  }));
  const std::string tail = "\nvrel: why\n";
  EXPECT_EQ(process.StandardError(),
            std::string(Process::kStandardErrorKept - tail.size(), 'x') + tail);
  EXPECT_EQ(process.stderr_fd(), -1);  // read to its end: the pipe is closed
}

TEST(ProcessTest, KillEndsARunningChildAndReapsIt) {
  Process process = Start(STAND_IN_WORKER_PATH, "a;b;100");
  int error = -1;
  EXPECT_EQ(process.Kill(&error), KillResult::kKilled);
  ASSERT_TRUE(WaitUntil([&] { return !process.Running(); }));
  ASSERT_TRUE(process.WaitStatus().has_value());
  EXPECT_TRUE(WIFSIGNALED(*process.WaitStatus()) && WTERMSIG(*process.WaitStatus()) == SIGKILL);
  EXPECT_EQ(::waitpid(process.pid(), nullptr, WNOHANG), -1);  // no zombie of ours is left
  EXPECT_EQ(process.Kill(&error), KillResult::kNotRunning);
}

TEST(ProcessTest, AChildThatHasEndedIsNeverSignalled) {
  // Ended but not reaped yet: Kill reaps it rather than signal it.
  Process zombie = Start("/bin/true", "x");
  ASSERT_TRUE(WaitUntil([&] { return EndedUnreaped(zombie.pid()); }));
  int error = -1;
  EXPECT_EQ(zombie.Kill(&error), KillResult::kNotRunning);
  EXPECT_EQ(zombie.WaitStatus(), 0);  // its own exit, status 0

  // Reaped behind its back, and its id given to a bystander that is also our child (where this
  // process may choose ids): the worst case for a signal sent by id.
  Process reaped = Start("/bin/true", "x");
  const pid_t pid = reaped.pid();
  ASSERT_TRUE(WaitUntil([&] { return EndedUnreaped(pid); }));
  ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
  std::optional<testing_support::ChildProcess> bystander;
  for (int attempt = 0; attempt < 50 && !bystander && NextPidWillBe(pid); ++attempt) {
    bystander.emplace(STAND_IN_WORKER_PATH, std::vector<std::string>{});
    if (bystander->pid() != pid) bystander.reset();  // another process took the id first
  }
  EXPECT_EQ(reaped.Kill(&error), KillResult::kNotRunning);
  EXPECT_FALSE(reaped.WaitStatus().has_value());
  if (!bystander) GTEST_SKIP() << "no permission to hand the old process id to a bystander";
  EXPECT_TRUE(bystander->Running());
}

}  // namespace
}  // namespace platform
