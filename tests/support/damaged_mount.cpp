#include "tests/support/damaged_mount.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/core/unique_fd.h"

extern char** environ;

namespace testing_support {

namespace {

constexpr auto kMountTimeout = std::chrono::seconds(10);
constexpr auto kExitTimeout = std::chrono::seconds(10);
constexpr auto kPollPause = std::chrono::milliseconds(10);

std::string JoinRanges(const std::vector<ByteRange>& ranges) {
  std::string text;
  for (const ByteRange& r : ranges) {
    if (!text.empty()) text += ',';
    text += std::to_string(r.start) + ":" + std::to_string(r.length);
  }
  return text;
}

std::string DescribeStatus(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "wait status " + std::to_string(status);
}

// Runs a program found on PATH to its end; its exit status, or -1 when it could not run.
int RunQuietly(const std::vector<std::string>& args) {
  std::vector<std::string> copy = args;
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace

std::string FuseUnavailableReason() {
  const platform::UniqueFd fuse(open("/dev/fuse", O_RDWR | O_CLOEXEC));
  if (!fuse.valid()) {
    return std::string("/dev/fuse cannot be opened (") + std::strerror(errno) +
           "): the damaged-media tests need FUSE";
  }
  if (geteuid() != 0 && !OnPath("fusermount3")) {
    return "fusermount3 is not on PATH: the damaged-media tests need it to mount without root";
  }
  return {};
}

std::unique_ptr<DamagedMount> DamagedMount::Start(const DamagedMountOptions& options,
                                                  std::string* error) {
  struct stat image {};
  if (stat(options.image_path.c_str(), &image) != 0) {
    *error = "cannot stat the image " + options.image_path + ": " + std::strerror(errno);
    return nullptr;
  }
  auto mount = std::make_unique<DamagedMount>(Key());
  if (!mount->Launch(options, error) || !mount->WaitUntilServed(image.st_size, error)) {
    return nullptr;  // the destructor cleans up whatever was started
  }
  return mount;
}

DamagedMount::~DamagedMount() {
  Unmount();
  EndProcess();
  if (IsMounted()) {
    ADD_FAILURE() << "damagedfs mount " << mount_point_ << " is still present after cleanup";
  }
}

bool DamagedMount::Launch(const DamagedMountOptions& options, std::string* error) {
  mount_point_ = dir_.Path("mnt");
  file_path_ = mount_point_ + "/" + options.name;
  log_path_ = dir_.Path("damagedfs.log");
  trace_path_ = dir_.Path("requests.log");
  if (mkdir(mount_point_.c_str(), 0700) != 0) {
    *error = "cannot create the mount point " + mount_point_ + ": " + std::strerror(errno);
    return false;
  }
  struct stat parent {};
  if (stat(dir_.path().c_str(), &parent) != 0) {
    *error = "cannot stat " + dir_.path() + ": " + std::strerror(errno);
    return false;
  }
  parent_dev_ = parent.st_dev;

  std::vector<std::string> args = {DAMAGEDFS_PATH, "--image", options.image_path, "--name",
                                   options.name};
  args.insert(args.end(), {"--trace", trace_path_});
  if (!options.bad.empty()) args.insert(args.end(), {"--bad", JoinRanges(options.bad)});
  if (!options.short_reads.empty()) {
    args.insert(args.end(), {"--short", JoinRanges(options.short_reads)});
  }
  if (!options.worsening.empty()) {
    std::string list;
    for (const Worsening& w : options.worsening) {
      if (!list.empty()) list += ',';
      list += JoinRanges({w.range}) + "@" + std::to_string(w.at);
    }
    args.insert(args.end(), {"--worsen", list});
  }
  if (!options.slow.empty()) {
    args.insert(args.end(), {"--slow", JoinRanges(options.slow), "--slow-usec",
                             std::to_string(options.slow_usec)});
  }
  if (options.page_cache) args.push_back("--cache");
  // Should this process die, the file system unmounts itself instead of lingering.
  args.insert(args.end(), {"--parent", std::to_string(getpid()), mount_point_});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (const int rc = posix_spawn_file_actions_init(&actions); rc != 0) {
    *error = std::string("posix_spawn_file_actions_init: ") + std::strerror(rc);
    return false;
  }
  int rc = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (rc == 0) {
    rc = posix_spawn_file_actions_addopen(&actions, 1, log_path_.c_str(),
                                          O_WRONLY | O_CREAT | O_TRUNC, 0600);
  }
  if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (rc == 0) rc = posix_spawn(&pid_, DAMAGEDFS_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    *error = std::string("cannot start " DAMAGEDFS_PATH ": ") + std::strerror(rc);
    return false;
  }
  return true;
}

bool DamagedMount::WaitUntilServed(int64_t size, std::string* error) {
  const auto deadline = std::chrono::steady_clock::now() + kMountTimeout;
  for (;;) {
    int status = 0;
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      *error = "damagedfs ended (" + DescribeStatus(status) + ") before serving " + file_path_ +
               "; its output:\n" + Log();
      return false;
    }
    struct stat st {};
    if (IsMounted() && stat(file_path_.c_str(), &st) == 0 && st.st_size == size) return true;
    if (std::chrono::steady_clock::now() >= deadline) {
      *error = "damagedfs did not serve " + file_path_ + " with " + std::to_string(size) +
               " bytes within " + std::to_string(kMountTimeout.count()) + " s; its output:\n" +
               Log();
      return false;
    }
    std::this_thread::sleep_for(kPollPause);
  }
}

bool DamagedMount::IsMounted() const {
  if (mount_point_.empty()) return false;
  struct stat st {};
  if (stat(mount_point_.c_str(), &st) != 0) return errno != ENOENT;  // ENOTCONN: a dead mount
  return st.st_dev != parent_dev_;
}

void DamagedMount::SetSlow(bool on) {
  if (pid_ > 0 && kill(pid_, on ? SIGUSR2 : SIGUSR1) != 0) {
    ADD_FAILURE() << "cannot signal damagedfs: " << std::strerror(errno);
  }
}

std::string DamagedMount::Log() const {
  std::ifstream in(log_path_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<ReadRequest> DamagedMount::ReadRequests() const {
  std::vector<ReadRequest> requests;
  std::ifstream in(trace_path_);
  ReadRequest r;
  while (in >> r.offset >> r.size >> r.result) requests.push_back(r);
  EXPECT_TRUE(in.eof()) << "unreadable request trace " << trace_path_;
  return requests;
}

void DamagedMount::Unmount() {
  if (!IsMounted()) return;
  // Detaching never waits for files still open on the mount.
  if (umount2(mount_point_.c_str(), MNT_DETACH) == 0) return;
  const int umount_error = errno;
  if (RunQuietly({"fusermount3", "-u", "-z", mount_point_}) != 0) {
    ADD_FAILURE() << "cannot unmount " << mount_point_
                  << ": umount2: " << std::strerror(umount_error)
                  << ", and fusermount3 -u -z failed";
  }
}

void DamagedMount::EndProcess() {
  if (pid_ <= 0) return;
  if (kill(pid_, SIGTERM) != 0 && errno != ESRCH) {
    ADD_FAILURE() << "cannot signal damagedfs: " << std::strerror(errno);
  }
  const auto deadline = std::chrono::steady_clock::now() + kExitTimeout;
  int status = 0;
  pid_t r = 0;
  while ((r = waitpid(pid_, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPollPause);
  }
  if (r == 0) {
    kill(pid_, SIGKILL);
    r = waitpid(pid_, &status, 0);
    ADD_FAILURE() << "damagedfs did not end within " << kExitTimeout.count()
                  << " s of SIGTERM and was killed; its output:\n"
                  << Log();
  } else if (r < 0) {
    ADD_FAILURE() << "cannot reap damagedfs: " << std::strerror(errno);
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ADD_FAILURE() << "damagedfs ended with " << DescribeStatus(status) << "; its output:\n"
                  << Log();
  }
  pid_ = -1;
}

}  // namespace testing_support
