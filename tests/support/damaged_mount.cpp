#include "tests/support/damaged_mount.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/core/unique_fd.h"

namespace testing_support {

DamagedMount::DamagedMount(const std::string& damagedfs, const TempDir& dir,
                           const std::string& image, const Ranges& bad, const Ranges& short_reads,
                           const Ranges& slow, long slow_usec)
    : folder_(dir.path()), trace_(dir.Path("requests")) {
  ::mkdir(dir.Path("mnt").c_str(), 0700);
  std::vector<std::string> args = {"--image", image,      "--trace",
                                   trace_,    "--parent", std::to_string(::getpid())};
  if (!slow.empty()) args.insert(args.end(), {"--slow-usec", std::to_string(slow_usec)});
  for (const auto& [option, ranges] :
       {std::pair{"--bad", &bad}, {"--short", &short_reads}, {"--slow", &slow}}) {
    std::string text;
    for (const auto& [start, length] : *ranges) {
      text += std::to_string(start) + ":" + std::to_string(length) + ",";
    }
    if (!text.empty()) args.insert(args.end(), {option, text.substr(0, text.size() - 1)});
  }
  args.push_back(dir.Path("mnt"));
  fs_.emplace(damagedfs, args, std::map<std::string, std::string>{}, true);
  // Served once the mount shows the image's size; given up when damagedfs ends or in 20 s.
  const uintmax_t image_size = std::filesystem::file_size(image);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!served_ && fs_->Running() && std::chrono::steady_clock::now() < deadline) {
    std::error_code ignored;
    served_ = std::filesystem::file_size(file(), ignored) == image_size;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

DamagedMount::~DamagedMount() {
  if (killed_) return;
  fs_->Signal(SIGTERM);
  // Ended by SIGTERM, damagedfs unmounts and exits with 0.
  const std::optional<ExitInfo> end = fs_->Wait(std::chrono::seconds(10));
  EXPECT_TRUE(end && end->exited && end->code == 0) << "damagedfs: " << fs_->stderr_text();
}

void DamagedMount::KillServer() {
  fs_->Signal(SIGKILL);
  killed_ = fs_->Wait(std::chrono::seconds(10)).has_value();
  const ExitInfo detached = RunToEnd("/usr/bin/fusermount3", {"-u", "-z", folder_ + "/mnt"});
  EXPECT_TRUE(detached.exited && detached.code == 0) << "fusermount3 -u -z failed";
}

bool DamagedMount::AnsweredShort() const {
  std::ifstream trace(trace_);
  int64_t offset = 0, size = 0, result = 0;
  while (trace >> offset >> size >> result) {
    if (result > 0 && result < size) return true;
  }
  return false;
}

int64_t DamagedMount::FailedRequests() const {
  std::ifstream trace(trace_);
  int64_t offset = 0, size = 0, result = 0, failed = 0;
  while (trace >> offset >> size >> result) failed += result < 0 ? 1 : 0;
  return failed;
}

bool FuseAvailable() { return platform::UniqueFd(::open("/dev/fuse", O_RDWR | O_CLOEXEC)).valid(); }

}  // namespace testing_support
