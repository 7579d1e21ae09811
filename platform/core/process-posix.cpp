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

  // Standard input and output on /dev/null, standard error on `stderr_write`, nothing else open.
  // 0 or an errno value.
  int Prepare(int stderr_write) {
    int rc = init_error_;
    if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions_, 1, "/dev/null", O_WRONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions_, stderr_write, 2);
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
  pid_t result;
  do {
    result = ::waitpid(pid, status, options);
  } while (result < 0 && errno == EINTR);
  return result;
}

}  // namespace

Process Process::Start(const std::string& program, const std::string& argument, int* error) {
  return Start(program, std::vector<std::string>{argument}, error);
}

Process Process::Start(const std::string& program, const std::vector<std::string>& arguments,
                       int* error) {
  // Both ends close on exec: the child gets its own copy of the write end as descriptor 2, and no
  // other child started later inherits either end (which would keep the pipe open after our
  // child ended).
  int pipe_ends[2];
  if (::pipe2(pipe_ends, O_CLOEXEC) != 0) {
    *error = errno;
    return {};
  }
  UniqueFd stderr_read(pipe_ends[0]);
  UniqueFd stderr_write(pipe_ends[1]);
  // Only our end is non-blocking: the child writes its messages whole, as to a terminal.
  if (::fcntl(stderr_read.get(), F_SETFL, O_NONBLOCK) != 0) {
    *error = errno;
    return {};
  }

  SpawnActions actions;
  SpawnAttributes attributes;
  *error = actions.Prepare(stderr_write.get());
  if (*error == 0) *error = attributes.Prepare();
  if (*error != 0) return {};

  std::vector<std::string> argument_texts;
  argument_texts.reserve(arguments.size() + 1);
  argument_texts.push_back(program);
  argument_texts.insert(argument_texts.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& text : argument_texts) argv.push_back(text.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  // glibc reports a failed exec (missing file, no permission) here, not as a child that exits.
  *error =
      posix_spawn(&pid, program.c_str(), actions.get(), attributes.get(), argv.data(), environ);
  if (*error != 0) return {};
  // From now on only the child holds the write end: the pipe reads end-of-file when it ends.
  stderr_write.reset();

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
  return Process(pid, pidfd, stderr_read.release());
}

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, 0)),
      pidfd_(std::move(other.pidfd_)),
      stderr_fd_(std::move(other.stderr_fd_)),
      stderr_text_(std::move(other.stderr_text_)),
      reaped_(std::exchange(other.reaped_, false)),
      status_(std::exchange(other.status_, std::nullopt)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    if (valid()) Reap();
    pid_ = std::exchange(other.pid_, 0);
    pidfd_ = std::move(other.pidfd_);
    stderr_fd_ = std::move(other.stderr_fd_);
    stderr_text_ = std::move(other.stderr_text_);
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
  const pid_t waited = WaitRetrying(pid_, &status, WNOHANG);
  if (waited == pid_) {
    reaped_ = true;
    status_ = status;
  } else if (waited < 0 && errno == ECHILD) {
    // Reaped behind our back (SIGCHLD ignored, or a stray wait for any child): it has ended, and
    // its status is lost.
    reaped_ = true;
    status_.reset();
  } else {
    return false;
  }
  // Whatever the child wrote before it ended is in the pipe now.
  DrainStandardError();
  return true;
}

void Process::DrainStandardError() {
  char chunk[4096];
  while (stderr_fd_.valid()) {
    const ssize_t n = ::read(stderr_fd_.get(), chunk, sizeof chunk);
    if (n > 0) {
      stderr_text_.append(chunk, static_cast<size_t>(n));
      if (stderr_text_.size() > kStandardErrorKept) {
        stderr_text_.erase(0, stderr_text_.size() - kStandardErrorKept);
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // all there is for now
    // End of file: every writer has closed its end. An error other than EAGAIN cannot be waited
    // out either; the text taken so far is all there will be.
    stderr_fd_.reset();
  }
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
