// Runs a program as a child process for end-to-end tests.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct ExitInfo {
  bool exited = false;  // ended by exit(); otherwise by a signal
  int code = -1;        // exit status when exited
  int signal = 0;       // the ending signal otherwise
};

class ChildProcess {
 public:
  // Starts `program` with `args` (argv[1..]); `env` entries are set on top of this process's
  // environment (an empty value removes the variable). stdin, stdout and stderr go to /dev/null
  // unless `capture_stderr`, which collects standard error in a file read by stderr_text().
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {}, bool capture_stderr = false);
  ~ChildProcess();  // kills and reaps a child that still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  // Waits for the end; std::nullopt when it did not end within `timeout` (it is then left running).
  std::optional<ExitInfo> Wait(std::chrono::milliseconds timeout = std::chrono::seconds(120));
  bool Running();
  void Signal(int sig);
  std::string stderr_text() const;

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  ExitInfo info_;
  std::string stderr_path_;
};

// Runs to the end (120 s at most, else the test fails) and returns how it ended.
ExitInfo RunToEnd(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env = {});

}  // namespace testing_support
