#include "platform/core/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

extern char** environ;

namespace platform {

namespace {

// Owners of the spawn attribute objects, so every exit path destroys them.
class SpawnActions {
 public:
  SpawnActions() { init_error_ = posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() {
    if (init_error_ == 0) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;

  // Standard input, output and error on /dev/null, nothing else open. 0 or an errno value.
  int Prepare() {
    int rc = init_error_;
    if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions_, 2, "/dev/null", O_WRONLY, 0);
    // Descriptors that a library opened without close-on-exec must not leak into the child.
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
    return rc;
  }
  const posix_spawn_file_actions_t* get() const { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  int init_error_ = 0;
};

class SpawnAttributes {
 public:
  SpawnAttributes() { init_error_ = posix_spawnattr_init(&attr_); }
  ~SpawnAttributes() {
    if (init_error_ == 0) posix_spawnattr_destroy(&attr_);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;

  // No blocked signals, and the stop and pipe signals at their default action: an ignored or
  // blocked signal would otherwise be inherited across exec and change how the child ends.
  int Prepare() {
    if (init_error_ != 0) return init_error_;
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGCHLD}) sigaddset(&defaults, sig);
    int rc = posix_spawnattr_setsigmask(&attr_, &none);
    if (rc == 0) rc = posix_spawnattr_setsigdefault(&attr_, &defaults);
    if (rc == 0)
      rc = posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    return rc;
  }
  const posix_spawnattr_t* get() const { return &attr_; }

 private:
  posix_spawnattr_t attr_{};
  int init_error_ = 0;
};

pid_t WaitRetrying(pid_t pid, int* status, int options) {
  pid_t r;
  do {
    r = ::waitpid(pid, status, options);
  } while (r < 0 && errno == EINTR);
  return r;
}

}  // namespace

Process Process::Start(const std::string& program, const std::string& argument, int* error) {
  SpawnActions actions;
  SpawnAttributes attributes;
  *error = actions.Prepare();
  if (*error == 0) *error = attributes.Prepare();
  if (*error != 0) return {};

  std::string program_arg = program;
  std::string text_arg = argument;
  char* const argv[] = {program_arg.data(), text_arg.data(), nullptr};
  pid_t pid = 0;
  // glibc reports a failed exec (missing file, no permission) here, not as a child that exits.
  *error = posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv, environ);
  if (*error != 0) return {};

  // Nobody else reaps our children, so until we wait for it this id can only name our child, and
  // the pidfd opened now names it for good.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) {
    // Without a pidfd the child could not be stopped safely later: take it down now, while its id
    // is still certainly its own.
    *error = errno;
    ::kill(pid, SIGKILL);
    int status = 0;
    WaitRetrying(pid, &status, 0);
    return {};
  }
  return Process(pid, pidfd);
}

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)),
      pidfd_(std::move(other.pidfd_)),
      reaped_(std::exchange(other.reaped_, false)),
      status_(std::exchange(other.status_, std::nullopt)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    if (valid()) Reap();
    pid_ = std::exchange(other.pid_, 0);
    pidfd_ = std::move(other.pidfd_);
    reaped_ = std::exchange(other.reaped_, false);
    status_ = std::exchange(other.status_, std::nullopt);
  }
  return *this;
}

Process::~Process() {
  if (valid()) Reap();
}

bool Process::Reap() {
  if (reaped_) return true;
  int status = 0;
  const pid_t r = WaitRetrying(pid_, &status, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    status_ = status;
    return true;
  }
  if (r < 0 && errno == ECHILD) {
    // Reaped behind our back (SIGCHLD ignored, or a stray wait for any child): it has ended, and
    // its status is lost.
    reaped_ = true;
    status_.reset();
    return true;
  }
  return false;
}

bool Process::Running() { return valid() && !Reap(); }

std::optional<int> Process::WaitStatus() const { return status_; }

KillResult Process::Kill(int* error) {
  *error = 0;
  // An ended child is reaped first and never signalled, not even as a zombie.
  if (!valid() || Reap()) return KillResult::kNotRunning;
  if (::syscall(SYS_pidfd_send_signal, pidfd_.get(), SIGKILL, nullptr, 0) == 0) {
    return KillResult::kKilled;
  }
  if (errno == ESRCH) return KillResult::kNotRunning;  // the pidfd's process is gone
  *error = errno;
  return KillResult::kFailed;
}

}  // namespace platform
