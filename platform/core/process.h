// Child processes that are started without a shell and stopped without risk to other processes.
//
// A process id is given to another process as soon as its owner has been reaped, so a signal sent
// by id could hit a stranger. A Process therefore holds a pidfd, which names exactly the child it
// was opened for, and signals only through it; and it reaps the child itself (waitpid WNOHANG),
// so an ended child does not linger as a zombie.
//
// The child's standard error goes into a pipe whose read end the Process holds, so a child that
// fails can be reported with its own words.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/unique_fd.h"

namespace platform {

// What Kill did.
enum class KillResult {
  kKilled,      // SIGKILL was sent to the running child
  kNotRunning,  // the child had already ended: no signal was sent to anyone
  kFailed,      // the signal could not be sent; *error says why
};

class Process {
 public:
  // Starts `program` (a path; no search in PATH, no shell) with exactly one argument, `argument`,
  // so blanks, quotes and semicolons in it arrive untouched. The child gets /dev/null as standard
  // input and output, a pipe to this Process as standard error, the working folder and
  // environment of this process, and no other open files. Returns a Process that is not valid()
  // with *error set to an errno value when the program cannot be started.
  static Process Start(const std::string& program, const std::string& argument, int* error);
  // The same with `arguments` as argv[1..], each passed untouched.
  static Process Start(const std::string& program, const std::vector<std::string>& arguments,
                       int* error);

  Process() = default;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  // Reaps the child if it has ended; never stops it: a child may outlive its Process.
  ~Process();

  bool valid() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The pidfd: becomes readable when the child ends, so an event loop can watch it. -1 when not
  // valid().
  int pidfd() const { return pidfd_.get(); }

  // The read end of the child's standard error (non-blocking), for an event loop to watch while
  // the child writes; -1 when not valid() or once the child's end has been closed and drained.
  int stderr_fd() const { return stderr_fd_.get(); }
  // Takes what the child has written to standard error so far, without waiting. Only the last
  // kStandardErrorKept bytes are kept, so a chatty child costs bounded memory; and the child
  // never blocks on a full pipe as long as someone calls this when stderr_fd() turns readable.
  void DrainStandardError();
  // What DrainStandardError has taken so far (the end of it, see kStandardErrorKept).
  const std::string& StandardError() const { return stderr_text_; }
  static constexpr size_t kStandardErrorKept = 4096;

  // True while the child runs. Once it has ended this reaps it and takes the rest of its standard
  // error, and keeps reporting false.
  bool Running();
  // The wait status (as from waitpid) once this object has reaped the child; std::nullopt before,
  // and when something else reaped it.
  std::optional<int> WaitStatus() const;

  // Sends SIGKILL, if and only if the child still runs. Does not wait for it to end (a process
  // stuck in a read from a failing disc may take a while to go); call Running() later to reap it.
  KillResult Kill(int* error);

 private:
  Process(pid_t pid, int pidfd, int stderr_fd) : pid_(pid), pidfd_(pidfd), stderr_fd_(stderr_fd) {}
  // Reaps the child if it has ended; true when it is reaped (now or before).
  bool Reap();

  pid_t pid_ = 0;
  UniqueFd pidfd_;
  UniqueFd stderr_fd_;
  std::string stderr_text_;
  bool reaped_ = false;
  std::optional<int> status_;
};

}  // namespace platform
