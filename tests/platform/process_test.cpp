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
  // Neither our standard input nor a descriptor opened without O_CLOEXEC (as a library might do)
  // may reach the child.
  const int our_input = ::dup(0);
  const int leaky = ::open("/dev/zero", O_RDONLY);
  ASSERT_TRUE(our_input >= 0 && leaky >= 0 && ::dup2(leaky, 0) == 0);
  for (const std::string text : {" /media/cd rom/\"a\" 'b' $HOME `id` * ? | > x & \\;/t;100 ", ""})
    EXPECT_EQ(testing_support::StartedAs(Start(STAND_IN_WORKER_PATH, text).pid()),
              testing_support::WorkerStart(STAND_IN_WORKER_PATH, text));
  ::dup2(our_input, 0);
  ::close(our_input);
  ::close(leaky);
}

TEST(ProcessTest, ProgramsThatCannotRunReportWhy) {
  for (const auto& [program, expected] :
       {std::pair{"/no such folder/vrel", ENOENT}, {"/dev/null", EACCES}}) {
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
  ASSERT_TRUE(WaitUntil([&] { return process.DrainStandardError(), !process.Running(); }));
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
  EXPECT_EQ(process.WaitStatus(), SIGKILL);  // ended by the signal (no core dump, no exit code)
  EXPECT_EQ(::waitpid(process.pid(), nullptr, WNOHANG), -1);  // no zombie of ours is left
  EXPECT_EQ(process.Kill(&error), KillResult::kNotRunning);
}

TEST(ProcessTest, AChildThatHasEndedIsNeverSignalled) {
  const auto ended = [] {  // a child that has ended by itself, not reaped yet
    Process process = Start("/bin/true", "x");
    EXPECT_TRUE(WaitUntil([&] { return EndedUnreaped(process.pid()); }));
    return process;
  };
  int error = -1;
  // A zombie: Kill reaps it rather than signal it.
  Process zombie = ended();
  EXPECT_EQ(zombie.Kill(&error), KillResult::kNotRunning);
  EXPECT_EQ(zombie.WaitStatus(), 0);  // its own exit, status 0
  // Reaped behind its back: it has ended, its status is lost.
  Process reaped = ended();
  ASSERT_EQ(::waitpid(reaped.pid(), nullptr, 0), reaped.pid());
  EXPECT_FALSE(reaped.Running() || reaped.WaitStatus().has_value());

  // Reaped behind its back and its id given to a bystander that is also our child (where this
  // process may choose ids): the worst case for a signal sent by id.
  Process reused = ended();
  const pid_t pid = reused.pid();
  ASSERT_EQ(::waitpid(pid, nullptr, 0), pid);
  std::optional<testing_support::ChildProcess> bystander;
  for (int attempt = 0; attempt < 50 && !bystander && NextPidWillBe(pid); ++attempt) {
    bystander.emplace(STAND_IN_WORKER_PATH, std::vector<std::string>{});
    if (bystander->pid() != pid) bystander.reset();  // another process took the id first
  }
  EXPECT_EQ(reused.Kill(&error), KillResult::kNotRunning);
  if (!bystander) GTEST_SKIP() << "no permission to hand the old process id to a bystander";
  EXPECT_TRUE(bystander->Running());
}

}  // namespace
}  // namespace platform
