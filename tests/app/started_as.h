// How a child process was started, as the kernel shows it to its parent.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/app/wait_until.h"

namespace testing_support {

// The name stand_in_worker takes once it runs its own code.
inline constexpr char kStandInReady[] = "stand-in ready";

// For a running stand_in_worker, once it is ready: its argv, its working folder, what its
// descriptors 0, 1 and 2 point at ("pipe" for a pipe) and the number of its other descriptors.
inline std::vector<std::string> StartedAs(pid_t pid) {
  const std::filesystem::path proc = "/proc/" + std::to_string(pid);
  WaitUntil([&] {
    std::string name;
    return std::getline(std::ifstream(proc / "comm"), name) && name == kStandInReady;
  });
  std::vector<std::string> fields;
  std::ifstream command_line(proc / "cmdline", std::ios::binary);
  for (std::string field; std::getline(command_line, field, '\0');) fields.push_back(field);
  fields.push_back(std::filesystem::read_symlink(proc / "cwd").string());
  int others = 0;
  for (const auto& entry : std::filesystem::directory_iterator(proc / "fd")) {
    others += std::stoi(entry.path().filename().string()) > 2 ? 1 : 0;
  }
  for (const char* fd : {"0", "1", "2"}) {
    const std::string target = std::filesystem::read_symlink(proc / "fd" / fd).string();
    fields.push_back(target.starts_with("pipe:") ? "pipe" : target);
  }
  fields.push_back(std::to_string(others));
  return fields;
}

// What StartedAs shows for a worker started as it must be: `program` with the one argument text
// `argument`, in this process's working folder, standard input and output on /dev/null, standard
// error on a pipe, and nothing else open.
inline std::vector<std::string> WorkerStart(const std::string& program,
                                            const std::string& argument) {
  return {program, argument, std::filesystem::current_path().string(), "/dev/null", "/dev/null",
          "pipe",  "0"};
}

}  // namespace testing_support
