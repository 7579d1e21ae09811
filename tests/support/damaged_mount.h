// Damaged media for end-to-end tests: an image file served through the damagedfs FUSE file
// system, with byte ranges that fail to read (EIO) and ranges that read slowly.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/env.h"
#include "tests/support/temp_dir.h"

namespace testing_support {

// 0-based bytes [start, start + length).
struct ByteRange {
  int64_t start = 0;
  int64_t length = 0;
};

// Bytes that become unreadable once a read request has asked for byte `at` (that request still
// reads them well): damage that spreads while the medium is read.
struct Worsening {
  ByteRange range;
  int64_t at = 0;
};

// One read request as the file system received and answered it.
struct ReadRequest {
  int64_t offset = 0;
  int64_t size = 0;
  int64_t result = 0;  // bytes delivered, or a negative errno value
};

struct DamagedMountOptions {
  std::string image_path;      // the file whose bytes are served
  std::vector<ByteRange> bad;  // reads of these bytes fail with EIO
  std::vector<Worsening> worsening;
  // Reads touching these bytes return half of what they could, with no error (direct I/O only).
  std::vector<ByteRange> short_reads;
  std::vector<ByteRange> slow;  // reads touching these bytes first sleep slow_usec
  int64_t slow_usec = 100000;
  // false: direct I/O, errors exact to the byte (a read into a bad range returns the good
  // prefix, the next read fails). true: reads go through the page cache, and every page that
  // holds a bad byte fails whole.
  bool page_cache = false;
  std::string name = "image";  // the served file's name in the mount
};

// Why FUSE mounts cannot be made here, or "" when they can.
std::string FuseUnavailableReason();

// A running damagedfs mount. Unmounts and ends the file system process when destroyed.
class DamagedMount {
  struct Key {
    explicit Key() = default;
  };

 public:
  // Mounts `options.image_path` below a new temporary folder and waits (10 s at most) until the
  // file is served with the image's size. nullptr with *error set when that fails.
  static std::unique_ptr<DamagedMount> Start(const DamagedMountOptions& options,
                                             std::string* error);

  explicit DamagedMount(Key) {}
  ~DamagedMount();
  DamagedMount(const DamagedMount&) = delete;
  DamagedMount& operator=(const DamagedMount&) = delete;

  // The served file.
  const std::string& file_path() const { return file_path_; }
  const std::string& mount_point() const { return mount_point_; }
  // Turns the slow ranges' delay on or off for the reads that follow.
  void SetSlow(bool on);
  // What the file system process printed so far, for failure messages.
  std::string Log() const;
  // Every read request served so far, oldest first.
  std::vector<ReadRequest> ReadRequests() const;

 private:
  bool Launch(const DamagedMountOptions& options, std::string* error);
  bool WaitUntilServed(int64_t size, std::string* error);
  bool IsMounted() const;
  void Unmount();
  void EndProcess();

  TempDir dir_;  // declared first: removed only after the unmount
  std::string mount_point_;
  std::string file_path_;
  std::string log_path_;
  std::string trace_path_;
  dev_t parent_dev_ = 0;
  pid_t pid_ = -1;
};

}  // namespace testing_support

// Skips the current test where FUSE is unavailable, or fails it when the variable CI is set.
#define DAMAGED_MOUNT_REQUIRE_FUSE()                                                  \
  do {                                                                                \
    const std::string fuse_unavailable_ = ::testing_support::FuseUnavailableReason(); \
    if (!fuse_unavailable_.empty()) SKIP_OR_FAIL_IN_CI(fuse_unavailable_);            \
  } while (0)
