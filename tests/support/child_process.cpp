#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace testing_support {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env, bool capture_stderr) {
  // argv and the environment, as the null-terminated arrays that exec wants.
  std::vector<std::string> settings;
  for (const auto& [name, value] : env) {
    if (!value.empty()) settings.push_back(name + "=" + value);
  }
  std::vector<char*> arguments{const_cast<char*>(program.c_str())}, environment;
  for (const std::string& arg : args) arguments.push_back(const_cast<char*>(arg.c_str()));
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (!env.contains(std::string(text.substr(0, text.find('='))))) environment.push_back(*entry);
  }
  for (std::string& setting : settings) environment.push_back(setting.data());
  arguments.push_back(nullptr);
  environment.push_back(nullptr);

  if (capture_stderr) {
    char name[] = "/tmp/mendra-stderr-XXXXXX";
    const int fd = ::mkstemp(name);
    EXPECT_GE(fd, 0) << "no file for the standard error of " << program << ": "
                     << std::strerror(errno);
    if (fd >= 0 && ::close(fd) == 0) stderr_path_ = name;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2,
                                   stderr_path_.empty() ? "/dev/null" : stderr_path_.c_str(),
                                   O_WRONLY | O_TRUNC, 0);
  const int failure =
      posix_spawn(&pid_, program.c_str(), &actions, nullptr, arguments.data(), environment.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failure != 0) pid_ = -1;
  EXPECT_EQ(failure, 0) << "cannot start " << program << ": " << std::strerror(failure);
}

ChildProcess::~ChildProcess() {
  Signal(SIGKILL);  // nothing once it has been reaped
  Wait();
  if (!stderr_path_.empty()) ::unlink(stderr_path_.c_str());
}

std::optional<ExitInfo> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (pid_ > 0 && !reaped_) {
    int status = 0;
    const pid_t ended = ::waitpid(pid_, &status, WNOHANG);
    if (ended == pid_) {
      reaped_ = true;
      info_ = {WIFEXITED(status), WIFEXITED(status) ? WEXITSTATUS(status) : -1,
               WIFSIGNALED(status) ? WTERMSIG(status) : 0};
    } else if ((ended < 0 && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
      return std::nullopt;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return reaped_ ? std::optional(info_) : std::nullopt;
}

bool ChildProcess::Running() { return pid_ > 0 && !reaped_ && !Wait(std::chrono::milliseconds(0)); }

void ChildProcess::Signal(int sig) {
  if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
}

std::string ChildProcess::stderr_text() const {
  std::ifstream in(stderr_path_);
  return {std::istreambuf_iterator<char>(in), {}};
}

ExitInfo RunToEnd(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env) {
  ChildProcess child(program, args, env);
  const std::optional<ExitInfo> info = child.Wait();
  EXPECT_TRUE(info.has_value()) << program << " did not end within the time-out";
  return info.value_or(ExitInfo{});
}

}  // namespace testing_support
