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
#include <sstream>
#include <thread>

extern char** environ;

namespace testing_support {

namespace {

std::vector<std::string> MergedEnvironment(const std::map<std::string, std::string>& env) {
  std::vector<std::string> merged;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    if (env.count(name) == 0) merged.push_back(entry);
  }
  for (const auto& [name, value] : env) {
    if (!value.empty()) merged.push_back(name + "=" + value);
  }
  return merged;
}

ExitInfo Decode(int status) {
  ExitInfo info;
  if (WIFEXITED(status)) {
    info.exited = true;
    info.code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    info.signal = WTERMSIG(status);
  }
  return info;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env, bool capture_stderr) {
  std::vector<std::string> env_strings = MergedEnvironment(env);
  std::vector<char*> envp;
  for (auto& e : env_strings) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::vector<std::string> arg_strings{program};
  arg_strings.insert(arg_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : arg_strings) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (capture_stderr) {
    char tmpl[] = "/tmp/mendra-stderr-XXXXXX";
    const int fd = ::mkstemp(tmpl);
    if (fd >= 0) {
      ::close(fd);
      stderr_path_ = tmpl;
    } else {
      ADD_FAILURE() << "cannot make a file for the standard error of " << program << ": "
                    << std::strerror(errno);
    }
  }
  posix_spawn_file_actions_addopen(&actions, 2,
                                   stderr_path_.empty() ? "/dev/null" : stderr_path_.c_str(),
                                   O_WRONLY | O_TRUNC, 0);
  const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(rc);
  }
}

ChildProcess::~ChildProcess() {
  if (pid_ > 0 && !reaped_) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  if (!stderr_path_.empty()) ::unlink(stderr_path_.c_str());
}

std::optional<ExitInfo> ChildProcess::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return std::nullopt;
  if (reaped_) return info_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      reaped_ = true;
      info_ = Decode(status);
      return info_;
    }
    if (r < 0 && errno != EINTR) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
}

bool ChildProcess::Running() {
  if (pid_ <= 0 || reaped_) return false;
  return !Wait(std::chrono::milliseconds(0)).has_value();
}

void ChildProcess::Signal(int sig) {
  if (pid_ > 0 && !reaped_) ::kill(pid_, sig);
}

std::string ChildProcess::stderr_text() const {
  if (stderr_path_.empty()) return {};
  std::ifstream in(stderr_path_);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

ExitInfo RunToEnd(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env) {
  ChildProcess child(program, args, env);
  const std::optional<ExitInfo> info = child.Wait();
  EXPECT_TRUE(info.has_value()) << program << " did not end within the time-out";
  return info.value_or(ExitInfo{});
}

}  // namespace testing_support
