#include "tests/support/damaged_mount.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "platform/core/unique_fd.h"

namespace testing_support {

namespace {

std::string Joined(const Ranges& ranges) {
  std::string text;
  for (const auto& [start, length] : ranges) {
    if (!text.empty()) text += ',';
    text += std::to_string(start) + ":" + std::to_string(length);
  }
  return text;
}

}  // namespace

DamagedMount::DamagedMount(const std::string& damagedfs, const TempDir& dir,
                           const std::string& image, const Ranges& bad, const Ranges& short_reads,
                           const Ranges& slow, long slow_usec)
    : folder_(dir.path()), trace_(dir.Path("requests")) {
  ::mkdir(dir.Path("mnt").c_str(), 0700);
  std::vector<std::string> args = {"--image", image,      "--trace",
                                   trace_,    "--parent", std::to_string(::getpid())};
  if (!bad.empty()) args.insert(args.end(), {"--bad", Joined(bad)});
  if (!short_reads.empty()) args.insert(args.end(), {"--short", Joined(short_reads)});
  if (!slow.empty()) {
    args.insert(args.end(), {"--slow", Joined(slow), "--slow-usec", std::to_string(slow_usec)});
  }
  args.push_back(dir.Path("mnt"));
  fs_.emplace(damagedfs, args, std::map<std::string, std::string>{}, true);
  struct stat image_meta {};
  ::stat(image.c_str(), &image_meta);
  // Served once the mount shows the image's size; given up when damagedfs ends or in 20 s.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (fs_->Running() && std::chrono::steady_clock::now() < deadline) {
    struct stat st {};
    if (::stat(file().c_str(), &st) == 0 && st.st_size == image_meta.st_size) {
      served_ = true;
      break;
    }
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
