// The damagedfs fixture serving an image as a damaged medium, for the end-to-end tests.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace testing_support {

using Ranges = std::vector<std::pair<int64_t, int64_t>>;  // 0-based start and length

// `image` served read-only as file() by the damagedfs program at `damagedfs`, mounted on
// dir/mnt. Its `bad` ranges fail with EIO at their first byte, its `short_reads` ranges answer
// every read with half of what it asked for, and reads of its `slow` ranges first wait
// `slow_usec` microseconds. Unmounted, and the file system ended, when the object goes.
class DamagedMount {
 public:
  DamagedMount(const std::string& damagedfs, const TempDir& dir, const std::string& image,
               const Ranges& bad, const Ranges& short_reads, const Ranges& slow = {},
               long slow_usec = 0);
  ~DamagedMount();
  DamagedMount(const DamagedMount&) = delete;
  DamagedMount& operator=(const DamagedMount&) = delete;

  // The server dies as a crashed one does: reads then fail with ENOTCONN (ECONNABORTED for one it
  // had in hand). The dead mount is detached, so that the folder can be mounted again.
  void KillServer();

  bool served() const { return served_; }
  std::string file() const { return folder_ + "/mnt/image"; }
  std::string log() const { return fs_->stderr_text(); }
  // The file where damagedfs logs each read request: offset, size, result.
  const std::string& trace() const { return trace_; }
  // Whether a read request came back with fewer bytes than it asked for, and no error.
  bool AnsweredShort() const;
  // Requests that failed since the file system started.
  int64_t FailedRequests() const;

 private:
  std::string folder_;
  std::string trace_;
  std::optional<ChildProcess> fs_;
  bool served_ = false;
  bool killed_ = false;
};

// Whether /dev/fuse can be opened, which damagedfs needs.
bool FuseAvailable();

}  // namespace testing_support
